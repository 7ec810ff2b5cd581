#pragma once

// Shared by the suites that drive one window against a local test server
// (replies, station tables, painting, browsing, GPS, station page, price
// reports, watch list): the window with its environment, plus builders for
// reply documents.

#include "app/constants.h"
#include "app/mainwindow.h"
#include "stations/itemdelegate.h"
#include "support/windowenvironment.h"
#include "ui_mainwindow.h"

#include <QAbstractItemView>
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

using TestSupport::Response;

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

// A station with fixed brand, address and year-old dates, as an element.
inline QString station(const QString &id, const QString &name, const QString &petrol = QStringLiteral("139.9"),
                       const QString &diesel = QStringLiteral("131"))
{
    return QStringLiteral("<station ID=\"%1\" name=\"%2\" brand=\"Maxol\" addr1=\"1 Main St\" addr2=\"Dublin\" "
                          "petrolPrice=\"%3\" dieselPrice=\"%4\" petrolDateUpdated=\"2020-01-01 12:00:00\" "
                          "dieselDateUpdated=\"2020-01-01 12:00:00\"/>")
        .arg(id, name, petrol, diesel);
}

inline QByteArray stationsDocument(const QStringList &stations)
{
    return ("<stations>" + stations.join(QString()) + "</stations>").toUtf8();
}

inline QByteArray namesDoc(const QString &tag, const QStringList &names)
{
    QString out = QStringLiteral("<list>");
    for (const QString &n : names)
        out += QStringLiteral("<%1 Name=\"%2\"/>").arg(tag, escaped(n));
    return (out + QStringLiteral("</list>")).toUtf8();
}

// Everything a test needs around one window. Create it, set the responses
// the window's start-up requests should get, then call start() (or open() for
// a shown window).
struct Harness : TestSupport::WindowEnvironment
{
    std::unique_ptr<MainWindow> window;
    QStringList finishedPaths;   // path + "?" + query of every reply, after the window handled it

    bool start()
    {
        if (!ready())
            return false;
        window = std::make_unique<MainWindow>();
        // Connected after the window's own slot, so an entry here means the
        // window is done with that reply, message boxes included.
        QObject::connect(window->networkManager, &QNetworkAccessManager::finished, window.get(),
                         [this](QNetworkReply *reply) {
                             finishedPaths << reply->url().path() + QLatin1Char('?') + reply->url().query();
                         });
        return true;
    }

    bool open()
    {
        if (!start())
            return false;
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
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

    // A table row of the window filled the way the nearby, area and watch
    // list replies fill it, without depending on those replies.
    static void addRow(QTableWidget *table, const QString &id, const QString &name)
    {
        const int row = table->rowCount();
        table->setRowCount(row + 1);
        if (table->columnCount() < 3)
            table->setColumnCount(3);
        if (!id.isNull())
            table->setItem(row, 0, new QTableWidgetItem(id));
        table->setItem(row, 1, new QTableWidgetItem(name));
        table->setItem(row, 2, new QTableWidgetItem(QStringLiteral("139.9")));
    }

    // Opens a station whose reply the server gives at once, and waits until
    // the page is filled.
    bool openFilledStation(const QString &id, const QString &petrol, const QString &diesel)
    {
        server.setResponse(QStringLiteral("getStationById.php?id=") + id,
                           Response::ok(
                               stationsDocument({station(id, QStringLiteral("Station ") + id, petrol, diesel)})));
        window->loadStation(id);
        return QTest::qWaitFor([this] { return ui()->savePetrolButton->isEnabled(); });
    }

    static void clickCell(QTableWidget *table, int row, int column)
    {
        const QRect cell = table->visualRect(table->model()->index(row, column));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    }
};

} // namespace StationFixture
