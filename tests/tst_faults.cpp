// The client under faults from the network and the settings store: refused
// connections, replies cut off, huge, never finished or malformed, and a
// store full of junk. The window must stay usable, show at most one
// network-error dialog at a time and keep what was already stored.
#include "app/constants.h"
#include "app/mainwindow.h"
#include "net/catalogue.h"
#include "support/debugcapture.h"
#include "support/windowenvironment.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QNetworkReply>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QXmlStreamReader>
#include <QtTest>

#ifdef VELMORA_HAVE_SERVICE_CORE
#include "xmlreply.h"
#endif

using namespace TestSupport;

namespace {

// Counts the message boxes on screen as they are shown and hidden (an
// event filter, so no box is too short-lived to be seen) and keeps the
// highest number open at once.
class OpenBoxProbe : public QObject
{
public:
    OpenBoxProbe() { qApp->installEventFilter(this); }
    int maxOpen() const { return m_max; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (qobject_cast<QMessageBox *>(watched) && static_cast<QWidget *>(watched)->isWindow()) {
            if (event->type() == QEvent::Show)
                m_max = std::max(m_max, ++m_open);
            else if (event->type() == QEvent::Hide)
                --m_open;
        }
        return false;
    }

private:
    int m_open = 0;
    int m_max = 0;
};

QByteArray stationsDoc(int count, const QByteArray &extraName = QByteArray())
{
    const QByteArray today = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss").toLatin1();
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<stations>";
    for (int i = 1; i <= count; ++i)
        doc += "<station ID=\"" + QByteArray::number(i) + "\" name=\"Station " + QByteArray::number(i)
               + extraName + "\" brand=\"Emo\" addr1=\"Main St\" addr2=\"Town\" petrolPrice=\"1"
               + QByteArray::number(40 + i) + ".9\" dieselPrice=\"150.9\" petrolDateUpdated=\"" + today
               + "\" dieselDateUpdated=\"" + today + "\"/>";
    doc += "</stations>";
    return doc;
}

QByteArray countiesDoc(int count)
{
    QByteArray doc = "<counties>";
    for (int i = 0; i < count; ++i)
        doc += "<county Name=\"County " + QByteArray::number(i) + "\"/>";
    return doc + "</counties>";
}

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT

private:
    static QTableWidget *table(MainWindow &w, const char *name) { return w.findChild<QTableWidget *>(name); }
    static QListWidget *list(MainWindow &w, const char *name) { return w.findChild<QListWidget *>(name); }
    static void triggerMenu(MainWindow &w, const char *name) { w.findChild<QAction *>(name)->trigger(); }

private slots:
    void refusedConnectionsGiveOneDialogAtATime();
    void replyCutOffHalfwayFillsNothing();
    void hugeBody_data();
    void hugeBody();
    void stalledReplyDoesNotBlockTheUser();
    void malformedDocumentsEmptyTheTable_data();
    void malformedDocumentsEmptyTheTable();
    void invalidUtf8IsReadWithoutCrashing();
    void deeplyNestedDocument_data();
    void deeplyNestedDocument();
    void garbageSettingsKeepStoredKeys();
    void serviceDocumentsSurviveUnpairedSurrogates();
};

