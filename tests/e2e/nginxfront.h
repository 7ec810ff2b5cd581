#ifndef VELMORA_TESTS_NGINXFRONT_H
#define VELMORA_TESTS_NGINXFRONT_H

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

// The nginx site in deploy/ as shipped, run by a real nginx on free loopback
// ports in front of given service instances. Its certificate (for 127.0.0.1
// and localhost) is signed by a certificate authority made for this run with
// openssl, so a client trusts it only when told to trust that authority.
class NginxFront
{
public:
    ~NginxFront() { stop(); }

    // Empty when nginx or openssl is not installed.
    static QString missingTool()
    {
        if (nginx().isEmpty())
            return QStringLiteral("nginx not found: install nginx-light to run this test");
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            return QStringLiteral("openssl not found: install openssl to run this test");
        return QString();
    }

    // Makes the certificates, writes the configuration and starts nginx;
    // true once it answers on its HTTPS port. On failure see errorText().
    bool start(const QList<quint16> &instances)
    {
        if (!makeCertificates() || !writeConfiguration(instances))
            return false;
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(nginx(), { "-p", m_dir.path(), "-c", m_dir.filePath("nginx.conf"), "-e",
                                   m_dir.filePath("error.log") });
        // Until the start is confirmed the state reads "Starting", even when
        // nginx already answers on its port.
        if (!m_process.waitForStarted(10000))
            return failed("nginx did not start: " + m_process.errorString());
        auto up = [&] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_httpsPort);
            return socket.waitForConnected(200);
        };
        if (!QTest::qWaitFor([&] { return up() || m_process.state() == QProcess::NotRunning; }, 10000)
            || m_process.state() != QProcess::Running)
            return failed("nginx did not come up: " + m_process.readAll());
        return true;
    }
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
        }
    }

    QString httpsUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_httpsPort); }
    QString httpUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_httpPort); }
    // The authority that signed nginx's certificate (PEM).
    QString caFile() const { return m_dir.filePath(QStringLiteral("ca.pem")); }
    QString errorText() const { return m_error; }

private:
    static QString nginx()
    {
        return QStandardPaths::findExecutable(QStringLiteral("nginx"), { "/usr/sbin", "/usr/bin", "/sbin" });
    }
    bool failed(const QString &why)
    {
        m_error = why;
        return false;
    }
    bool openssl(const QStringList &arguments)
    {
        QProcess tool;
        tool.setWorkingDirectory(m_dir.path());
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral("openssl"), arguments);
        if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
            return failed("openssl " + arguments.join(' ') + ": " + tool.readAll());
        return true;
    }
    bool makeCertificates()
    {
        const QStringList key { "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes" };
        QFile extensions(m_dir.filePath(QStringLiteral("server.ext")));
        if (!extensions.open(QIODevice::WriteOnly))
            return failed("cannot write " + extensions.fileName());
        extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n");
        extensions.close();
        return openssl(QStringList { "req", "-x509" } + key
                       + QStringList { "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj",
                                       "/CN=Velmora test authority" })
                && openssl(QStringList { "req" } + key
                           + QStringList { "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1" })
                && openssl({ "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                             "-CAcreateserial", "-days", "2", "-extfile", "server.ext", "-out", "server.pem" });
    }
    static quint16 freePort()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
    }
    bool writeConfiguration(const QList<quint16> &instances)
    {
        QFile siteFile(QStringLiteral(VELMORA_DEPLOY_DIR "/nginx-velmora.conf"));
        if (!siteFile.open(QIODevice::ReadOnly))
            return failed("cannot read " + siteFile.fileName());
        QString site = QString::fromUtf8(siteFile.readAll());
        m_httpPort = freePort();
        m_httpsPort = freePort();
        site.remove(QRegularExpression(QStringLiteral("listen \\[::\\]:\\d+( ssl)?;")));
        site.replace(QStringLiteral("listen 80;"), QStringLiteral("listen 127.0.0.1:%1;").arg(m_httpPort));
        site.replace(QStringLiteral("listen 443 ssl;"), QStringLiteral("listen 127.0.0.1:%1 ssl;").arg(m_httpsPort));
        site.replace(QRegularExpression(QStringLiteral("ssl_certificate /\\S+;")),
                     "ssl_certificate " + m_dir.filePath("server.pem") + ";");
        site.replace(QRegularExpression(QStringLiteral("ssl_certificate_key /\\S+;")),
                     "ssl_certificate_key " + m_dir.filePath("server.key") + ";");
        // The shipped upstream block lists its instances; ours take their
        // places in turn.
        int upstream = 0;
        const QRegularExpression server(QStringLiteral("server 127\\.0\\.0\\.1:\\d+"));
        for (auto match = server.match(site); match.hasMatch(); match = server.match(site, match.capturedStart() + 1))
            site.replace(match.capturedStart(), match.capturedLength(),
                         "server 127.0.0.1:" + QString::number(instances.at(upstream++ % instances.size())));
        if (upstream == 0)
            return failed("no upstream server in the site");
        const QString conf = QStringLiteral(
                "daemon off;\nworker_processes 1;\npid %1/nginx.pid;\nerror_log %1/error.log;\n%2"
                "events { worker_connections 128; }\n"
                "http {\n access_log %1/access.log;\n client_body_temp_path %1/body;\n proxy_temp_path %1/proxy;\n"
                " fastcgi_temp_path %1/fastcgi;\n uwsgi_temp_path %1/uwsgi;\n scgi_temp_path %1/scgi;\n%3\n}\n")
                                     .arg(m_dir.path(), ::geteuid() == 0 ? "user root;\n" : "", site);
        QFile confFile(m_dir.filePath(QStringLiteral("nginx.conf")));
        if (!confFile.open(QIODevice::WriteOnly))
            return failed("cannot write " + confFile.fileName());
        confFile.write(conf.toUtf8());
        return true;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_httpPort = 0;
    quint16 m_httpsPort = 0;
    QString m_error;
};

#endif
