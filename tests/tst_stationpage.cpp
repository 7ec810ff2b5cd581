// Opening the station page from the three station tables, the price steps,
// and what the page shows while a station is loading.

#include "tst_stationfixture.h"

#include "net/catalogue.h"

#include <QApplication>
#include <QLineEdit>

#include <QLCDNumber>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>

using namespace StationFixture;

class TstStationPage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void clickOpensRowStation_data();
    void clickOpensRowStation();
    void rowWithoutIdOpensNothing();
    void tappedRowsOpenNoEditor();
    void stepsChangeDisplayedPrice();
    void plusAddsToNegativePrice();
    void oldPricesStayWhileLoading();
    void lateReplyForEarlierStationChangesNothing();

private:
    // Shows the tab holding `table`, so clicks reach it.
    void showTable(QTableWidget *table);

    Harness *m_w = nullptr;
};

void TstStationPage::init()
{
    m_w = new Harness;
    QVERIFY(m_w->open());
}

void TstStationPage::cleanup()
{
    delete m_w;
    m_w = nullptr;
}

void TstStationPage::showTable(QTableWidget *table)
{
    Ui_MainWindow *ui = m_w->ui();
    if (table == ui->areaStationTable) {
        ui->tabWidgit->setCurrentIndex(0);
        ui->stackedWidget->setCurrentIndex(2);
    } else {
        ui->tabWidgit->setCurrentIndex(table == ui->gpsTable ? 1 : 2);
    }
    QVERIFY(table->isVisible());
}

void TstStationPage::clickOpensRowStation_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("doubleClick");

    for (const char *table : {"areaStationTable", "gpsTable", "favsTable"}) {
        QTest::addRow("%s title", table) << table << 1 << false;
        QTest::addRow("%s price", table) << table << 2 << false;
        QTest::addRow("%s double", table) << table << 1 << true;
    }
}

void TstStationPage::clickOpensRowStation()
{
    QFETCH(QString, table);
    QFETCH(int, column);
    QFETCH(bool, doubleClick);
    auto *tableWidget = m_w->window->findChild<QTableWidget *>(table);
    QVERIFY(tableWidget);
    showTable(tableWidget);
    // The entry to the tab may fill the table from an (empty) reply first.
    QTRY_VERIFY(TestSupport::requestsSettled(*m_w->window));
    tableWidget->setRowCount(0);
    Harness::addRow(tableWidget, QStringLiteral("11"), QStringLiteral("First"));
    Harness::addRow(tableWidget, QStringLiteral("22"), QStringLiteral("Second"));
    m_w->ui()->savePetrolButton->setEnabled(true);
    m_w->ui()->saveDieselButton->setEnabled(true);

    if (doubleClick) {
        // As a user's double click arrives: a click, then the double click.
        const QRect cell = tableWidget->visualRect(tableWidget->model()->index(1, column));
        QTest::mouseClick(tableWidget->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTest::mouseDClick(tableWidget->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    } else {
        Harness::clickCell(tableWidget, 1, column);
    }

    QVERIFY(m_w->server.waitForRequestsForPath("getStationById", 1));
    // A double click opens it again with a request of its own.
    if (doubleClick)
        QVERIFY(m_w->server.waitForRequestsForPath("getStationById", 2));
    for (const auto &request : m_w->server.requestsForPath("getStationById")) {
        QCOMPARE(request.path, QStringLiteral("/api/nokiaApp/getStationById.php"));
        QCOMPARE(request.rawQuery, QStringLiteral("id=22"));
    }
    QCOMPARE(m_w->window->currentStationId, QStringLiteral("22"));
    QCOMPARE(m_w->ui()->mainStackWidget->currentIndex(), 1);
    QCOMPARE(m_w->ui()->updateStationLabel->text(), QStringLiteral("Please wait"));
    QCOMPARE(m_w->ui()->updateStationLabel2->text(), QStringLiteral("Loading station"));
    QVERIFY(!m_w->ui()->savePetrolButton->isEnabled());
    QVERIFY(!m_w->ui()->saveDieselButton->isEnabled());
}

void TstStationPage::rowWithoutIdOpensNothing()
{
    QTableWidget *table = m_w->ui()->areaStationTable;
    showTable(table);
    Harness::addRow(table, QString(), QStringLiteral("No id"));

    Harness::clickCell(table, 0, 1);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                      table->visualRect(table->model()->index(0, 1)).center());
    // A request leaves synchronously with the click: none was made.
    QCOMPARE(TestSupport::repliesFor(*m_w->window, QStringLiteral("getStationById")), 0);
    QTRY_VERIFY(TestSupport::requestsSettled(*m_w->window));
    QCOMPARE(m_w->server.requestsForPath("getStationById").size(), 0);
    QCOMPARE(m_w->ui()->mainStackWidget->currentIndex(), 0);
    QVERIFY(m_w->window->currentStationId.isEmpty());
}

// A tap on the selected row opens the station, never an editor.
void TstStationPage::tappedRowsOpenNoEditor()
{
    QTableWidget *table = m_w->ui()->areaStationTable;
    m_w->server.setResponse(QStringLiteral("getStationsByArea"), Response::ok(stationsDocument({station("11", "A")})));
    QVERIFY(m_w->request(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Mallow")),
                         QStringLiteral("getStationsByArea")));
    showTable(table);
    table->selectRow(0);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                      table->visualRect(table->model()->index(0, 1)).center());
    QTest::mouseClick(m_w->ui()->stationBackButton, Qt::LeftButton);
    // A tap on a selected row would open an editor only for an editable
    // item; asking for one directly shows whether any trigger could.
    table->edit(table->model()->index(0, 1));
    QVERIFY(!table->findChild<QLineEdit *>());
    QVERIFY(!(table->item(0, 1)->flags() & Qt::ItemIsEditable));
}

