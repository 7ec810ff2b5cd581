// Every reply body the client can receive, through the real reply slot:
// one MainWindow on the offscreen platform, with all its tables and pages,
// gets httpReply() with a finished reply whose URL names one operation and
// whose body is the rest of the input.
//
// Input: byte 0 picks the operation (or, from 0x80 on, a direct parseReply
// with that byte as the kind, unused kinds included); the rest is the body.
//
// Message boxes: the watch-list, price-report and version answers open modal
// boxes. A 0 ms timer, which only fires while a nested event loop runs, closes
// whatever modal box is open, so no input blocks the fuzzer. The window's own
// start-up requests go to a loopback port that accepts and never answers,
// so no network-error dialog ever appears.
#include "app/constants.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <cstring>

namespace {

// A finished reply with a fixed URL and body.
class CannedReply : public QNetworkReply
{
public:
    CannedReply(const QUrl &url, const QByteArray &body) : m_body(body)
    {
        setUrl(url);
        setOperation(QNetworkAccessManager::GetOperation);
        open(QIODevice::ReadOnly);
        setFinished(true);
    }
    void abort() override {}
    qint64 bytesAvailable() const override { return m_body.size() - m_pos + QIODevice::bytesAvailable(); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 max) override
    {
        const qint64 n = qMin(max, qint64(m_body.size()) - m_pos);
        if (n <= 0)
            return -1;
        std::memcpy(data, m_body.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }

private:
    QByteArray m_body;
    qint64 m_pos = 0;
};

const char *const operations[] = {
    "/api/nokiaApp/getCounties.php",
    "/api/nokiaApp/getAreasByCounty.php?county=Cork",
    "/api/nokiaApp/getStationsByArea.php?county=Cork&area=Mallow",
    "/api/nokiaApp/getNearbyStations.php?latitude=53.3&longitude=-6.2&maxDistance=5",
    "/api/nokiaApp/getStationsByWatchlist.php?username=u&password=p",
    "/api/nokiaApp/getStationById.php?id=42",
    "/api/nokiaApp/getStationById.php?id=7",   // not the open station: dropped
    "/api/nokiaApp/addToWatchlist.php?username=u&password=p&id=42",
    "/api/nokiaApp/updatePrice.php?id=42&username=u&password=p&price=1.5&type=Petrol&appId=x",
    "/velmora/getVersionMaemo?current=05.4",
    "/api/nokiaApp/somethingElse.php",
};

MainWindow *window = nullptr;
QString base;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QTemporaryDir settingsDir;
    qputenv("XDG_CONFIG_HOME", settingsDir.path().toLocal8Bit());
    // Never destroyed: libFuzzer leaves through exit(), and tearing the
    // window system down from an exit handler crashes inside Qt.
    new QApplication(*argc, *argv);

    auto *silent = new QTcpServer;
    silent->listen(QHostAddress::LocalHost, 0);
    QObject::connect(silent, &QTcpServer::newConnection, silent, [silent] {
        while (silent->hasPendingConnections())
            silent->nextPendingConnection()->setParent(silent);
    });
    const QString host = QStringLiteral("127.0.0.1:%1").arg(silent->serverPort());
    base = QStringLiteral("http://") + host;
    serviceBaseUrl = base + QStringLiteral("/api/nokiaApp/");
    updateHost = host;
    versionCheckUrl = base + QStringLiteral("/velmora/getVersionMaemo?current=") + appVersion;

    window = new MainWindow;
    window->resize(800, 480);
    window->show();
    window->currentStationId = QStringLiteral("42");

    auto *closer = new QTimer;
    closer->setInterval(0);
    QObject::connect(closer, &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    closer->start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray body(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    const uint8_t selector = data[0];
    if (selector >= 0x80) {
        window->parseReply(body, selector - 0x80);
    } else {
        const size_t n = sizeof operations / sizeof operations[0];
        auto *reply = new CannedReply(QUrl(base + QString::fromLatin1(operations[selector % n])), body);
        window->httpReply(reply);
    }
    // Replies are released with deleteLater; do it now rather than letting
    // them pile up, since no event loop runs between inputs.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
