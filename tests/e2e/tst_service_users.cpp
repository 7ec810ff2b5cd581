// velmora-service user add|passwd|remove|list as a user runs them: the
// password from a pipe, never on the command line or in any output, the
// database each command acted on, and the accounts seen by a running
// service.

#include "serviceprocess.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

constexpr int ProcessTimeoutMs = 30000;

struct Run
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

class TstServiceUsers : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void passwordFromPipeNeverShows();
    void removeAndListThroughTheRunningService();
    void defaultDatabaseIsNamed();
    void oldAddUserFormWarns();

private:
    QString db() const { return m_dir->filePath(QStringLiteral("velmora.sqlite")); }
    // Runs `velmora-service user ARGS --db <db>` with `input` on its standard
    // input (a pipe); `whileWaiting` runs once it has started, before the
    // input is written.
    Run user(const QStringList &arguments, const QByteArray &input = QByteArray(),
             const std::function<void(qint64 pid)> &whileWaiting = {}, const QProcessEnvironment &env = {})
    {
        QProcess process;
        if (!env.isEmpty())
            process.setProcessEnvironment(env);
        QStringList all = QStringList { "user" } + arguments + QStringList { "--hash-iterations", "1000" };
        if (env.isEmpty())
            all << "--db" << db();
        process.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE), all);
        Run run;
        if (!process.waitForStarted(ProcessTimeoutMs))
            return run;
        if (whileWaiting)
            whileWaiting(process.processId());
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(ProcessTimeoutMs))
            return run;
        run.status = process.exitCode();
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }
    QByteArray get(const ServiceProcess &service, const QString &target)
    {
        std::unique_ptr<QNetworkReply> reply(m_net.get(QNetworkRequest(QUrl(service.baseUrl() + target))));
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, ProcessTimeoutMs))
            return QByteArray("no answer");
        return reply->readAll();
    }
    QByteArray addToWatchlist(const ServiceProcess &service, const QString &name, const QString &password)
    {
        return get(service, "/api/nokiaApp/addToWatchlist.php?id=5&username=" + QUrl::toPercentEncoding(name)
                                    + "&password=" + QUrl::toPercentEncoding(password));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QNetworkAccessManager m_net;
};

void TstServiceUsers::passwordFromPipeNeverShows()
{
    const QByteArray secret = "pl41n-s1ght";
    QByteArray commandLine;
    const Run added = user({ "add", "ann" }, secret + "\n", [&](qint64 pid) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly))
            commandLine = cmdline.readAll();
    });
    QCOMPARE(added.status, 0);
    QVERIFY(commandLine.contains("add\0ann"));
    QVERIFY(!commandLine.contains(secret));
    QCOMPARE(added.out, "Added ann in " + db().toUtf8() + "\n");
    QVERIFY(!added.err.contains(secret));

    // A second add refuses; passwd replaces it, again from the pipe.
    QCOMPARE(user({ "add", "ann" }, "other\n").status, 1);
    const Run changed = user({ "passwd", "ann" }, "n3w-s3cret\r\n");
    QCOMPARE(changed.status, 0);
    QVERIFY(changed.out.startsWith("Password changed for ann in "));
    const Run empty = user({ "passwd", "ann" }, QByteArray());
    QCOMPARE(empty.status, 1);
    QVERIFY(empty.err.contains("no password given"));

    ServiceProcess service;
    QVERIFY2(service.start(db()), qPrintable(service.errorText()));
    QCOMPARE(addToWatchlist(service, "ann", QString::fromLatin1(secret)), QByteArray("BADLOGIN"));
    QCOMPARE(addToWatchlist(service, "ann", "n3w-s3cret"), QByteArray("SUCCESS"));
    QVERIFY(service.stop());
    QVERIFY(!service.log().contains("n3w-s3cret"));
}

void TstServiceUsers::removeAndListThroughTheRunningService()
{
    const QString composed = QStringLiteral("Zo\u00eb");
    QCOMPARE(user({ "add", "bea" }, "pw-bea\n").status, 0);
    QCOMPARE(user({ "add", composed }, "pw-zoe\n").status, 0);
    ServiceProcess service;
    QVERIFY2(service.start(db()), qPrintable(service.errorText()));
    // The name typed the other Unicode way reaches the same account.
    QCOMPARE(addToWatchlist(service, QStringLiteral("Zoe\u0308"), "pw-zoe"), QByteArray("SUCCESS"));
    QCOMPARE(addToWatchlist(service, "bea", "pw-bea"), QByteArray("SUCCESS"));

    // Removed while the service runs: its next login fails at once.
    const Run removed = user({ "remove", "bea" });
    QCOMPARE(removed.status, 0);
    QVERIFY(removed.out.startsWith("Removed bea and its watch list from " + db().toUtf8()));
    QCOMPARE(addToWatchlist(service, "bea", "pw-bea"), QByteArray("BADLOGIN"));
    QCOMPARE(user({ "remove", "bea" }).status, 1);

    const Run listed = user({ "list" });
    QCOMPARE(listed.status, 0);
    QCOMPARE(listed.out, QByteArray("Zo\xC3\xAB\ndemo\n"));
    QVERIFY(listed.err.contains("2 accounts in " + db().toUtf8()));
}

// Without --db, an ordinary user's own data folder (this machine has no
// service account, so root is ordinary here too), named in the output.
void TstServiceUsers::defaultDatabaseIsNamed()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir->filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("HOME"), m_dir->path());
    if (QFile::exists(QStringLiteral("/var/lib/velmora-service")))
        QSKIP("this machine has the packaged service; its database is the default for root");
    const Run added = user({ "add", "cal" }, "pw\n", {}, env);
    QCOMPARE(added.status, 0);
    const QString expected = m_dir->filePath("data/Orvane Software/velmora-service/velmora.sqlite");
    QCOMPARE(added.out, "Added cal in " + expected.toUtf8() + "\n");
    QVERIFY(QFile::exists(expected));
}

void TstServiceUsers::oldAddUserFormWarns()
{
    QProcess add;
    add.start(QStringLiteral(VELMORA_SERVICE_EXECUTABLE),
              ServiceProcess::arguments(db()) + QStringList { "--add-user", "dan", "pw" });
    QVERIFY(add.waitForFinished(ProcessTimeoutMs));
    QCOMPARE(add.exitCode(), 0);
    QVERIFY(add.readAllStandardError().contains("warning: a password on the command line can be read by every user"));
    QCOMPARE(user({ "list" }).out, QByteArray("dan\ndemo\n"));
}

QTEST_MAIN(TstServiceUsers)
#include "tst_service_users.moc"
