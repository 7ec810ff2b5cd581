#include "servicefixture.h"
class TestServiceprocess : public QObject { Q_OBJECT private slots: void placeholder() { QVERIFY(true); } };
QTEST_GUILESS_MAIN(TestServiceprocess)
#include "tst_service_process.moc"
