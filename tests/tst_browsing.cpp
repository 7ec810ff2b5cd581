// The county-and-area walk of the area tab, driven by taps on the real
// lists: which page shows, what is emptied at once, and exactly which
// request reaches the server.

#include "tst_stationfixture.h"

#include "net/catalogue.h"
#include "support/debugcapture.h"

#include <QListWidget>
#include <QStackedWidget>

using namespace StationFixture;
using TestSupport::Response;

namespace {

const QString Dun = QStringLiteral("D\u00fan Laoghaire & Rathdown");

QListWidgetItem *findItem(QListWidget *list, const QString &text)
{
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

void tap(QListWidget *list, QListWidgetItem *item)
{
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(item).center());
}

} // namespace

class TstBrowsing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void countyTapAsksForItsAreas();
    void areaTapAsksForStationsOfCurrentCounty();
    void doubleClicksChooseToo();
    void choosingAgainEmptiesAtOnce();
    void areaTapWithoutCurrentCountySendsNothing();

private:
    // A shown window on the county page, its county list filled.
    std::unique_ptr<Harness> h;
    QListWidget *counties = nullptr;
    QListWidget *areas = nullptr;
};

void TstBrowsing::init()
{
    h = std::make_unique<Harness>();
    h->server.setResponse(QStringLiteral("getCounties"),
                          Response::ok(namesDoc(QStringLiteral("county"), {QStringLiteral("Cork"), Dun})));
    h->server.setResponse(QStringLiteral("getAreasByCounty"),
                          Response::ok(namesDoc(QStringLiteral("area"),
                                                {QStringLiteral("Mallow"), QStringLiteral("Ballincollig West")})));
    h->server.setResponse(QStringLiteral("getStationsByArea"),
                          Response::ok(stationsDoc({petrol("11", "1.389", 1), petrol("12", "1.459", 30)})));
    QVERIFY(h->start());
    h->window->resize(480, 640);
    h->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h->window.get()));
    h->chooseFuel(QStringLiteral("Petrol"), QStringLiteral("15"));
    counties = h->ui()->countyList;
    areas = h->ui()->areaList;
    QTRY_COMPARE(counties->count(), 2);
    QCOMPARE(h->ui()->stackedWidget->currentIndex(), 0);
}

void TstBrowsing::cleanup()
{
    h.reset();
}

void TstBrowsing::countyTapAsksForItsAreas()
{
    tap(counties, findItem(counties, Dun));

    QCOMPARE(h->window->windowTitle(), QStringLiteral("Velmora - Select an area"));
    QCOMPARE(h->ui()->stackedWidget->currentIndex(), 1);
    QVERIFY(h->waitHandled(QStringLiteral("getAreasByCounty")));

    const QList<TestSupport::RecordedRequest> sent = h->server.requestsForPath(QStringLiteral("getAreasByCounty"));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().path, QStringLiteral("/api/nokiaApp/getAreasByCounty.php"));
    QCOMPARE(sent.first().query.size(), 1);
    QCOMPARE(sent.first().queryValue(QStringLiteral("county")), Dun);
    QCOMPARE(sent.first().rawQuery, QStringLiteral("county=D%C3%BAn%20Laoghaire%20%26%20Rathdown"));

    QCOMPARE(areas->count(), 2);
    QCOMPARE(areas->item(0)->text(), QStringLiteral("Ballincollig West"));
}

void TstBrowsing::areaTapAsksForStationsOfCurrentCounty()
{
    tap(counties, findItem(counties, Dun));
    QVERIFY(h->waitHandled(QStringLiteral("getAreasByCounty")));
    const QString title = h->window->windowTitle();

    tap(areas, findItem(areas, QStringLiteral("Ballincollig West")));
    QCOMPARE(h->ui()->stackedWidget->currentIndex(), 2);
    QCOMPARE(h->window->windowTitle(), title);
    QVERIFY(h->waitHandled(QStringLiteral("getStationsByArea")));

    const QList<TestSupport::RecordedRequest> sent = h->server.requestsForPath(QStringLiteral("getStationsByArea"));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().path, QStringLiteral("/api/nokiaApp/getStationsByArea.php"));
    QCOMPARE(sent.first().rawQuery,
             QStringLiteral("county=D%C3%BAn%20Laoghaire%20%26%20Rathdown&area=Ballincollig%20West"));
    QCOMPARE(sent.first().queryValue(QStringLiteral("county")), Dun);
    QCOMPARE(sent.first().queryValue(QStringLiteral("area")), QStringLiteral("Ballincollig West"));

    // The area's stations arrive with their marks.
    QTableWidget *table = h->ui()->areaStationTable;
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("11"));
    QVERIFY(!table->item(0, 2)->data(Qt::DecorationRole).isNull());
    QCOMPARE(table->item(1, 2)->data(SubtitleRole).toString(), QStringLiteral("Stale"));
}

