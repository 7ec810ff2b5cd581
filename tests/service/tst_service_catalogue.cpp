#include "servicefixture.h"

class TestServiceCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void counties();
};

void TestServiceCatalogue::counties()
{
    ServiceFixture f;
    const auto r = f.api(QStringLiteral("getCounties.php"));
    QCOMPARE(r.status, 200);
    QCOMPARE(elements(r.body, QStringLiteral("county")).size(), 26);
}

QTEST_GUILESS_MAIN(TestServiceCatalogue)
#include "tst_service_catalogue.moc"
