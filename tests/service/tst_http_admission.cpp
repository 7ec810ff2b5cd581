// Which connection makes room for a new one, decided on plain data: no
// sockets, the clock passed in.

#include "admission.h"

#include <QtTest>

using velmora::Admission;
using namespace std::chrono_literals;

class TstHttpAdmission : public QObject
{
    Q_OBJECT

private slots:
    void roomIsMadeByTheOldestWaitingConnection();
    void aFullPeerOnlyEvictsItsOwn();
    void busyConnectionsAreNeverEvicted();
    void leavingForgetsThePeer();
};

namespace {

const Admission::Clock::time_point T0 {};

} // namespace

void TstHttpAdmission::roomIsMadeByTheOldestWaitingConnection()
{
    Admission a({ 3, 3 });
    const Admission::Id served = a.admit("10.0.0.1", T0).id;
    const Admission::Id older = a.admit("10.0.0.2", T0).id;
    const Admission::Id newer = a.admit("10.0.0.3", T0).id;
    a.waiting(served, T0);
    a.answering(served);
    a.waiting(served, T0 + 1s); // waits for its second request
    a.waiting(older, T0 + 2s);
    a.waiting(newer, T0 + 3s);
    // A connection that never completed a request goes first, the oldest of
    // those; one that did only when no other waits.
    const Admission::Verdict first = a.admit("10.0.0.4", T0 + 4s);
    QVERIFY(first.admitted);
    QCOMPARE(first.evicted, older);
    a.leave(older);
    a.waiting(first.id, T0 + 5s);
    a.answering(first.id);
    const Admission::Verdict second = a.admit("10.0.0.5", T0 + 6s);
    QCOMPARE(second.evicted, newer);
}

void TstHttpAdmission::aFullPeerOnlyEvictsItsOwn()
{
    Admission a({ 10, 2 });
    const Admission::Id other = a.admit("10.0.0.9", T0).id;
    a.waiting(other, T0);
    const Admission::Id own1 = a.admit("10.0.0.1", T0).id;
    const Admission::Id own2 = a.admit("10.0.0.1", T0).id;
    a.waiting(own2, T0 + 1s);
    a.waiting(own1, T0 + 2s);
    const Admission::Verdict v = a.admit("10.0.0.1", T0 + 3s);
    QVERIFY(v.admitted);
    QCOMPARE(v.evicted, own2);
    QCOMPARE(a.admit("10.0.0.9", T0 + 3s).evicted, Admission::Id(0));
}

void TstHttpAdmission::busyConnectionsAreNeverEvicted()
{
    Admission a({ 2, 2 });
    for (const char *peer : { "10.0.0.1", "10.0.0.2" }) {
        const Admission::Id id = a.admit(peer, T0).id;
        a.waiting(id, T0);
        a.answering(id);
    }
    const Admission::Verdict v = a.admit("10.0.0.3", T0 + 1s);
    QVERIFY(!v.admitted);
    QCOMPARE(v.evicted, Admission::Id(0));
    QCOMPARE(a.connections(), std::size_t(2));
}

void TstHttpAdmission::leavingForgetsThePeer()
{
    Admission a({ 1, 1 });
    const Admission::Id id = a.admit("10.0.0.1", T0).id;
    for (int i = 0; i < 100; ++i)
        QVERIFY(!a.admit("10.1.0." + std::to_string(i), T0).admitted);
    QCOMPARE(a.peers(), std::size_t(1));
    a.leave(id);
    QCOMPARE(a.peers(), std::size_t(0));
    QCOMPARE(a.connections(), std::size_t(0));
}

QTEST_GUILESS_MAIN(TstHttpAdmission)
#include "tst_http_admission.moc"
