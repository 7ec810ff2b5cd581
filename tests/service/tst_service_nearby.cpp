#include "servicefixture.h"
class TestServicenearby : public QObject { Q_OBJECT private slots: void placeholder() { QVERIFY(true); } };
QTEST_GUILESS_MAIN(TestServicenearby)
#include "tst_service_nearby.moc"
