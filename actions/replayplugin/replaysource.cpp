#include "replaysource.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

namespace {

// Fallback when neither the environment nor the client sets an interval.
constexpr int DefaultIntervalMs = 1000;
constexpr int MinimumIntervalMs = 10;

} // namespace

ReplayPositionSource::ReplayPositionSource(const QList<QGeoCoordinate> &route, bool loop,
                                           QObject *parent)
    : QGeoPositionInfoSource(parent), m_route(route), m_loop(loop)
{
    connect(&m_updateTimer, &QTimer::timeout, this, &ReplayPositionSource::onTick);
    m_requestTimer.setSingleShot(true);
    connect(&m_requestTimer, &QTimer::timeout, this, &ReplayPositionSource::onRequestDue);
}

QList<QGeoCoordinate> ReplayPositionSource::loadRoute(const QString &path, bool *ok)
{
    QList<QGeoCoordinate> route;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (ok)
            *ok = false;
        return route;
    }
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(','));
        bool latOk = false;
        bool lonOk = false;
        const double latitude = fields.value(0).trimmed().toDouble(&latOk);
        const double longitude = fields.value(1).trimmed().toDouble(&lonOk);
        QGeoCoordinate coordinate;
        if (latOk && lonOk)
            coordinate = QGeoCoordinate(latitude, longitude);
        route.append(coordinate); // stays invalid when the line does not parse
    }
    if (ok)
        *ok = true;
    return route;
}

void ReplayPositionSource::setUpdateInterval(int msec)
{
    if (msec != 0 && msec < MinimumIntervalMs)
        msec = MinimumIntervalMs;
    QGeoPositionInfoSource::setUpdateInterval(msec);
    if (m_updateTimer.isActive())
        m_updateTimer.start(effectiveInterval());
}

QGeoPositionInfo ReplayPositionSource::lastKnownPosition(bool) const
{
    return m_lastValid;
}

QGeoPositionInfoSource::PositioningMethods ReplayPositionSource::supportedPositioningMethods() const
{
    return SatellitePositioningMethods;
}

int ReplayPositionSource::minimumUpdateInterval() const
{
    return MinimumIntervalMs;
}

QGeoPositionInfoSource::Error ReplayPositionSource::error() const
{
    return m_error;
}

// VELMORA_REPLAY_INTERVAL_MS, when set to a positive number, overrides the
// interval asked for by the client, so tests and demos need not wait
// seconds between fixes.
int ReplayPositionSource::effectiveInterval() const
{
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue("VELMORA_REPLAY_INTERVAL_MS", &ok);
    if (ok && fromEnvironment > 0)
        return fromEnvironment;
    return updateInterval() > 0 ? updateInterval() : DefaultIntervalMs;
}

QVariant ReplayPositionSource::backendProperty(const QString &name) const
{
    if (name == QLatin1String("routeEnded"))
        return !hasNextFix();
    return QGeoPositionInfoSource::backendProperty(name);
}

bool ReplayPositionSource::hasNextFix() const
{
    return m_next < m_route.size() || (m_loop && !m_route.isEmpty());
}

void ReplayPositionSource::startUpdates()
{
    m_error = NoError;
    m_updateTimer.start(effectiveInterval());
}

void ReplayPositionSource::stopUpdates()
{
    m_updateTimer.stop();
}

void ReplayPositionSource::requestUpdate(int timeout)
{
    m_error = NoError;
    if (timeout < 0 || (timeout > 0 && timeout < MinimumIntervalMs)) {
        raiseError(UpdateTimeoutError);
        return;
    }
    // Answered from the event loop, never from inside the caller.
    m_requestTimer.start(0);
}

void ReplayPositionSource::onTick()
{
    if (!hasNextFix()) {
        // Nothing more to play: report it once, as a receiver without a fix
        // would, and fall silent.
        m_updateTimer.stop();
        raiseError(UpdateTimeoutError);
        return;
    }
    deliverNextFix();
}

void ReplayPositionSource::onRequestDue()
{
    if (!hasNextFix()) {
        raiseError(UpdateTimeoutError);
        return;
    }
    deliverNextFix();
}

void ReplayPositionSource::deliverNextFix()
{
    if (m_next >= m_route.size())
        m_next = 0;
    const QGeoCoordinate coordinate = m_route.at(m_next++);

    QGeoPositionInfo info;
    if (coordinate.isValid()) {
        info = QGeoPositionInfo(coordinate, QDateTime::currentDateTimeUtc());
        m_lastValid = info;
    }
    emit positionUpdated(info);
}

void ReplayPositionSource::raiseError(Error error)
{
    m_error = error;
    emit errorOccurred(error);
}
