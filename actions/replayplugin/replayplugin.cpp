#include "replaysource.h"

#include <QGeoPositionInfoSourceFactory>
#include <QObject>
#include <QtGlobal>

#ifndef VELMORA_REPLAY_DEFAULT_FILE
#define VELMORA_REPLAY_DEFAULT_FILE ""
#endif

// Qt Positioning plugin "velmora-replay". Its metadata (plugin.json) gives it
// priority 2000, above the system's sources (geoclue2 1000, nmea 900), so a
// program that finds it on its plugin path gets it from
// QGeoPositionInfoSource::createDefaultSource(). It is also marked
// "Testable": Qt Positioning skips plugins marked otherwise while a QtTest
// program runs.
class ReplayPositionPlugin : public QObject, public QGeoPositionInfoSourceFactory
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.qt.position.sourcefactory/6.0" FILE "plugin.json")
    Q_INTERFACES(QGeoPositionInfoSourceFactory)

public:
    // The route comes from VELMORA_REPLAY_FILE, else from the file shipped
    // next to the plugin's sources. VELMORA_REPLAY_LOOP=0 plays it once.
    QGeoPositionInfoSource *positionInfoSource(QObject *parent, const QVariantMap &) override
    {
        QString path = qEnvironmentVariable("VELMORA_REPLAY_FILE");
        if (path.isEmpty())
            path = QStringLiteral(VELMORA_REPLAY_DEFAULT_FILE);
        bool ok = false;
        const QList<QGeoCoordinate> route = ReplayPositionSource::loadRoute(path, &ok);
        if (!ok)
            qWarning("velmora-replay: cannot read route file %s", qPrintable(path));
        const bool loop = qEnvironmentVariable("VELMORA_REPLAY_LOOP") != QLatin1String("0");
        return new ReplayPositionSource(route, loop, parent);
    }

    QGeoSatelliteInfoSource *satelliteInfoSource(QObject *, const QVariantMap &) override
    {
        return nullptr;
    }

    QGeoAreaMonitorSource *areaMonitor(QObject *, const QVariantMap &) override
    {
        return nullptr;
    }
};

#include "replayplugin.moc"