void TstBrowsing::doubleClicksChooseToo()
{
    emit counties->itemDoubleClicked(findItem(counties, QStringLiteral("Cork")));
    QCOMPARE(h->ui()->stackedWidget->currentIndex(), 1);
    QVERIFY(h->waitHandled(QStringLiteral("getAreasByCounty")));
    QCOMPARE(h->server.requestsForPath(QStringLiteral("getAreasByCounty")).last().queryValue(QStringLiteral("county")),
             QStringLiteral("Cork"));

    counties->setCurrentItem(findItem(counties, QStringLiteral("Cork")));
    emit areas->itemDoubleClicked(findItem(areas, QStringLiteral("Mallow")));
    QCOMPARE(h->ui()->stackedWidget->currentIndex(), 2);
    QVERIFY(h->waitHandled(QStringLiteral("getStationsByArea")));
    QCOMPARE(h->server.requestsForPath(QStringLiteral("getStationsByArea")).last().rawQuery,
             QStringLiteral("county=Cork&area=Mallow"));
}

void TstBrowsing::choosingAgainEmptiesAtOnce()
{
    tap(counties, findItem(counties, QStringLiteral("Cork")));
    QVERIFY(h->waitHandled(QStringLiteral("getAreasByCounty")));
    tap(areas, findItem(areas, QStringLiteral("Mallow")));
    QVERIFY(h->waitHandled(QStringLiteral("getStationsByArea")));
    QTableWidget *table = h->ui()->areaStationTable;
    QCOMPARE(table->rowCount(), 2);

    // Back to the area page, another area: the old cells are gone before
    // any reply, the rows stay until the reply sets them.
    h->ui()->stackedWidget->setCurrentIndex(1);
    h->server.setResponse(QStringLiteral("getStationsByArea"),
                          Response::ok(stationsDoc({petrol("21", "1.5")})).withDelay(200));
    tap(areas, findItem(areas, QStringLiteral("Ballincollig West")));
    QCOMPARE(table->rowCount(), 2);
    QVERIFY(!table->item(0, 0));
    QVERIFY(!table->item(1, 2));
    QVERIFY(h->waitHandled(QStringLiteral("getStationsByArea"), 2));
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("21"));

    // Back to the county page, another county: the old area names go at once
    // and do not come back.
    h->ui()->stackedWidget->setCurrentIndex(0);
    h->server.setResponse(QStringLiteral("getAreasByCounty"),
                          Response::ok(namesDoc(QStringLiteral("area"), {QStringLiteral("Dalkey")})).withDelay(200));
    tap(counties, findItem(counties, Dun));
    QCOMPARE(areas->count(), 0);
    QVERIFY(h->waitHandled(QStringLiteral("getAreasByCounty"), 2));
    QCOMPARE(areas->count(), 1);
    QCOMPARE(areas->item(0)->text(), QStringLiteral("Dalkey"));
}

void TstBrowsing::areaTapWithoutCurrentCountySendsNothing()
{
    tap(counties, findItem(counties, QStringLiteral("Cork")));
    QVERIFY(h->waitHandled(QStringLiteral("getAreasByCounty")));

    // A late county reply refills the list while the area page is shown.
    QVERIFY(h->request(Catalogue::counties(), QStringLiteral("getCounties")));
    QCOMPARE(counties->count(), 2);
    QVERIFY(!counties->currentItem());

    TestSupport::DebugCapture capture;
    const int before = h->server.requestCount();
    tap(areas, findItem(areas, QStringLiteral("Mallow")));
    emit areas->itemDoubleClicked(findItem(areas, QStringLiteral("Mallow")));
    // A request sent afterwards arrives; a stray station request would have
    // been issued before it.
    QVERIFY(h->request(versionCheckUrl, QStringLiteral("getVersionMaemo")));
    QVERIFY(!h->server.waitForRequestsForPath(QStringLiteral("getStationsByArea"), 1, 300));
    QCOMPARE(h->server.requestCount(), before + 1);
    QCOMPARE(capture.count(QStringLiteral("No county chosen")), 2);
    QCOMPARE(h->ui()->stackedWidget->currentIndex(), 1);
    QCOMPARE(areas->count(), 2);
}

QTEST_MAIN(TstBrowsing)
#include "tst_browsing.moc"
