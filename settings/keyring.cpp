#include "settings/keyring.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace {

// The entry the password is kept under.
const QString KeyringService = QStringLiteral("Velmora");
const QString PasswordKey = QStringLiteral("password");

} // namespace

Keyring::Keyring(QObject *parent)
    : QObject(parent)
{
}

void Keyring::start(int boundMs)
{
    m_state = State::Reading;
    // The job deletes itself when it finishes; a keyring that never answers
    // leaves it behind, which is cheaper than a crash in a late callback.
    auto *job = new QKeychain::ReadPasswordJob(KeyringService);
    job->setKey(PasswordKey);
    connect(job, &QKeychain::Job::finished, this, [this, job] {
        if (m_state != State::Reading)
            return; // too late: this run already uses the settings file
        if (job->error() == QKeychain::NoError)
            settle(State::Found, job->textData());
        else if (job->error() == QKeychain::EntryNotFound)
            settle(State::Empty);
        else
            settle(State::Absent);
    });
    QTimer::singleShot(boundMs, this, [this] {
        if (m_state == State::Reading)
            settle(State::Absent);
    });
    job->start();
}

void Keyring::settle(State state, const QString &password)
{
    m_state = state;
    m_password = password;
    emit settled();
}

void Keyring::whenSettled(QObject *context, std::function<void()> work)
{
    if (m_state != State::Reading) {
        work();
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(this, &Keyring::settled, context, [connection, work = std::move(work)] {
        QObject::disconnect(*connection);
        work();
    });
}

void Keyring::store(const QString &password, QObject *context, std::function<void(bool)> done)
{
    auto *job = new QKeychain::WritePasswordJob(KeyringService);
    job->setKey(PasswordKey);
    job->setTextData(password);
    connect(job, &QKeychain::Job::finished, context, [this, job, password, done = std::move(done)] {
        const bool stored = job->error() == QKeychain::NoError;
        if (stored)
            m_password = password;
        done(stored);
    });
    job->start();
}

bool Keyring::write(const QString &password, int boundMs)
{
    struct Outcome {
        bool finished = false;
        bool stored = false;
    };
    auto outcome = std::make_shared<Outcome>();
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    store(password, this, [outcome, waiting](bool stored) {
        outcome->finished = true;
        outcome->stored = stored;
        if (waiting)
            waiting->quit();
    });
    QTimer::singleShot(boundMs, &loop, &QEventLoop::quit);
    if (!outcome->finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return outcome->stored;
}
