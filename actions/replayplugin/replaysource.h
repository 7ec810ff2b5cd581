#ifndef VELMORA_REPLAYSOURCE_H
#define VELMORA_REPLAYSOURCE_H

#include <QGeoCoordinate>
#include <QGeoPositionInfoSource>
#include <QList>
#include <QTimer>

// A position source that plays back a recorded route, one fix per update
// interval, so the application can be run and tested without a GPS
// receiver. An invalid coordinate in the route is delivered as an invalid
// position, the way a receiver that lost its fix reports it.
//
// A route played once ends: from the moment its last fix has been delivered,
// backendProperty("routeEnded") is true and no position will come any more;
// the next regular update reports UpdateTimeoutError (Qt's word for "no
// further regular updates") and the updates stop.
class ReplayPositionSource : public QGeoPositionInfoSource
{
    Q_OBJECT

public:
    // route: the fixes in order; loop: start again after the last one.
    ReplayPositionSource(const QList<QGeoCoordinate> &route, bool loop, QObject *parent);

    // Reads a route file: one fix per line as "latitude,longitude", blank
    // lines and lines starting with '#' skipped. A line that does not hold a
    // valid coordinate (e.g. "nan,nan" or ",") is an invalid fix.
    static QList<QGeoCoordinate> loadRoute(const QString &path, bool *ok = nullptr);

    void setUpdateInterval(int msec) override;
    QGeoPositionInfo lastKnownPosition(bool fromSatellitePositioningMethodsOnly = false) const override;
    PositioningMethods supportedPositioningMethods() const override;
    int minimumUpdateInterval() const override;
    Error error() const override;
    QVariant backendProperty(const QString &name) const override;

public slots:
    void startUpdates() override;
    void stopUpdates() override;
    void requestUpdate(int timeout = 0) override;

private:
    int effectiveInterval() const;
    bool hasNextFix() const;
    void deliverNextFix();
    void onTick();
    void onRequestDue();
    void raiseError(Error error);

    QList<QGeoCoordinate> m_route;
    bool m_loop;
    int m_next = 0;
    QGeoPositionInfo m_lastValid;
    Error m_error = NoError;
    QTimer m_updateTimer;
    QTimer m_requestTimer;
};

#endif
