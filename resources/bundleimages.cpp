// The icon engine plugin below is linked into the program rather than loaded
// from a plugin folder; this must be set before Qt's plugin header is read.
#define QT_STATICPLUGIN

#include "resources/bundleimages.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QIconEnginePlugin>
#include <QImage>
#include <QImageReader>
#include <QList>
#include <QPainter>
#include <QPixmap>
#include <QtPlugin>

namespace {

bool lazyIcons = true;

// What the process knows about one bundle image: the size its header gives
// (read once, invalid when the file cannot be read) and, after the first
// paint of any of its icons, the decoded image that every icon of it shares.
struct BundleImage
{
    bool headerRead = false;
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

BundleImage &headerOf(const QString &path)
{
    BundleImage &image = store()[path];
    if (!image.headerRead) {
        image.storedSize = QImageReader(path).size();
        image.headerRead = true;
    }
    return image;
}

// The decoded image, read the way Qt's own engine reads a file (first image
// of the file, as stored).
QPixmap decodedPixmap(const QString &path)
{
    BundleImage &image = store()[path];
    if (!image.decoded) {
        image.pixmap = QPixmap::fromImage(QImageReader(path).read());
        image.decoded = true;
        ++image.decodes;
    }
    return image.pixmap;
}

// Paths of the program's own compiled-in images; Qt keeps its own resources
// under ":/qt-project.org/".
bool isBundlePath(const QString &path)
{
    return path.startsWith(QLatin1String(":/")) && !path.startsWith(QLatin1String(":/qt-project.org/"));
}

// Records what is added to the icon and hands it to Qt's own engine only
// when a pixmap is first needed. A bundle file added without a size (as the
// form and QIcon(path) add it) becomes the shared decoded image; anything
// else is passed on unchanged at that moment.
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
        if (const BundleImage *image = singleUndecodedImage()) {
            QSize actual = image->storedSize;
            if (actual.width() > size.width() || actual.height() > size.height())
                actual.scale(size, Qt::KeepAspectRatio);
            return actual;
        }
        return loaded().actualSize(size, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        if (const BundleImage *image = singleUndecodedImage()) {
            const Addition &only = m_additions.constFirst();
            if (only.mode == mode && only.state == state)
                return {image->storedSize};
            return {};
        }
        return loaded().availableSizes(mode, state);
    }

    bool isNull() override
    {
        if (!m_loaded && m_additions.isEmpty())
            return true;
        if (const BundleImage *image = singleUndecodedImage())
            return image->storedSize.isEmpty();
        return loaded().isNull();
    }

    void addFile(const QString &fileName, const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        if (fileName.isEmpty())
            return;
        if (m_loaded)
            m_icon.addFile(fileName, size, mode, state);
        else
            m_additions.append({fileName, size, QPixmap(), mode, state});
    }

    void addPixmap(const QPixmap &pixmap, QIcon::Mode mode, QIcon::State state) override
    {
        if (m_loaded)
            m_icon.addPixmap(pixmap, mode, state);
        else if (!pixmap.isNull())
            m_additions.append({QString(), QSize(), pixmap, mode, state});
    }

    QString key() const override { return QStringLiteral("BundleIconEngine"); }
    QIconEngine *clone() const override { return new BundleIconEngine(*this); }

private:
    struct Addition
    {
        QString fileName;
        QSize size;
        QPixmap pixmap;
        QIcon::Mode mode;
        QIcon::State state;

        bool decodesLazily() const { return !fileName.isEmpty() && !size.isValid() && isBundlePath(fileName); }
    };

    // The one bundle image of an icon that has not been painted yet, when
    // its header gave a size: questions about sizes are answered from it.
    const BundleImage *singleUndecodedImage()
    {
        if (m_loaded || m_additions.size() != 1 || !m_additions.constFirst().decodesLazily())
            return nullptr;
        const BundleImage &image = headerOf(m_additions.constFirst().fileName);
        return image.storedSize.isEmpty() ? nullptr : &image;
    }

    const QIcon &loaded()
    {
        if (!m_loaded) {
            m_loaded = true;
            for (const Addition &a : std::as_const(m_additions)) {
                if (a.decodesLazily())
                    m_icon.addPixmap(decodedPixmap(a.fileName), a.mode, a.state);
                else if (!a.pixmap.isNull())
                    m_icon.addPixmap(a.pixmap, a.mode, a.state);
                else
                    m_icon.addFile(a.fileName, a.size, a.mode, a.state);
            }
            m_additions.clear();
        }
        return m_icon;
    }

    QList<Addition> m_additions;
    bool m_loaded = false;
    QIcon m_icon; // Qt's own engine, once loaded
};

} // namespace

// Chosen by QIcon for PNG and JPEG files (by suffix, or by content for the
// bundle's names without one); other files are left to Qt's own engine.
class BundleImagePlugin : public QIconEnginePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QIconEngineFactoryInterface_iid FILE "bundleimages.json")
public:
    QIconEngine *create(const QString &fileName) override
    {
        if (!lazyIcons || !isBundlePath(fileName))
            return nullptr;
        return new BundleIconEngine;
    }
};

namespace BundleImages {

QIcon icon(const QString &path)
{
    if (!lazyIcons || !isBundlePath(path))
        return QIcon(path);
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
