// The watch-list tab: fetched afresh on every entry, and the station page's
// button that adds the open station, with the service's three answers.

#include "tst_stationfixture.h"

#include <QMessageBox>

using namespace StationFixture;

class TstWatchlist : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyEntryFetchesTheList();
    void addAnswer_data();
    void addAnswer();
    void refusedLoginIsSaid();

private:
    void enterWatchlistTab();

    Harness *m_w = nullptr;
};

void TstWatchlist::init()
{
    m_w = new Harness;
    QVERIFY(m_w->open());
    m_w->ui()->userName->setText(QStringLiteral("ann"));
    m_w->ui()->password->setText(QStringLiteral("pa ss&word"));
}

void TstWatchlist::cleanup()
{
    delete m_w;
    m_w = nullptr;
}

void TstWatchlist::enterWatchlistTab()
{
    if (m_w->ui()->tabWidgit->currentIndex() == 2)
        m_w->ui()->tabWidgit->setCurrentIndex(0);
    m_w->ui()->tabWidgit->setCurrentIndex(2);
}

void TstWatchlist::everyEntryFetchesTheList()
{
    m_w->server.enqueueResponse(QStringLiteral("getStationsByWatchlist"),
                                Response::ok(stationsDocument({station("1", "One"), station("2", "Two")})));
    m_w->server.enqueueResponse(QStringLiteral("getStationsByWatchlist"),
                                Response::ok(stationsDocument({station("3", "Three")})));
    Ui_MainWindow *ui = m_w->ui();

    enterWatchlistTab();
    QCOMPARE(m_w->window->windowTitle(), QStringLiteral("Velmora - Stations Watch List"));
    QTRY_COMPARE(ui->favsTable->rowCount(), 2);
    QVERIFY(ui->favStatus->isHidden());

    enterWatchlistTab();
    QVERIFY(ui->favStatus->isVisible());
    QCOMPARE(ui->favStatus->text(), QStringLiteral("Retrieving stations... "));
    QTRY_COMPARE(ui->favsTable->rowCount(), 1);
    QCOMPARE(ui->favsTable->item(0, 0)->text(), QStringLiteral("3"));

    const auto requests = m_w->server.requestsForPath("getStationsByWatchlist");
    QCOMPARE(requests.size(), 2);
    for (const auto &request : requests) {
        QCOMPARE(request.path, QStringLiteral("/api/nokiaApp/getStationsByWatchlist.php"));
        QCOMPARE(request.query, (QList<QPair<QString, QString>>{{"username", "ann"}, {"password", "pa ss&word"}}));
    }
}

void TstWatchlist::addAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");

    QTest::newRow("SUCCESS") << QByteArray("SUCCESS") << "Watch List" << "Added to watch list."
                             << int(QMessageBox::Information);
    QTest::newRow("FAILURE") << QByteArray("FAILURE") << "Watch List" << "Already in watch list."
                             << int(QMessageBox::Information);
    QTest::newRow("BADLOGIN") << QByteArray("BADLOGIN") << "Authentication failed"
                              << "Bad username and/or password. Please check them on the Settings tab."
                              << int(QMessageBox::Warning);
    // The word is compared exactly, up to a zero byte; anything else shows nothing.
    QTest::newRow("word before zero byte") << QByteArray("FAILURE\0\0", 9) << "Watch List"
                                           << "Already in watch list." << int(QMessageBox::Information);
    QTest::newRow("trailing line break") << QByteArray("SUCCESS\n") << QString() << QString() << 0;
    QTest::newRow("other case") << QByteArray("Success") << QString() << QString() << 0;
    QTest::newRow("a document") << QByteArray("<r><station ID=\"1\"/></r>") << QString() << QString() << 0;
}

void TstWatchlist::addAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, title);
    m_w->server.enqueueResponse(QStringLiteral("getStationsByWatchlist"),
                                Response::ok(stationsDocument({station("1", "One")})));
    m_w->server.setResponse(QStringLiteral("addToWatchlist"), Response::ok(answer, "text/plain"));
    Ui_MainWindow *ui = m_w->ui();
    enterWatchlistTab();
    QTRY_COMPARE(ui->favsTable->rowCount(), 1);

    QVERIFY(m_w->openFilledStation(QStringLiteral("77"), QStringLiteral("139.9"), QStringLiteral("131")));
    QTest::mousePress(ui->pushButton, Qt::LeftButton);
    QTest::mouseRelease(ui->pushButton, Qt::LeftButton);

    QVERIFY(m_w->waitHandled(QStringLiteral("addToWatchlist")));
    if (title.isEmpty()) {
        QCOMPARE(m_w->modals.count(), 0);
    } else {
        QCOMPARE(m_w->modals.count(), 1);
        QCOMPARE(m_w->modals.last().windowTitle, title);
        QTEST(m_w->modals.last().text, "text");
        QTEST(m_w->modals.last().icon, "icon");
        QCOMPARE(m_w->modals.last().buttons, QStringList{QStringLiteral("OK")});
    }
    const auto request = m_w->server.requestsForPath("addToWatchlist").first();
    QCOMPARE(request.path, QStringLiteral("/api/nokiaApp/addToWatchlist.php"));
    QCOMPARE(request.query,
             (QList<QPair<QString, QString>>{{"username", "ann"}, {"password", "pa ss&word"}, {"id", "77"}}));
    QVERIFY(ui->pushButton->isEnabled());

    // The table learns of the addition only when the tab is entered again.
    QCOMPARE(ui->favsTable->rowCount(), 1);
    m_w->server.enqueueResponse(QStringLiteral("getStationsByWatchlist"),
                                Response::ok(stationsDocument({station("1", "One"), station("77", "New")})));
    enterWatchlistTab();
    QTRY_COMPARE(ui->favsTable->rowCount(), 2);
    QCOMPARE(ui->favsTable->item(1, 0)->text(), QStringLiteral("77"));
}

// A refused login is said in the status line, where the list would be;
// changed credentials are tried as soon as the settings tab is left.
void TstWatchlist::refusedLoginIsSaid()
{
    m_w->server.enqueueResponse(QStringLiteral("getStationsByWatchlist"),
                                Response::ok(stationsDocument({station("1", "One")})));
    m_w->server.setResponse(QStringLiteral("getStationsByWatchlist"), Response::ok("BADLOGIN", "text/plain"));
    Ui_MainWindow *ui = m_w->ui();
    enterWatchlistTab();
    QTRY_COMPARE(ui->favsTable->rowCount(), 1);

    ui->tabWidgit->setCurrentIndex(3);
    ui->tabWidgit->setCurrentIndex(0); // nothing changed: nothing asked
    ui->tabWidgit->setCurrentIndex(3);
    ui->password->setText(QStringLiteral("typo"));
    ui->tabWidgit->setCurrentIndex(0);
    QVERIFY(m_w->waitHandled(QStringLiteral("getStationsByWatchlist"), 2));
    const auto requests = m_w->server.requestsForPath("getStationsByWatchlist");
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.last().queryValue(QStringLiteral("password")), QStringLiteral("typo"));
    QCOMPARE(ui->favsTable->rowCount(), 0);
    QCOMPARE(ui->favStatus->text(), QStringLiteral("Bad username and/or password"));
    QVERIFY(!ui->favStatus->isHidden());
    QCOMPARE(m_w->modals.count(), 0);
}

QTEST_MAIN(TstWatchlist)
#include "tst_watchlist.moc"
