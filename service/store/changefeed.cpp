// The change feed: LISTEN on PostgreSQL, kept alive by a timer; the change
// counter polled on SQLite. Whatever may have been missed is caught up by a
// resync, asked again on every tick until it succeeds.

#include "store.h"

#include "changefeed.h"
#include "connection.h"

#include <QDebug>
#include <QEventLoop>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTimer>

#include <future>

namespace velmora {

namespace {

// How often the change feed checks its connection (PostgreSQL) or the
// change counter (SQLite).
constexpr int kFeedCheckMs = 500;

} // namespace

bool Store::followStationChanges(std::function<void(qint64)> changed, std::function<bool()> resync,
                                 std::function<void()> tick)
{
    stopFollowing();
    auto started = std::make_shared<std::promise<bool>>();
    std::future<bool> firstAttempt = started->get_future();
    const QString name = QStringLiteral("velmora-feed-%1").arg(m_instance);
    const bool pg = m_backend == Backend::PostgreSQL;
    m_follower = std::make_unique<Follower>();
    m_follower->thread = QThread::create([this, name, pg, changed, resync, tick, started] {
        {
            QEventLoop loop;
            bool live = false, wasLive = false, reported = false, needsResync = false;
            QSqlDatabase db;
            if (pg) {
                db = addPostgresConnection(m_path, name);
                QObject::connect(db.driver(), &QSqlDriver::notification, &loop,
                                 [&](const QString &, QSqlDriver::NotificationSource, const QVariant &payload) {
                                     // An import changed the whole catalogue.
                                     if (payload.toString() == kCatalogueChanged)
                                         needsResync = !resync();
                                     else
                                         changed(payload.toLongLong());
                                 });
            }
            std::optional<qint64> seen; // the SQLite change counter last caught up with
            // PostgreSQL: a dropped LISTEN connection is noticed by the next
            // check and opened again; whatever changed meanwhile is caught up.
            auto checkListener = [&] {
                if (live) {
                    QSqlQuery q(db);
                    if (q.exec(QStringLiteral("SELECT 1")))
                        return;
                    qWarning() << "database: change feed lost its connection, reconnecting";
                    db.close();
                    live = false;
                }
                live = db.open() && db.driver()->subscribeToNotification(kStationChannel);
                if (!live)
                    db.close();
                else if (wasLive)
                    needsResync = true;
                wasLive = wasLive || live;
            };
            // SQLite: the counter moved since the last catch-up.
            std::optional<qint64> counter;
            auto checkCounter = [&] {
                counter = changeCounter();
                live = counter.has_value() || wasLive;
                wasLive = wasLive || live;
                if (!seen)
                    seen = counter;
                else if (counter && *counter != *seen)
                    needsResync = true;
            };
            auto check = [&] {
                if (pg)
                    checkListener();
                else
                    checkCounter();
                if (!reported) {
                    reported = true;
                    started->set_value(live);
                    return;
                }
                if (needsResync && resync()) {
                    needsResync = false;
                    if (!pg)
                        seen = counter;
                }
                if (tick)
                    tick();
            };
            QTimer timer;
            timer.setInterval(kFeedCheckMs);
            QObject::connect(&timer, &QTimer::timeout, &loop, check);
            check();
            timer.start();
            if (live)
                loop.exec();
        }
        if (pg)
            QSqlDatabase::removeDatabase(name);
        else
            releaseThreadConnection(); // the change counter's
    });
    m_follower->thread->start();
    if (firstAttempt.get())
        return true;
    stopFollowing();
    return false;
}

void Store::stopFollowing()
{
    m_follower.reset();
}

} // namespace velmora
