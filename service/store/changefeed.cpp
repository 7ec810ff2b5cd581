// The change feed: LISTEN on PostgreSQL, kept alive by a timer, with a
// catch-up after every reconnection.

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

// How often the change feed checks that its connection is alive.
constexpr int kFeedCheckMs = 500;

} // namespace

bool Store::followStationChanges(std::function<void(qint64)> changed, std::function<void()> resync)
{
    if (m_backend != Backend::PostgreSQL)
        return false;
    stopFollowing();
    auto started = std::make_shared<std::promise<bool>>();
    std::future<bool> firstAttempt = started->get_future();
    const QString name = QStringLiteral("velmora-feed-%1").arg(m_instance);
    m_follower = std::make_unique<Follower>();
    m_follower->thread = QThread::create([this, name, changed, resync, started] {
        {
            QEventLoop loop;
            QSqlDatabase db = addPostgresConnection(m_path, name);
            QObject::connect(db.driver(), &QSqlDriver::notification, &loop,
                             [&](const QString &, QSqlDriver::NotificationSource, const QVariant &payload) {
                                 changed(payload.toLongLong());
                             });
            bool live = false, wasLive = false, reported = false;
            // Keeps the LISTEN connection up: a dropped one is noticed by
            // the next check and opened again, and whatever changed meanwhile
            // is caught up by resync().
            auto check = [&] {
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
                    resync();
                wasLive = wasLive || live;
                if (!reported) {
                    reported = true;
                    started->set_value(live);
                }
            };
            QTimer timer;
            timer.setInterval(kFeedCheckMs);
            QObject::connect(&timer, &QTimer::timeout, &loop, check);
            check();
            timer.start();
            if (live)
                loop.exec();
        }
        QSqlDatabase::removeDatabase(name);
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