void tst_Faults::refusedConnectionsGiveOneDialogAtATime()
{
    WindowEnvironment env;
    QVERIFY(env.ready());
    ModalWatcher &watcher = env.modals;
    const QString closedUrl = env.server.baseUrl();
    env.server.stop(); // nothing listens there any more
    pointClientAt(closedUrl);

    DebugCapture log(true);
    OpenBoxProbe boxes;
    // Hold the first box so the refused watch-list request below fails while
    // it is still open.
    watcher.enqueueAction(ModalWatcher::Action::clickButton(QStringLiteral("Continue"), 500));

    MainWindow window;
    window.show();
    QVERIFY(watcher.waitForCount(1, 10000));
    // Fire more requests than the dialog can absorb; all of them are refused.
    for (int i = 0; i < 5; ++i)
        window.sendRequest(Catalogue::stationById(QString::number(i)));
    QTRY_VERIFY_WITH_TIMEOUT(!window.errorDialogOpen, 10000);

    // After "Continue" the user goes on: each new failure may show a box, but
    // never two at once.
    triggerMenu(window, "actionWatch_List");
    QVERIFY(watcher.waitForCount(2, 10000));
    QTRY_VERIFY_WITH_TIMEOUT(!window.errorDialogOpen, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(requestsSettled(window), 10000);
    QCOMPARE(boxes.maxOpen(), 1);
    for (const ModalRecord &r : watcher.records())
        QCOMPARE(r.clickedButton, QStringLiteral("Continue"));
    QVERIFY(window.isVisible());
}

void tst_Faults::replyCutOffHalfwayFillsNothing()
{
    WindowEnvironment env;
    QVERIFY(env.ready());
    TestServer &server = env.server;
    ModalWatcher &watcher = env.modals;
    server.setResponse("getCounties", Response::partialThenClose(countiesDoc(26)));

    DebugCapture log(true);
    OpenBoxProbe boxes;
    MainWindow window;
    QVERIFY(watcher.waitForCount(1, 10000));
    QTRY_VERIFY_WITH_TIMEOUT(!window.errorDialogOpen, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(requestsSettled(window), 10000);
    QCOMPARE(boxes.maxOpen(), 1);
    QCOMPARE(watcher.count(), 1);
    // Half a document is no document: no half-filled county list.
    QCOMPARE(list(window, "countyList")->count(), 0);

    // A good reply afterwards fills the list normally.
    server.setResponse("getCounties", Response::ok(countiesDoc(26)));
    window.sendRequest(Catalogue::counties());
    QTRY_COMPARE_WITH_TIMEOUT(list(window, "countyList")->count(), 26, 10000);
}

void tst_Faults::hugeBody_data()
{
    QTest::addColumn<int>("megabytes");
    QTest::addColumn<int>("counties");
    QTest::newRow("15 MiB is read") << 15 << 26;
    // Larger than any list the service sends: refused like a broken one.
    QTest::newRow("20 MiB is refused") << 20 << 0;
}

void tst_Faults::hugeBody()
{
    QFETCH(int, megabytes);
    QFETCH(int, counties);
    WindowEnvironment env;
    QVERIFY(env.ready());
    TestServer &server = env.server;
    ModalWatcher &watcher = env.modals;
    // A normal list of counties padded with a comment.
    QByteArray body = countiesDoc(26);
    body.insert(body.indexOf("<county"), "<!--" + QByteArray(megabytes * 1024 * 1024, 'x') + "-->");
    server.setResponse("getCounties", Response::ok(body));

    MainWindow window;
    QListWidget *countyList = list(window, "countyList");
    countyList->addItem(QStringLiteral("placeholder"));
    QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QWidget *>("areaStatus")->isHidden(), 60000);
    QCOMPARE(countyList->count(), counties);
    if (counties)
        QCOMPARE(countyList->item(25)->text(), QStringLiteral("County 25"));
    QCOMPARE(watcher.count(), 0);
}

void tst_Faults::stalledReplyDoesNotBlockTheUser()
{
    WindowEnvironment env;
    QVERIFY(env.ready());
    TestServer &server = env.server;
    ModalWatcher &watcher = env.modals;
    server.setResponse("getCounties", Response::stall());
    server.setResponse("getStationsByWatchlist", Response::ok(stationsDoc(3)));
    server.setResponse("getStationById", Response::ok(stationsDoc(1)));

    DebugCapture log(true);
    OpenBoxProbe boxes;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(server.waitForRequestsForPath("getCounties", 1));

    // The county reply never comes; the user works on regardless.
    auto *tabs = window.findChild<QTabWidget *>("tabWidgit");
    triggerMenu(window, "actionSettings");
    QCOMPARE(tabs->currentIndex(), 3);
    triggerMenu(window, "actionWatch_List");
    QTRY_COMPARE_WITH_TIMEOUT(table(window, "favsTable")->rowCount(), 3, 10000);

    QTableWidget *favs = table(window, "favsTable");
    const QRect cell = favs->visualRect(favs->model()->index(1, 1));
    QTest::mouseClick(favs->viewport(), Qt::LeftButton, {}, cell.center());
    QTRY_VERIFY_WITH_TIMEOUT(server.requestsForPath("getStationById").size() == 1, 10000);
    QCOMPARE(server.requestsForPath("getStationById").first().queryValue("id"), QStringLiteral("2"));
    QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QWidget *>("savePetrolButton")->isEnabled(), 10000);

    triggerMenu(window, "actionArea");
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(watcher.count(), 0);

    // The stalled connection finally drops: one dialog for it, no more.
    watcher.enqueueAction(ModalWatcher::Action::clickButton(QStringLiteral("Continue")));
    server.stop();
    QVERIFY(watcher.waitForCount(1, 10000));
    QTRY_VERIFY_WITH_TIMEOUT(!window.errorDialogOpen, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(requestsSettled(window), 10000);
    QCOMPARE(boxes.maxOpen(), 1);
}

void tst_Faults::malformedDocumentsEmptyTheTable_data()
{
    QTest::addColumn<QByteArray>("body");
    const QByteArray good = stationsDoc(4);
    QTest::newRow("truncated") << good.left(good.size() * 2 / 3);
    QTest::newRow("cut inside an attribute") << good.left(good.indexOf("Station 3") + 4);
    QTest::newRow("unclosed root") << good.left(good.lastIndexOf("</stations>"));
    QTest::newRow("mismatched tags") << QByteArray("<stations><station ID=\"1\"></stations></station>");
    QTest::newRow("binary") << QByteArray("\x00\x01\x02<\xff\xfe station", 14);
    QTest::newRow("undefined entity") << QByteArray("<stations><station ID=\"&nope;\"/></stations>");
}

void tst_Faults::malformedDocumentsEmptyTheTable()
{
    QFETCH(QByteArray, body);
    WindowEnvironment env;
    QVERIFY(env.ready());
    TestServer &server = env.server;
    ModalWatcher &watcher = env.modals;
    server.setResponse("getCounties", Response::ok(countiesDoc(2)));
    server.enqueueResponse("getStationsByArea", Response::ok(stationsDoc(5)));
    server.enqueueResponse("getStationsByArea", Response::ok(body));

    MainWindow window;
    QTableWidget *areaTable = table(window, "areaStationTable");
    window.sendRequest(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Mallow")));
    QTRY_COMPARE_WITH_TIMEOUT(areaTable->rowCount(), 5, 10000);

    window.sendRequest(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Mallow")));
    QVERIFY(server.waitForRequestsForPath("getStationsByArea", 2));
    // A document that does not load holds no stations, not the ones read
    // before the error.
    QTRY_COMPARE_WITH_TIMEOUT(areaTable->rowCount(), 0, 10000);
    QCOMPARE(watcher.count(), 0);
}

void tst_Faults::invalidUtf8IsReadWithoutCrashing()
{
    WindowEnvironment env;
    QVERIFY(env.ready());
    TestServer &server = env.server;
    ModalWatcher &watcher = env.modals;
    server.setResponse("getCounties", Response::ok(countiesDoc(2)));
    // Overlong encodings, a lone continuation byte, a surrogate and bytes that
    // never occur in UTF-8, inside an attribute of a document declared UTF-8.
    server.setResponse("getStationsByArea", Response::ok(stationsDoc(2, "\xc0\xaf\x80\xed\xa0\x80\xff\xfe")));

    MainWindow window;
    QTableWidget *areaTable = table(window, "areaStationTable");
    areaTable->setRowCount(7);
    window.sendRequest(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Mallow")));
    QVERIFY(server.waitForRequestsForPath("getStationsByArea", 1));
    // Either the whole document is rejected or every station is there with
    // its undecodable bytes replaced; never a partial table.
    QTRY_VERIFY_WITH_TIMEOUT(areaTable->rowCount() != 7, 10000);
    const int rows = areaTable->rowCount();
    QVERIFY2(rows == 0 || rows == 2, qPrintable(QString::number(rows)));
    for (int r = 0; r < rows; ++r) {
        QVERIFY(areaTable->item(r, 1)->text().startsWith(QStringLiteral("Emo Station")));
        QCOMPARE(areaTable->item(r, 0)->text(), QString::number(r + 1));
    }
    QCOMPARE(watcher.count(), 0);
}

void tst_Faults::deeplyNestedDocument_data()
{
    QTest::addColumn<int>("levels"); // of the station element, the root being level 1
    QTest::addColumn<QString>("form");
    QTest::addColumn<int>("rows");
    QTest::newRow("64 levels are read") << 64 << "plain" << 1;
    QTest::newRow("65 levels are refused") << 65 << "plain" << 0;
    // A hostile body of 0.7 MB, refused before it can hold the window.
    QTest::newRow("100,000 levels are refused") << 100000 << "plain" << 0;
    // Markup that looks like tags but opens no element.
    QTest::newRow("64 levels among comments and CDATA are read") << 64 << "markup" << 1;
    QTest::newRow("65 levels among comments and CDATA are refused") << 65 << "markup" << 0;
    QTest::newRow("64 levels after a document type are read") << 64 << "doctype" << 1;
    QTest::newRow("65 levels after a document type are refused") << 65 << "doctype" << 0;
    QTest::newRow("64 levels in UTF-16 are read") << 64 << "utf16" << 1;
    QTest::newRow("65 levels in UTF-16 are refused") << 65 << "utf16" << 0;
}

void tst_Faults::deeplyNestedDocument()
{
    QFETCH(int, levels);
    QFETCH(QString, form);
    QFETCH(int, rows);
    WindowEnvironment env;
    QVERIFY(env.ready());
    TestServer &server = env.server;
    ModalWatcher &watcher = env.modals;
    server.setResponse("getCounties", Response::ok(countiesDoc(2)));
    const QByteArray open = form == QLatin1String("markup")
                                ? QByteArray("<n k=\">\" j='/'><!-- <c> --><![CDATA[<d>]]><?p <e>?>")
                                : QByteArray("<n>");
    QByteArray nested = form == QLatin1String("doctype") ? "<!DOCTYPE n>" : "";
    for (int i = 1; i < levels; ++i)
        nested += open;
    nested += stationsDoc(1).mid(stationsDoc(1).indexOf("<station "));
    nested.chop(int(qstrlen("</stations>")));
    for (int i = 1; i < levels; ++i)
        nested += "</n>";
    if (form == QLatin1String("utf16")) {
        const QString text = QString::fromUtf8(nested);
        nested = QByteArray("\xff\xfe") + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    }
    server.setResponse("getStationsByArea", Response::ok(nested));

    MainWindow window;
    QTableWidget *areaTable = table(window, "areaStationTable");
    areaTable->setRowCount(7);
    window.sendRequest(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Mallow")));
    QTRY_VERIFY_WITH_TIMEOUT(areaTable->rowCount() != 7, 30000);
    QCOMPARE(areaTable->rowCount(), rows);
    if (rows)
        QCOMPARE(areaTable->item(0, 0)->text(), QStringLiteral("1"));

    QCOMPARE(watcher.count(), 0);
}

void tst_Faults::garbageSettingsKeepStoredKeys()
{
    WindowEnvironment env;
    QVERIFY(env.ready());
    IsolatedSettings &settings = env.settings;
    TestServer &server = env.server;
    {
        QSettings store = settings.store();
        store.setValue("username", "joe");
        store.setValue("password", "s3cret");
        store.sync();
    }
    // Junk for every other key, plus lines that are not settings at all,
    // written straight into the store's file.
    {
        QFile file(settings.filePath());
        QVERIFY(file.open(QIODevice::Append));
        file.write("fuelType=@Variant(\\0\\0\\0\\x7f\\xff\\xff\\xff)\n"
                   "gpsIncludeDistance=1e999\n"
                   "stalePriceDays=\xff\xfe garbage \x01\n"
                   "startTab=-2147483648\n"
                   "this line has no equals sign\n"
                   "[\n");
        file.write(QByteArray("\x00\x01\x02\n", 4));
    }

    server.setResponse("getStationsByWatchlist", Response::ok(stationsDoc(3)));

    {
        MainWindow window;
        window.show();
        auto *tabs = window.findChild<QTabWidget *>("tabWidgit");
        QVERIFY(tabs->currentIndex() >= 0 && tabs->currentIndex() < tabs->count());
        // The valid keys came through; the watch list is asked for with them.
        triggerMenu(window, "actionWatch_List");
        QVERIFY(server.waitForRequestsForPath("getStationsByWatchlist", 1));
        QCOMPARE(server.requestsForPath("getStationsByWatchlist").last().queryValue("username"),
                 QStringLiteral("joe"));
        QTRY_COMPARE_WITH_TIMEOUT(table(window, "favsTable")->rowCount(), 3, 10000);

        // A normal visit to the settings tab writes the store.
        triggerMenu(window, "actionSettings");
        triggerMenu(window, "actionArea");
    }

    QSettings store = settings.store();
    QCOMPARE(store.value("username").toString(), QStringLiteral("joe"));
    QCOMPARE(store.value("password").toString(), QStringLiteral("s3cret"));
    for (const char *key : {"fuelType", "gpsIncludeDistance", "stalePriceDays", "startTab"}) {
        bool ok = false;
        store.value(key).toInt(&ok);
        QVERIFY2(ok, key);
    }
}

// Text with a lone UTF-16 surrogate (which no valid UTF-8 can produce, but a
// QString can hold) must not break the reply document around it: the writer
// used to lose every element and attribute name after it.
void tst_Faults::serviceDocumentsSurviveUnpairedSurrogates()
{
#ifndef VELMORA_HAVE_SERVICE_CORE
    QSKIP("the service is not built");
#else
    auto wellFormed = [](const QByteArray &doc, const QString &attr, QStringList *values) {
        QXmlStreamReader reader(doc);
        while (!reader.atEnd())
            if (reader.readNext() == QXmlStreamReader::StartElement && reader.attributes().hasAttribute(attr))
                *values << reader.attributes().value(attr).toString();
        return !reader.hasError();
    };

    const QStringList counties{QStringLiteral("Cork"), QString(QChar(0xD800)), QStringLiteral("Kerry")};
    QStringList names;
    const QByteArray countiesDoc = velmora::countiesDocument(counties);
    QVERIFY2(wellFormed(countiesDoc, QStringLiteral("Name"), &names), countiesDoc.constData());
    QCOMPARE(names.size(), 3);
    QCOMPARE(names.first(), QStringLiteral("Cork"));
    QCOMPARE(names.last(), QStringLiteral("Kerry"));

    velmora::StationRecord broken;
    broken.id = 1;
    broken.name = QStringLiteral("Emo ") + QChar(0xDC00) + QStringLiteral("Mallow");
    velmora::StationRecord next;
    next.id = 2;
    next.name = QStringLiteral("Top ") + QChar(0xD83D) + QChar(0xDE00); // a proper pair stays
    QStringList ids, stationNames;
    const QByteArray stationsDoc = velmora::stationsDocument({broken, next});
    QVERIFY2(wellFormed(stationsDoc, QStringLiteral("ID"), &ids), stationsDoc.constData());
    QCOMPARE(ids, QStringList({QStringLiteral("1"), QStringLiteral("2")}));
    wellFormed(stationsDoc, QStringLiteral("name"), &stationNames);
    QCOMPARE(stationNames.last(), next.name);
#endif
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
