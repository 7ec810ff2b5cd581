#include "servicefixture.h"
class TestServiceaccounts : public QObject { Q_OBJECT private slots: void placeholder() { QVERIFY(true); } };
QTEST_GUILESS_MAIN(TestServiceaccounts)
#include "tst_service_accounts.moc"
