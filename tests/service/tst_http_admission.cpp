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
    void roomIsMadeByTheOldestIdleConnection();
    void aFullPeerOnlyEvictsItsOwn();
    void theAddressHoldingMostGivesWayFirst();
    void connectionsAtWorkAreNeverEvicted();
    void evictionNeverExceedsTheLimit();
    void downloadsAreLimitedInAllAndPerPeer();
};

namespace {

const Admission::Clock::time_point T0 {};

Admission::Limits limits(int total, int perPeer)
{
    Admission::Limits l;
    l.total = total;
    l.perPeer = perPeer;
    l.downloads = 3;
    l.downloadsPerPeer = 2;
    l.stalledAfter = 2s;
    return l;
}

// A connection that has been sent one whole reply and waits again.
void serveOnce(Admission &a, Admission::Id id, Admission::Clock::time_point at)
{
    QVERIFY(a.waiting(id, at));
    QVERIFY(a.answering(id));
    QVERIFY(a.sending(id, at));
    QVERIFY(a.waiting(id, at));
}

} // namespace

void TstHttpAdmission::roomIsMadeByTheOldestIdleConnection()
{
    Admission a(limits(4, 4));
    const Admission::Id served = a.admit("10.0.0.1", T0).id;
    const Admission::Id older = a.admit("10.0.0.2", T0).id;
    const Admission::Id newer = a.admit("10.0.0.3", T0).id;
    const Admission::Id sender = a.admit("10.0.0.4", T0).id;
    serveOnce(a, served, T0 + 1s);
    a.waiting(older, T0 + 2s);
    a.waiting(newer, T0 + 3s);
    a.answering(sender);
    a.sending(sender, T0 + 1500ms); // takes nothing from here on
    // At 3 s the sender has stalled for 1.5 s only: of the idle ones that
    // never completed a request, the oldest goes.
    QCOMPARE(a.admit("10.0.1.1", T0 + 3s).evicted, older);
    // At 4 s the sender has stalled for longer than allowed, and stalled
    // since before the newer one began waiting.
    QCOMPARE(a.admit("10.0.1.2", T0 + 4s).evicted, sender);
    QCOMPARE(a.admit("10.0.1.3", T0 + 4s).evicted, newer);
    // Only connections that did complete a request are left to choose.
    QCOMPARE(a.admit("10.0.1.4", T0 + 4s).evicted, served);
}

void TstHttpAdmission::aFullPeerOnlyEvictsItsOwn()
{
    Admission a(limits(10, 2));
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

void TstHttpAdmission::theAddressHoldingMostGivesWayFirst()
{
    Admission a(limits(4, 4));
    const Admission::Id newcomer = a.admit("10.0.0.1", T0).id;
    a.waiting(newcomer, T0); // its request still on the way
    for (int i = 0; i < 3; ++i)
        a.waiting(a.admit("10.9.9.9", T0 + 1s).id, T0 + 1s);
    const Admission::Verdict v = a.admit("10.9.9.9", T0 + 2s);
    QVERIFY(v.evicted != 0);
    QVERIFY(v.evicted != newcomer);
    QVERIFY(a.waiting(newcomer, T0 + 2s));
}

void TstHttpAdmission::connectionsAtWorkAreNeverEvicted()
{
    Admission a(limits(2, 2));
    const Admission::Id answering = a.admit("10.0.0.1", T0).id;
    a.waiting(answering, T0);
    a.answering(answering);
    const Admission::Id sending = a.admit("10.0.0.2", T0).id;
    a.answering(sending);
    a.sending(sending, T0);
    a.progress(sending, T0 + 9s); // slow, but taking its reply
    for (int i = 0; i < 100; ++i) {
        const Admission::Verdict v = a.admit("10.1.0." + std::to_string(i), T0 + 10s);
        QVERIFY(!v.admitted);
        QCOMPARE(v.evicted, Admission::Id(0));
    }
    // Refused addresses leave nothing behind.
    QCOMPARE(a.peers(), std::size_t(2));
    a.leave(answering);
    a.leave(sending);
    QCOMPARE(a.peers(), std::size_t(0));
    QCOMPARE(a.connections(), std::size_t(0));
}

void TstHttpAdmission::evictionNeverExceedsTheLimit()
{
    Admission a(limits(3, 3));
    std::vector<Admission::Id> ids;
    for (int i = 0; i < 3; ++i) {
        ids.push_back(a.admit("10.0.0." + std::to_string(i), T0).id);
        a.waiting(ids.back(), T0 + std::chrono::seconds(i));
    }
    const Admission::Verdict v = a.admit("10.0.0.9", T0 + 5s);
    QCOMPARE(v.evicted, ids[0]);
    QCOMPARE(a.connections(), std::size_t(3));
    // The victim's request arriving before it is closed does not bring it
    // back, and it is never chosen twice.
    QVERIFY(!a.answering(ids[0]));
    QVERIFY(!a.waiting(ids[0], T0 + 6s));
    QCOMPARE(a.admit("10.0.0.10", T0 + 6s).evicted, ids[1]);
    QCOMPARE(a.connections(), std::size_t(3));
    a.leave(ids[0]); // its destructor runs later: no double count
    QCOMPARE(a.connections(), std::size_t(3));
}

void TstHttpAdmission::downloadsAreLimitedInAllAndPerPeer()
{
    Admission a(limits(100, 100));
    auto download = [&](const std::string &peer) {
        const Admission::Id id = a.admit(peer, T0).id;
        a.answering(id);
        a.sending(id, T0);
        return std::make_pair(id, a.startDownload(id));
    };
    const auto first = download("10.0.0.1");
    QVERIFY(first.second);
    QVERIFY(download("10.0.0.1").second);
    QVERIFY(!download("10.0.0.1").second); // the peer's share
    QVERIFY(download("10.0.0.2").second);
    QVERIFY(!download("10.0.0.3").second); // all
    QCOMPARE(a.downloads(), 3);
    // A download ends with its reply (the connection waits again) or with
    // the connection.
    a.waiting(first.first, T0 + 1s);
    QVERIFY(download("10.0.0.3").second);
    QCOMPARE(a.downloads(), 3);
}

QTEST_GUILESS_MAIN(TstHttpAdmission)
#include "tst_http_admission.moc"
