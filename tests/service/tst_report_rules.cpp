// Which price reports a station shows: where the reporter stood, how often
// an account reports, how far a price is from the recent ones, a second
// account confirming a held price, and the operator's decisions.

#include "geo.h"
#include "servicefixture.h"

class TestReportRules : public QObject
{
    Q_OBJECT
private slots:
    void rules_data();
    void rules();
};

namespace {

// Station 1 and its nearest neighbour (within 10 km) carry the history.
struct Scene
{
    ServiceFixture f { 40, config() };
    QString station = QStringLiteral("1");
    QString neighbour;
    double lat = 0, lng = 0;
    QString shownBefore;

    static velmora::ServiceConfig config()
    {
        velmora::ServiceConfig c = ServiceFixture::testConfig();
        c.reportRules.perHour = 3;
        return c;
    }

    Scene()
    {
        for (const char *name : { "ann", "bob", "cid" })
            f.service->setUser(QString::fromLatin1(name), QStringLiteral("pw"));
        const QStringList at = f.scalar("SELECT lat || ' ' || lng FROM stations WHERE id = 1").split(' ');
        lat = at.value(0).toDouble();
        lng = at.value(1).toDouble();
        neighbour = f.scalar(QStringLiteral("SELECT id FROM stations WHERE id <> 1 ORDER BY"
                                            " (lat - %1) * (lat - %1) + (lng - %2) * (lng - %2) LIMIT 1")
                                     .arg(lat, 0, 'f', 6).arg(lng, 0, 'f', 6));
        shownBefore = f.station(station).value("petrolPrice");
    }

    // "cid 180 2h" (an accepted report of cid two hours ago) or, on the
    // neighbour, "cid 180 2h near"; "held" at the end stores it held.
    void history(const QString &line)
    {
        const QStringList w = line.split(' ');
        const qint64 age = w.at(2).chopped(1).toLongLong() * (w.at(2).endsWith('d') ? 86400 : 3600);
        QSqlQuery q(f.store->connection());
        q.prepare("INSERT INTO price_reports (user_id, station_id, fuel, price, reported_at, state)"
                  " SELECT id, ?, 'Petrol', ?, ?, ? FROM users WHERE name = ?");
        q.addBindValue(w.contains("near") ? neighbour : station);
        q.addBindValue(w.at(1).toDouble());
        q.addBindValue(QDateTime::currentSecsSinceEpoch() - age);
        q.addBindValue(w.contains("held") ? "held" : "accepted");
        q.addBindValue(w.at(0));
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    }

    // "ann 181.9 at" reports petrol on station 1 from the station ("far":
    // 5.5 km north, "bad": a latitude alone, "-": no position); "ann 150
    // s7" reports on station 7 without a position. "!reject" takes the last report
    // back; "!block ann" blocks an account. Returns the answer word.
    QByteArray step(const QString &line)
    {
        const QStringList w = line.split(' ');
        // The operator's tools work on a store of their own beside the
        // running service, which learns of their changes as it polls.
        if (w.at(0).startsWith('!')) {
            velmora::Store tool(f.store->path());
            QString error;
            if (!tool.open(&error))
                return error.toUtf8();
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            QList<qint64> unknown;
            if (w.at(0) == "!reject")
                return tool.decideReports({ f.scalar("SELECT MAX(id) FROM price_reports").toLongLong() }, false, "test",
                                          now, &unknown) && unknown.isEmpty() ? "done" : "failed";
            return tool.setUserBlocked(w.at(1), true, "test", now) == velmora::Store::RemoveResult::Removed ? "done"
                                                                                                             : "failed";
        }
        const bool elsewhere = w.at(2).startsWith('s');
        Query query { { "id", elsewhere ? w.at(2).mid(1) : station }, { "username", w.at(0) },
                      { "password", "pw" }, { "price", w.at(1) }, { "type", "Petrol" }, { "appId", "t" } };
        if (w.at(2) == "at" || w.at(2) == "far")
            query << qMakePair(QStringLiteral("lat"), QString::number(lat + (w.at(2) == "far" ? 0.05 : 0), 'f', 6))
                  << qMakePair(QStringLiteral("lng"), QString::number(lng, 'f', 6));
        if (w.at(2) == "bad")
            query << qMakePair(QStringLiteral("lat"), QString::number(lat, 'f', 6));
        return f.api("updatePrice.php", query).body;
    }
};

} // namespace

