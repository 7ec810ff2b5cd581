#pragma once

// Shared by the reply, station-table, painting and browsing tests: a window
// talking to a local test server, with an isolated settings store and a
// watcher that closes every message box, plus builders for reply documents.

#include "app/constants.h"
#include "app/mainwindow.h"
#include "stations/itemdelegate.h"
#include "support/clienturls.h"
#include "support/isolatedsettings.h"
#include "support/modalwatcher.h"
#include "support/testserver.h"
#include "ui_mainwindow.h"

#include <QDate>
#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStringList>
#include <QTableWidget>
#include <QTime>
#include <QtTest>

#include <memory>

namespace StationFixture {

// A price date whose calendar age today is `daysAgo` (noon, so the time of
// day never moves it across midnight).
inline QString dateDaysAgo(int daysAgo)
{
    return QDateTime(QDate::currentDate().addDays(-daysAgo), QTime(12, 0, 0))
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

inline QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// One <station> element; an attribute given as a null QString is left out.
struct Station
{
    QString id;
    QString name;
    QString brand;
    QString addr2;
    QString petrolPrice;
    QString petrolDate;
    QString distance;
    QString dieselPrice;
    QString dieselDate;
    QString addr1;

    QString xml() const
    {
        QString out = QStringLiteral("<station");
        const auto add = [&out](const char *key, const QString &value) {
            if (!value.isNull())
                out += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(key), escaped(value));
        };
        add("ID", id);
        add("name", name);
        add("brand", brand);
        add("addr1", addr1);
        add("addr2", addr2);
        add("petrolPrice", petrolPrice);
        add("petrolDateUpdated", petrolDate);
        add("dieselPrice", dieselPrice);
        add("dieselDateUpdated", dieselDate);
        add("Distance", distance);
        return out + QStringLiteral("/>");
    }
};

// A fresh petrol station with the given id and price.
inline Station petrol(const QString &id, const QString &price, int daysAgo = 0)
{
    Station s;
    s.id = id;
    s.name = QStringLiteral("Station ") + id;
    s.brand = QStringLiteral("Station");
    s.addr2 = QStringLiteral("Main Street");
    s.petrolPrice = price;
    s.petrolDate = dateDaysAgo(daysAgo);
    return s;
}

inline QByteArray stationsDoc(const QList<Station> &stations)
{
    QString out = QStringLiteral("<?xml version=\"1.0\"?>\n<stations>");
    for (const Station &s : stations)
        out += s.xml();
    return (out + QStringLiteral("</stations>")).toUtf8();
}

inline QByteArray namesDoc(const QString &tag, const QStringList &names)
{
    QString out = QStringLiteral("<list>");
    for (const QString &n : names)
        out += QStringLiteral("<%1 Name=\"%2\"/>").arg(tag, escaped(n));
    return (out + QStringLiteral("</list>")).toUtf8();
}

// Everything a test needs around one window. Create it, set the responses
// the window's start-up requests should get, then call start().
struct Harness
{
    TestSupport::IsolatedSettings settings;
    TestSupport::TestServer server;
    TestSupport::ModalWatcher watcher;
    std::unique_ptr<MainWindow> window;
    QStringList finishedPaths;   // path + "?" + query of every reply, after the window handled it

    bool start()
    {
        if (!server.start())
            return false;
        TestSupport::pointClientAt(server.baseUrl());
        window = std::make_unique<MainWindow>();
        // Connected after the window's own slot, so an entry here means the
        // window is done with that reply, message boxes included.
        QObject::connect(window->networkManager, &QNetworkAccessManager::finished, window.get(),
                         [this](QNetworkReply *reply) {
                             finishedPaths << reply->url().path() + QLatin1Char('?') + reply->url().query();
                         });
        return true;
    }

    // Sends a request through the window and waits until its reply, found
    // by pathPart, has been handled.
    bool request(const QString &url, const QString &pathPart, int timeoutMs = 10000)
    {
        const int before = finishedCount(pathPart);
        window->sendRequest(url);
        return waitHandled(pathPart, before + 1, timeoutMs);
    }

    int finishedCount(const QString &pathPart) const
    {
        int n = 0;
        for (const QString &p : finishedPaths)
            n += p.contains(pathPart) ? 1 : 0;
        return n;
    }

    // Waits until `n` replies whose path contains pathPart were handled.
    bool waitHandled(const QString &pathPart, int n = 1, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (finishedCount(pathPart) < n && !deadline.hasExpired())
            QTest::qWait(10);
        return finishedCount(pathPart) >= n;
    }

    Ui_MainWindow *ui() const { return window->ui; }

    // The station delegate is normally installed while the window sizes
    // itself to the screen; install it here when that has not happened.
    void ensureDelegate(QTableWidget *table)
    {
        if (!dynamic_cast<ItemDelegate *>(table->itemDelegate()))
            window->installStationDelegate(table);
    }

    void chooseFuel(const QString &fuel, const QString &staleDays)
    {
        ui()->fuelType->setCurrentIndex(ui()->fuelType->findText(fuel));
        ui()->stalePriceDays->setCurrentIndex(ui()->stalePriceDays->findText(staleDays));
    }
};

} // namespace StationFixture
