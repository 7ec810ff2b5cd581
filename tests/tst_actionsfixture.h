#pragma once

// Shared by the GPS, station page, price report and watch list tests: a shown
// window talking to a local test server, with its own settings store and a
// watcher that closes every message box.

#include "app/constants.h"
#include "app/mainwindow.h"
#include "support/clienturls.h"
#include "support/isolatedsettings.h"
#include "support/modalwatcher.h"
#include "support/testserver.h"
#include "ui_mainwindow.h"

#include <QAbstractItemView>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace ActionsFixture {

using TestSupport::Response;

// A reply document holding the given <station .../> elements.
inline QByteArray stationsDocument(const QStringList &stations)
{
    return ("<stations>" + stations.join(QString()) + "</stations>").toUtf8();
}

inline QString station(const QString &id, const QString &name, const QString &petrol = QStringLiteral("139.9"),
                       const QString &diesel = QStringLiteral("131"))
{
    return QStringLiteral("<station ID=\"%1\" name=\"%2\" brand=\"Maxol\" addr1=\"1 Main St\" addr2=\"Dublin\" "
                          "petrolPrice=\"%3\" dieselPrice=\"%4\" petrolDateUpdated=\"2020-01-01 12:00:00\" "
                          "dieselDateUpdated=\"2020-01-01 12:00:00\"/>")
        .arg(id, name, petrol, diesel);
}

struct Window
{
    TestSupport::IsolatedSettings settings;
    TestSupport::TestServer server;
    TestSupport::ModalWatcher watcher;
    std::unique_ptr<MainWindow> window;

    // Starts the server, points the client at it and shows a new window.
    bool open()
    {
        if (!server.start())
            return false;
        TestSupport::pointClientAt(server.baseUrl());
        window = std::make_unique<MainWindow>();
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }

    Ui_MainWindow *ui() const { return window->ui; }

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
                           Response::ok(stationsDocument({station(id, QStringLiteral("Station ") + id, petrol, diesel)})));
        window->loadStation(id);
        return QTest::qWaitFor([this] { return ui()->savePetrolButton->isEnabled(); });
    }

    static void clickCell(QTableWidget *table, int row, int column)
    {
        const QRect cell = table->visualRect(table->model()->index(row, column));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    }
};

} // namespace ActionsFixture
