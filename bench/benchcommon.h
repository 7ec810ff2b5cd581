#pragma once

// Small helpers shared by the benchmark programs: a median timer, a station
// document like the service writes, and a loopback port that accepts
// connections and never answers, so a window under test sends its start-up
// requests without ever getting an error dialog.

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

namespace bench {

// Wall time of one call of fn, in microseconds.
inline double elapsedMicros(const std::function<void()> &fn)
{
    QElapsedTimer t;
    t.start();
    fn();
    return double(t.nsecsElapsed()) / 1000.0;
}

inline double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Medians of `runs` calls each of ours and floor, in microseconds, the two
// called in turn so that a change in the machine's load while they run
// weighs on both alike.
inline std::pair<double, double> medianMicrosInTurn(int runs, const std::function<void()> &ours,
                                                    const std::function<void()> &floor)
{
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
        a.push_back(elapsedMicros(ours));
        b.push_back(elapsedMicros(floor));
    }
    return {median(a), median(b)};
}

// A nearby-search reply with `count` stations, dated within the last weeks so
// some prices are stale, the way the service writes them.
inline QByteArray stationsDocument(int count)
{
    static const char *brands[] = {"Emo", "Top", "Esso", "Amber", "Maxol", "Campus", "Independent",
                                   "Great Gas", "Shell", "Topaz", "Texaco"};
    const QDateTime now = QDateTime::currentDateTime();
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<stations>";
    for (int i = 0; i < count; ++i) {
        const QByteArray stamp = now.addSecs(-qint64(i % 40) * 86400 - i).toString("yyyy-MM-dd hh:mm:ss").toLatin1();
        doc += "<station ID=\"" + QByteArray::number(1000 + i) + "\" name=\"" + brands[i % 11] + " Station "
               + QByteArray::number(i) + "\" brand=\"" + brands[(i / 3) % 11]
               + "\" addr1=\"" + QByteArray::number(i % 200) + " Main Street\" addr2=\"Town "
               + QByteArray::number(i % 97) + "\" petrolPrice=\"" + QByteArray::number(170.0 + (i * 7 % 150) / 10.0, 'f', 1)
               + "\" dieselPrice=\"" + QByteArray::number(160.0 + (i * 11 % 150) / 10.0, 'f', 1)
               + "\" petrolDateUpdated=\"" + stamp + "\" dieselDateUpdated=\"" + stamp + "\" Distance=\""
               + QByteArray::number(i * 0.013, 'f', 3) + "\"/>";
    }
    return doc + "</stations>";
}

// Points the settings store at a fresh directory; call before QApplication.
inline QTemporaryDir *isolateSettings()
{
    auto *dir = new QTemporaryDir;
    qputenv("XDG_CONFIG_HOME", dir->path().toLocal8Bit());
    return dir;
}

// Listens on 127.0.0.1 and keeps every connection open without answering.
inline QTcpServer *silentServer()
{
    auto *server = new QTcpServer;
    server->listen(QHostAddress::LocalHost, 0);
    QObject::connect(server, &QTcpServer::newConnection, server, [server] {
        while (server->hasPendingConnections())
            server->nextPendingConnection()->setParent(server);
    });
    return server;
}

} // namespace bench
