// The password in a real Secret Service: a gnome-keyring-daemon with an
// unlocked login keyring on a D-Bus session bus of this test's own. The
// window moves a password out of the settings file into it, reads it before
// the first request that needs it, and keeps new passwords there only.

#include "tst_stationfixture.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

using namespace StationFixture;

namespace {

// Runs a job on the window's keyring entry to its end (five seconds at most)
// and tells whether it worked.
bool finish(QKeychain::Job &job)
{
    job.setAutoDelete(false);
    job.setKey(QStringLiteral("password"));
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    return job.error() == QKeychain::NoError;
}

// What the keyring holds for the window's entry; a null string when it
// holds nothing.
QString keyringPassword()
{
    QKeychain::ReadPasswordJob job(QStringLiteral("Velmora"));
    return finish(job) ? job.textData() : QString();
}

bool setKeyringPassword(const QString &password)
{
    QKeychain::WritePasswordJob job(QStringLiteral("Velmora"));
    job.setTextData(password);
    return finish(job);
}

} // namespace

class TstKeyring : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void filePasswordMovesIntoKeyring();
    void keyringPasswordReadBeforeFirstRequest();

private:
    // Points the window's keyring at the test's bus (the environment set
    // this test's settings store and hid every bus).
    void useTestBus() { qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress); }
    QByteArray settingsFile() const
    {
        QFile file(m_w->settings.filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_home;
    QProcess m_bus;
    QProcess m_keyring;
    QByteArray m_busAddress;
    Harness *m_w = nullptr;
};

void TstKeyring::initTestCase()
{
    const QString busDaemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    const QString keyringDaemon = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
    if (busDaemon.isEmpty() || keyringDaemon.isEmpty())
        QSKIP("dbus-daemon or gnome-keyring-daemon is not installed (Debian: dbus, gnome-keyring)");
    QVERIFY(m_home.isValid());

    // Everything the daemons keep goes below the temporary folder.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
        const QString dir = m_home.filePath(QString::fromLatin1(name));
        QVERIFY(QDir().mkpath(dir));
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(QString::fromLatin1(name), dir);
    }
    m_bus.setProcessEnvironment(env);
    m_bus.start(busDaemon, {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    QVERIFY(m_bus.waitForStarted());
    while (!m_bus.canReadLine())
        QVERIFY2(m_bus.waitForReadyRead(10000), "dbus-daemon printed no address");
    m_busAddress = m_bus.readLine().trimmed();
    QVERIFY(!m_busAddress.isEmpty());

    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(m_busAddress));
    m_keyring.setProcessEnvironment(env);
    m_keyring.start(keyringDaemon, {"--unlock", "--components=secrets", "--foreground"});
    QVERIFY(m_keyring.waitForStarted());
    m_keyring.write("keyring test password");
    m_keyring.closeWriteChannel();

    // The window waits for the keyring as long as this test would: a
    // daemon short of processor time answers later than a window would wait.
    qputenv("VELMORA_KEYRING_WAIT_MS", "20000");
    // Ready once an entry can be written to it: the service registers on the
    // bus a moment after the daemon starts.
    useTestBus();
    QTRY_VERIFY2_WITH_TIMEOUT(setKeyringPassword(QString()), "the keyring never answered", 20000);
}

void TstKeyring::cleanupTestCase()
{
    for (QProcess *daemon : {&m_keyring, &m_bus}) {
        if (daemon->state() == QProcess::NotRunning)
            continue;
        daemon->terminate();
        if (!daemon->waitForFinished(5000))
            daemon->kill();
    }
}

void TstKeyring::init()
{
    m_w = new Harness;
    useTestBus();
}

void TstKeyring::cleanup()
{
    delete m_w;
    m_w = nullptr;
}

// An existing user's password leaves the settings file for the keyring on
// the first start, and the start-up watch list is asked for with it.
void TstKeyring::filePasswordMovesIntoKeyring()
{
    QKeychain::DeletePasswordJob forget(QStringLiteral("Velmora"));
    finish(forget);
    QCOMPARE(keyringPassword(), QString());

    m_w->settings.store().setValue(QStringLiteral("username"), QStringLiteral("ann"));
    m_w->settings.store().setValue(QStringLiteral("password"), QStringLiteral("from-the-file"));
    m_w->settings.store().setValue(QStringLiteral("startTab"), 2);
    QVERIFY(m_w->start());

    QVERIFY(m_w->server.waitForRequestsForPath(QStringLiteral("getStationsByWatchlist"), 1));
    QCOMPARE(m_w->server.requestsForPath("getStationsByWatchlist").first().queryValue("password"),
             QStringLiteral("from-the-file"));
    QTRY_COMPARE_WITH_TIMEOUT(keyringPassword(), QStringLiteral("from-the-file"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_w->settings.store().contains(QStringLiteral("password")), 20000);
    QVERIFY(!settingsFile().contains("from-the-file"));
}

// The keyring's password is the one the first request carries; a new one
// typed on the settings tab goes to the keyring and never to the file.
void TstKeyring::keyringPasswordReadBeforeFirstRequest()
{
    QVERIFY(setKeyringPassword(QStringLiteral("kept-in-keyring")));
    m_w->settings.store().setValue(QStringLiteral("username"), QStringLiteral("ann"));
    m_w->settings.store().setValue(QStringLiteral("startTab"), 2);
    QVERIFY(m_w->start());
    QVERIFY(m_w->server.waitForRequestsForPath(QStringLiteral("getStationsByWatchlist"), 1));
    QCOMPARE(m_w->server.requestsForPath("getStationsByWatchlist").first().queryValue("password"),
             QStringLiteral("kept-in-keyring"));
    QCOMPARE(m_w->ui()->password->text(), QStringLiteral("kept-in-keyring"));

    Ui_MainWindow *ui = m_w->ui();
    ui->tabWidgit->setCurrentIndex(3);
    ui->password->setText(QStringLiteral("typed-anew"));
    ui->tabWidgit->setCurrentIndex(0);
    QCOMPARE(keyringPassword(), QStringLiteral("typed-anew"));
    QVERIFY(m_w->settings.store().contains(QStringLiteral("username")));
    QVERIFY(!m_w->settings.store().contains(QStringLiteral("password")));
    QVERIFY(!settingsFile().contains("typed-anew"));
    QVERIFY(!settingsFile().contains("kept-in-keyring"));
}

QTEST_MAIN(TstKeyring)
#include "tst_keyring.moc"
