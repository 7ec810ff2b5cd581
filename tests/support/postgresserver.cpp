#include "postgresserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace TestSupport {

namespace {

constexpr const char *kSystemUser = "postgres";
constexpr const char *kSuperuser = "velmora";

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

} // namespace

PostgresServer::PostgresServer() = default;

PostgresServer::~PostgresServer()
{
    if (m_running)
        run(QStringLiteral("pg_ctl"), { "-D", dataDir(), "-m", "immediate", "-w", "stop" }, 20000);
}

QString PostgresServer::binDir()
{
    const QString forced = QProcessEnvironment::systemEnvironment().value(QStringLiteral("VELMORA_PG_BINDIR"));
    if (!forced.isEmpty())
        return QFileInfo::exists(forced + "/pg_ctl") ? forced : QString();
    // Debian keeps the server programs per major version, off PATH.
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(found.begin(), found.end(), [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &version : found) {
        const QString dir = versions.filePath(version + "/bin");
        if (QFileInfo::exists(dir + "/initdb") && QFileInfo::exists(dir + "/pg_ctl"))
            return dir;
    }
    return QString();
}

bool PostgresServer::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    const QString path = binDir() + '/' + program;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (runningAsRoot())
        process.start(QStringLiteral("runuser"), QStringList { "-u", kSystemUser, "--", path } + arguments);
    else
        process.start(path, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        m_error = program + " did not finish: " + process.errorString();
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = program + " failed: " + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

bool PostgresServer::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    if (!m_created) {
        if (runningAsRoot()) {
            const passwd *user = ::getpwnam(kSystemUser);
            if (!user || ::chown(QFile::encodeName(m_dir.path()).constData(), user->pw_uid, user->pw_gid) != 0) {
                m_error = QStringLiteral("running as root, but the folder cannot be handed to the system user %1")
                                  .arg(kSystemUser);
                return false;
            }
        }
        if (!run(QStringLiteral("initdb"), { "-D", dataDir(), "-U", kSuperuser, "-A", "trust", "-E", "UTF8",
                                             "--no-locale", "--no-sync", "--no-instructions" }))
            return false;
        m_created = true;
    }
    // No TCP listener; the socket lives in the test's own folder. fsync is
    // off because the tests stop processes, never the machine.
    const QString options = QStringLiteral("-k %1 -c listen_addresses= -c fsync=off -c max_connections=60")
                                    .arg(m_dir.path());
    if (!run(QStringLiteral("pg_ctl"), { "-D", dataDir(), "-l", m_dir.filePath("server.log"), "-o", options,
                                         "-w", "-t", "60", "start" }))
        return false;
    m_running = true;
    return true;
}

bool PostgresServer::stop()
{
    if (!m_running)
        return true;
    m_running = false;
    return run(QStringLiteral("pg_ctl"), { "-D", dataDir(), "-m", "fast", "-w", "stop" });
}

bool PostgresServer::createDatabase(const QString &name)
{
    return run(QStringLiteral("createdb"), { "-h", m_dir.path(), "-U", kSuperuser, name });
}

QString PostgresServer::uri(const QString &database) const
{
    return QStringLiteral("postgresql:///%1?host=%2&user=%3").arg(database, m_dir.path(), QLatin1String(kSuperuser));
}

bool PostgresServer::freeze(bool frozen)
{
    QFile pidFile(dataDir() + QStringLiteral("/postmaster.pid"));
    if (!m_running || !pidFile.open(QIODevice::ReadOnly))
        return false;
    const pid_t postmaster = pid_t(pidFile.readLine().trimmed().toLong());
    if (postmaster <= 0)
        return false;
    // The postmaster and its children (backends, writers, the WAL writer).
    QList<pid_t> pids { postmaster };
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (comm) state ppid ...: comm may hold blanks, so split after ')'.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLong() == postmaster)
            pids << pid_t(entry.toLong());
    }
    bool ok = true;
    for (const pid_t pid : pids)
        ok = ::kill(pid, frozen ? SIGSTOP : SIGCONT) == 0 && ok;
    return ok;
}

} // namespace TestSupport