void TstStationPage::stepsChangeDisplayedPrice()
{
    QVERIFY(m_w->openFilledStation(QStringLiteral("5"), QStringLiteral("139.9"), QStringLiteral("0.15")));
    Ui_MainWindow *ui = m_w->ui();
    QCOMPARE(ui->petrolLCD->value(), double(139.9f));

    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(ui->petrolAddButton, Qt::LeftButton);
    QCOMPARE(QString::number(ui->petrolLCD->value(), 'g', 6), QStringLiteral("140.2"));
    QTest::mouseClick(ui->petrolSubButton, Qt::LeftButton);
    QCOMPARE(QString::number(ui->petrolLCD->value(), 'g', 6), QStringLiteral("140.1"));

    // A price never goes below zero: 0.15 -> 0.05 -> 0 -> 0.
    QTest::mouseClick(ui->dieselSubButton, Qt::LeftButton);
    QCOMPARE(QString::number(ui->dieselLCD->value(), 'g', 6), QStringLiteral("0.05"));
    QTest::mouseClick(ui->dieselSubButton, Qt::LeftButton);
    QCOMPARE(ui->dieselLCD->value(), 0.0);
    QTest::mouseClick(ui->dieselSubButton, Qt::LeftButton);
    QCOMPARE(ui->dieselLCD->value(), 0.0);
    QTest::mouseClick(ui->dieselAddButton, Qt::LeftButton);
    QCOMPARE(QString::number(ui->dieselLCD->value(), 'g', 6), QStringLiteral("0.1"));

    // Stepping a price that came in as single precision down to zero lands
    // on zero, not on a rounding residue that would be reported as a price.
    ui->petrolLCD->display(double(0.3f));
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(ui->petrolSubButton, Qt::LeftButton);
    QCOMPARE(ui->petrolLCD->value(), 0.0);
}

// Only a step down stops at zero; "+" adds to a negative price.
void TstStationPage::plusAddsToNegativePrice()
{
    QVERIFY(m_w->openFilledStation(QStringLiteral("5"), QStringLiteral("-0.2"), QStringLiteral("-3")));
    Ui_MainWindow *ui = m_w->ui();
    QTest::mouseClick(ui->petrolAddButton, Qt::LeftButton);
    QCOMPARE(QString::number(ui->petrolLCD->value(), 'g', 6), QStringLiteral("-0.1"));
    QTest::mouseClick(ui->petrolAddButton, Qt::LeftButton);
    QCOMPARE(ui->petrolLCD->value(), 0.0); // no residue such as -1.49e-09
    QTest::mouseClick(ui->dieselSubButton, Qt::LeftButton);
    QCOMPARE(ui->dieselLCD->value(), 0.0);
}

void TstStationPage::oldPricesStayWhileLoading()
{
    QVERIFY(m_w->openFilledStation(QStringLiteral("5"), QStringLiteral("139.9"), QStringLiteral("131")));
    m_w->server.setResponse(QStringLiteral("getStationById.php?id=6"), Response::stall());

    QTest::mouseClick(m_w->ui()->stationBackButton, Qt::LeftButton);
    QCOMPARE(m_w->ui()->mainStackWidget->currentIndex(), 0);
    m_w->window->loadStation(QStringLiteral("6"));
    QVERIFY(m_w->server.waitForRequestsForPath("getStationById", 2));
    Ui_MainWindow *ui = m_w->ui();
    QCOMPARE(ui->mainStackWidget->currentIndex(), 1);
    QCOMPARE(ui->updateStationLabel->text(), QStringLiteral("Please wait"));
    QCOMPARE(ui->updateStationLabel2->text(), QStringLiteral("Loading station"));
    QCOMPARE(ui->petrolLCD->value(), double(139.9f));
    QCOMPARE(ui->dieselLCD->value(), 131.0);
    QVERIFY(!ui->savePetrolButton->isEnabled());
    QVERIFY(!ui->saveDieselButton->isEnabled());
}

void TstStationPage::lateReplyForEarlierStationChangesNothing()
{
    m_w->server.setResponse(
        QStringLiteral("getStationById.php?id=alpha"),
        Response::ok(stationsDocument({station("alpha", "Alpha", "150.1", "140.1")})).withDelay(600));
    m_w->server.setResponse(QStringLiteral("getStationById.php?id=beta"),
                            Response::ok(stationsDocument({station("beta", "Beta", "120.2", "110.2")})));
    bool alphaAnswered = false;
    QObject::connect(m_w->window->networkManager, &QNetworkAccessManager::finished, m_w->window.get(),
                     [&](QNetworkReply *reply) {
                         if (reply->url().query().contains(QLatin1String("id=alpha")))
                             alphaAnswered = true;
                     });
    Ui_MainWindow *ui = m_w->ui();

    m_w->window->loadStation(QStringLiteral("alpha"));
    m_w->window->loadStation(QStringLiteral("beta"));
    QTRY_COMPARE(ui->updateStationLabel->text(), QStringLiteral("Beta"));
    QTRY_VERIFY(alphaAnswered);

    QCOMPARE(ui->updateStationLabel->text(), QStringLiteral("Beta"));
    QCOMPARE(ui->petrolLCD->value(), double(120.2f));
    QCOMPARE(ui->dieselLCD->value(), double(110.2f));
    QCOMPARE(m_w->window->currentStationId, QStringLiteral("beta"));
}

QTEST_MAIN(TstStationPage)
#include "tst_stationpage.moc"
