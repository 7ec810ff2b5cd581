// The icon engine plugin below is linked into the program rather than loaded
// from a plugin folder; this must be set before Qt's plugin header is read.
#define QT_STATICPLUGIN

#include "resources/bundleimages.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QIconEnginePlugin>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QtPlugin>

namespace {

// Whether icons made from now on decode lazily (BundleImages::setLazy).
bool lazyIcons = true;

// What the process knows about one compiled-in image: its format and the
// size its header gives (read once, invalid when the file cannot be read)
// and, after the first paint of any of its icons, the decoded image that
// every icon of it shares.
struct BundleImage
{
    bool headerRead = false;
    QByteArray format;
    QSize storedSize;
    bool decoded = false;
    QPixmap pixmap;
    int decodes = 0;
};

using ImageStore = QHash<QString, BundleImage>;

// The images live as long as the application object: pixmaps must not
// outlive it.
ImageStore &store()
{
    static ImageStore images;
    static bool cleanupRegistered = false;
    if (!cleanupRegistered && QCoreApplication::instance()) {
        qAddPostRoutine([] { store().clear(); });
        cleanupRegistered = true;
    }
    return images;
}

// The format of an image file from its first bytes: most bundle paths have
// no suffix. With the format named, the image reader goes straight to Qt's
// handler for it instead of loading every image-format plugin to ask.
QByteArray formatOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(8);
    if (head == QByteArrayLiteral("\x89PNG\r\n\x1a\n"))
        return QByteArrayLiteral("png");
    if (head.startsWith(QByteArrayLiteral("\xff\xd8\xff")))
        return QByteArrayLiteral("jpeg");
    return {};
}

// The image's entry with its header read. (A reference into the store: use
// it before the store grows.)
BundleImage &headerOf(const QString &path)
{
    BundleImage &image = store()[path];
    if (!image.headerRead) {
        image.format = formatOf(path);
        QImageReader reader(path, image.format);
        reader.setAutoDetectImageFormat(image.format.isEmpty());
        image.storedSize = reader.size();
        image.headerRead = true;
    }
    return image;
}

// The decoded image, shared by every icon of the path.
QPixmap decodedPixmap(const QString &path)
{
    BundleImage &image = headerOf(path);
    if (!image.decoded) {
        QImageReader reader(path, image.format);
        reader.setAutoDetectImageFormat(image.format.isEmpty());
        image.pixmap = QPixmap::fromImage(reader.read());
        image.decoded = true;
        ++image.decodes;
    }
    return image.pixmap;
}

bool isResourcePath(const QString &path)
{
    return path.startsWith(QLatin1String(":/"));
}

// Set while an engine hands a file to Qt's own engine, so that the plugin
// below does not take it back.
bool handingOver = false;

// An icon of one compiled-in image that decodes it when first painted. Until
// then it answers questions about sizes from the image's header; from then
// on, and as soon as anything else is added to the icon, Qt's own engine
// holds the decoded image and does the rest (scaling, the disabled and
// selected looks, caching).
class BundleIconEngine : public QIconEngine
{
public:
    BundleIconEngine() = default;
    BundleIconEngine(const BundleIconEngine &other) = default;

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const QPaintDevice *device = painter->device();
        const qreal dpr = device ? device->devicePixelRatio() : qGuiApp->devicePixelRatio();
        painter->drawPixmap(rect, scaledPixmap(rect.size() * dpr, mode, state, dpr));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        // Qt's engine is asked for size at scale through the device-pixel
        // ratio variant of QIcon::pixmap, which scales size back up.
        if (scale > 1.0)
            return loaded().pixmap(size / scale, scale, mode, state);
        return loaded().pixmap(size, 1.0, mode, state);
    }

    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        if (const QSize stored = undecodedSize(); stored.isValid()) {
            // As stored, or scaled down to fit, keeping its shape.
            return stored.width() > size.width() || stored.height() > size.height()
                       ? stored.scaled(size, Qt::KeepAspectRatio)
                       : stored;
        }
        return loaded().actualSize(size, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        if (const QSize stored = undecodedSize(); stored.isValid())
            return mode == QIcon::Normal && state == QIcon::Off ? QList<QSize>{stored} : QList<QSize>{};
        return loaded().availableSizes(mode, state);
    }

    bool isNull() override
    {
        // Asked before any file was added (QIcon does on Qt 6.8 and later,
        // right after the plugin made the engine): empty, and nothing to
        // decode yet. Decoding here would leave the file about to be added
        // to Qt's own engine, which decodes it at once.
        if (!m_loaded && m_lazyPath.isNull())
            return true;
        return !undecodedSize().isValid() && loaded().isNull();
    }

    void addFile(const QString &fileName, const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        // Only the first file, added as the form and QIcon(path) add it,
        // waits for its first paint.
        if (m_lazyPath.isNull() && !m_loaded && !fileName.isEmpty() && !size.isValid() && mode == QIcon::Normal
            && state == QIcon::Off) {
            m_lazyPath = fileName;
            return;
        }
        QIcon &own = loaded();
        handingOver = true;
        own.addFile(fileName, size, mode, state);
        handingOver = false;
    }

    void addPixmap(const QPixmap &pixmap, QIcon::Mode mode, QIcon::State state) override
    {
        loaded().addPixmap(pixmap, mode, state);
    }

    QString key() const override { return QStringLiteral("BundleIconEngine"); }
    QIconEngine *clone() const override { return new BundleIconEngine(*this); }

private:
    // The stored size of the image not yet decoded; invalid once it is, or
    // when its header cannot be read.
    QSize undecodedSize()
    {
        if (m_loaded || m_lazyPath.isNull())
            return {};
        const QSize stored = headerOf(m_lazyPath).storedSize;
        return stored.isEmpty() ? QSize() : stored;
    }

    QIcon &loaded()
    {
        if (!m_loaded) {
            m_loaded = true;
            if (!m_lazyPath.isNull())
                m_icon.addPixmap(decodedPixmap(m_lazyPath));
        }
        return m_icon;
    }

    QString m_lazyPath;
    bool m_loaded = false;
    QIcon m_icon; // Qt's own engine, once loaded
};

} // namespace

// Chosen by QIcon for PNG and JPEG files (by suffix, or by content for the
// bundle's names without one); files outside the resources are left to Qt's
// own engine.
class BundleImagePlugin : public QIconEnginePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QIconEngineFactoryInterface_iid FILE "bundleimages.json")
public:
    QIconEngine *create(const QString &fileName) override
    {
        if (!lazyIcons || handingOver || !isResourcePath(fileName))
            return nullptr;
        return new BundleIconEngine;
    }
};

namespace BundleImages {

QIcon icon(const QString &path)
{
    QIcon icon;
    if (!lazyIcons || !isResourcePath(path)) {
        icon.addFile(path);
        return icon;
    }
    auto *engine = new BundleIconEngine;
    engine->addFile(path, QSize(), QIcon::Normal, QIcon::Off);
    return QIcon(engine);
}

void setLazy(bool on)
{
    lazyIcons = on;
}

int decodeCount(const QString &path)
{
    const auto found = store().constFind(path);
    return found == store().constEnd() ? 0 : found->decodes;
}

} // namespace BundleImages

#include "bundleimages.moc"

Q_IMPORT_PLUGIN(BundleImagePlugin)