void TestReportRules::rules_data()
{
    QTest::addColumn<QStringList>("history");
    QTest::addColumn<QStringList>("steps"); // each "REPORT -> ANSWER"
    QTest::addColumn<QString>("shown");     // station 1's petrol price after; "before": unchanged
    QTest::addColumn<QString>("states");    // of the reports made by the steps, in order

    const QStringList usual { "cid 180 2h", "cid 181 3d", "cid 182 10d" };
    QTest::newRow("near the station") << usual << QStringList { "ann 183 at -> SUCCESS" } << "183.0" << "accepted";
    QTest::newRow("far from it") << usual << QStringList { "ann 183 far -> SUCCESS" } << "before" << "held";
    QTest::newRow("half a position") << usual << QStringList { "ann 183 bad -> SUCCESS" } << "before" << "held";
    QTest::newRow("no position") << usual << QStringList { "ann 183 - -> SUCCESS" } << "183.0" << "accepted";
    QTest::newRow("second report replaces the first")
            << usual << QStringList { "ann 183 at -> SUCCESS", "ann 184 at -> SUCCESS" } << "184.0"
            << "replaced accepted";
    QTest::newRow("hourly limit")
            << QStringList() << QStringList { "ann 150 s7 -> SUCCESS", "ann 151 at -> SUCCESS", "ann 152 at -> SUCCESS",
                                              "bob 151 s8 -> SUCCESS", "ann 153 s8 -> SUCCESS", "ann 154 s9 -> ERROR" }
            << "152.0" << "replaced accepted";
    QTest::newRow("off the station's median")
            << usual << QStringList { "ann 150 at -> SUCCESS" } << "before" << "held";
    QTest::newRow("older prices are no reference")
            << QStringList { "cid 180 31d", "cid 181 40d", "cid 182 45d" } << QStringList { "ann 150 at -> SUCCESS" }
            << "150.0" << "accepted";
    const QStringList nearby { "cid 180 2h near", "cid 181 1d near", "bob 182 2h" };
    QTest::newRow("off the neighbours' median") << nearby << QStringList { "ann 150 at -> SUCCESS" } << "before" << "held";
    QTest::newRow("within the neighbours' band") << nearby << QStringList { "ann 170 at -> SUCCESS" } << "170.0" << "accepted";
    QTest::newRow("no reference at all") << QStringList() << QStringList { "ann 120 at -> SUCCESS" } << "120.0" << "accepted";
    QTest::newRow("held, then confirmed by another account")
            << usual << QStringList { "ann 150 at -> SUCCESS", "ann 150.4 at -> SUCCESS", "bob 151.3 at -> SUCCESS" }
            << "151.3" << "replaced accepted accepted";
    QTest::newRow("held, confirmed by nobody but the same account")
            << usual << QStringList { "ann 150 at -> SUCCESS", "ann 150 far -> SUCCESS" } << "before" << "replaced held";
    QTest::newRow("held, expired before the confirmation")
            << QStringList { "cid 180 2h", "cid 181 3d", "cid 182 10d", "ann 150 25h held" }
            << QStringList { "bob 150 at -> SUCCESS" } << "before" << "held";
    QTest::newRow("blocked account")
            << usual << QStringList { "ann 150 at -> SUCCESS", "!block ann -> done", "ann 183 at -> BADLOGIN" } << "before"
            << "dropped";
    QTest::newRow("rejected report gives back the price before it")
            << QStringList() << QStringList { "ann 150 at -> SUCCESS", "bob 160 at -> SUCCESS", "!reject -> done" }
            << "150.0" << "accepted rejected";
    QTest::newRow("rejecting the only report restores the original price")
            << QStringList() << QStringList { "ann 150 at -> SUCCESS", "!reject -> done" } << "before" << "rejected";
}

void TestReportRules::rules()
{
    QFETCH(QStringList, history);
    QFETCH(QStringList, steps);
    QFETCH(QString, shown);
    QFETCH(QString, states);

    Scene scene;
    const QStringList near = scene.f.scalar("SELECT lat || ' ' || lng FROM stations WHERE id = " + scene.neighbour).split(' ');
    QVERIFY(velmora::haversineKm(scene.lat, scene.lng, near.value(0).toDouble(), near.value(1).toDouble()) < 10);
    for (const QString &line : history)
        scene.history(line);
    const QString firstOwn = QString::number(scene.f.scalar("SELECT COUNT(*) FROM price_reports").toInt());
    for (const QString &step : steps) {
        const QStringList parts = step.split(" -> ");
        QCOMPARE(scene.step(parts.at(0)), parts.at(1).toLatin1());
    }
    QTRY_COMPARE(scene.f.station(scene.station).value("petrolPrice"), shown == "before" ? scene.shownBefore : shown);
    QCOMPARE(scene.f.rows("SELECT state FROM price_reports WHERE station_id = 1 AND id > " + firstOwn + " ORDER BY id")
                     .join(' '),
             states);
    // Every report's state is explained in the history, and no position is kept.
    QCOMPARE(scene.f.scalar("SELECT COUNT(*) FROM price_reports r WHERE r.id > " + firstOwn + " AND r.state <>"
                            " (SELECT d.state FROM report_decisions d WHERE d.report_id = r.id ORDER BY d.id DESC LIMIT 1)"),
             QStringLiteral("0"));
    QCOMPARE(scene.f.scalar("SELECT COUNT(*) FROM price_reports WHERE lat IS NOT NULL OR lng IS NOT NULL"),
             QStringLiteral("0"));
}

QTEST_GUILESS_MAIN(TestReportRules)
#include "tst_report_rules.moc"
