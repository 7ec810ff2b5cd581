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
#include <QList>
#include <QPainter>
#include <QPixmap>
#include <QtPlugin>

#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Whether icons made from now on decode lazily (BundleImages::setLazy).
bool lazyIcons = true;

// What a decode started ahead delivers: the image, and a copy scaled for the
// size it will be painted at, if that differs.
struct Decoded
{
    QImage image;
    QImage scaled;
};

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
    // A decode started ahead (BundleImages::prefetch), until its first paint
    // takes it.
    std::shared_ptr<std::future<Decoded>> prefetched;
    QPixmap pixmap;
    // Smaller copies made for normal-mode paints, by size (the last few).
    QList<std::pair<QSize, QPixmap>> scaled;
    int decodes = 0;
};

using ImageStore = QHash<QString, BundleImage>;

// A thread joined when it is replaced and when the process ends, so that an
// exit() while it runs waits for it rather than ending the process as an
// abandoned std::thread does.
struct JoinedThread
{
    std::thread thread;
    ~JoinedThread()
    {
        if (thread.joinable())
            thread.join();
    }
};

// The thread of the decodes started ahead; joined before another starts and
// before the images are released.
std::thread &prefetchThread()
{
    static JoinedThread holder;
    return holder.thread;
}

void joinPrefetchThread()
{
    if (prefetchThread().joinable())
        prefetchThread().join();
}

// The images live as long as the application object: pixmaps must not
// outlive it.
ImageStore &store()
{
    static ImageStore images;
    static bool cleanupRegistered = false;
    if (!cleanupRegistered && QCoreApplication::instance()) {
        qAddPostRoutine([] {
            joinPrefetchThread();
            store().clear();
        });
        cleanupRegistered = true;
    }
    return images;
}

// The format of an image file from its first bytes: most bundle paths have
// no suffix.
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

// A reader of the image. An image reader that has to find the format itself,
// or that may let a plugin take it, loads every image-format plugin (and the
// libraries behind them) to ask; with the format known it goes straight to
// the handler Qt uses for it, built in for PNG. Files of other formats are
// left to the reader's own detection.
std::unique_ptr<QImageReader> readerOf(const QString &path, const QByteArray &format)
{
    auto reader = std::make_unique<QImageReader>(path, format);
    reader->setAutoDetectImageFormat(format.isEmpty());
    return reader;
}

// The image's entry with its header read. (A reference into the store: use
// it before the store grows.)
BundleImage &headerOf(const QString &path)
{
    BundleImage &image = store()[path];
    if (!image.headerRead) {
        image.format = formatOf(path);
        image.storedSize = readerOf(path, image.format)->size();
        image.headerRead = true;
    }
    return image;
}

// The first image of the file, as stored; an image with an alpha channel is
// converted to the premultiplied form the raster pixmap of Qt's own engine
// holds, so that making the pixmap neither copies nor converts it.
QImage decodedImage(const QString &path, const QByteArray &format)
{
    QImage image = readerOf(path, format)->read();
    if (image.format() == QImage::Format_ARGB32)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    return image;
}

// The size Qt's own engine paints an image of `stored` size at when asked
// for `asked`: as stored, or scaled down to fit, keeping its shape.
QSize shownSize(const QSize &stored, const QSize &asked)
{
    QSize shown = stored;
    if (!shown.isNull() && (shown.width() > asked.width() || shown.height() > asked.height()))
        shown.scale(asked, Qt::KeepAspectRatio);
    return shown;
}

// A copy of the image at `shown` size, scaled as Qt's own engine scales it.
QImage scaledImage(const QImage &image, const QSize &shown)
{
    return image.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The image's entry with the image decoded (by a decode started ahead when
// there is one).
BundleImage &decodedOf(const QString &path)
{
    BundleImage &image = headerOf(path);
    if (!image.decoded) {
        Decoded decoded = image.prefetched ? image.prefetched->get() : Decoded{decodedImage(path, image.format), {}};
        image.prefetched.reset();
        image.pixmap = QPixmap::fromImage(std::move(decoded.image));
        if (!decoded.scaled.isNull())
            image.scaled.append({decoded.scaled.size(), QPixmap::fromImage(std::move(decoded.scaled))});
        image.decoded = true;
        ++image.decodes;
    }
    return image;
}

// The decoded image, as Qt's own engine reads a file.
QPixmap decodedPixmap(const QString &path)
{
    return decodedOf(path).pixmap;
}

// The image as Qt's own engine paints it in normal mode when asked for
// `asked` at a device-pixel ratio of 1: scaled down to fit, smoothly. The
// copies are kept with the image, so that every icon of it shares them.
QPixmap normalPixmap(const QString &path, const QSize &asked)
{
    BundleImage &image = decodedOf(path);
    const QSize shown = shownSize(image.pixmap.size(), asked);
    if (shown == image.pixmap.size())
        return image.pixmap;
    for (const auto &[size, pixmap] : std::as_const(image.scaled))
        if (size == shown)
            return pixmap;
    const QPixmap pixmap = QPixmap::fromImage(scaledImage(image.pixmap.toImage(), shown));
    if (image.scaled.size() >= 8)
        image.scaled.removeFirst();
    image.scaled.append({shown, pixmap});
    return pixmap;
}

// Images compiled into the program: the bundle's, and Qt's own (the style
// makes icons of these, some the window never shows, such as the menu bar's
// overflow arrow).
bool isResourcePath(const QString &path)
{
    return path.startsWith(QLatin1String(":/"));
}

// Set while an engine hands its files to Qt's own engine, so that the plugin
// below does not take them back.
bool handingOver = false;

// Records what is added to the icon and hands it to Qt's own engine only
// when a pixmap is first needed. A compiled-in file added without a size (as
// the form and QIcon(path) add it) becomes the shared decoded image;
// anything else (files of given sizes, pixmaps) is passed on unchanged at
// that moment.
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
        // The normal look of a single image is made here, so that a copy
        // scaled ahead can serve it; the other modes (which the style
        // derives) and high-density screens are left to Qt's engine.
        if (mode == QIcon::Normal && !(scale > 1.0))
            if (const Addition *only = singleLazyAddition())
                return normalPixmap(only->fileName, size);
        // Qt's engine is asked for size at scale through the device-pixel
        // ratio variant of QIcon::pixmap, which scales size back up.
        if (scale > 1.0)
            return loaded().pixmap(size / scale, scale, mode, state);
        return loaded().pixmap(size, 1.0, mode, state);
    }

    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        if (const BundleImage *image = singleUndecodedImage()) {
            return shownSize(image->storedSize, size);
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

    // As Qt's engine: null when nothing readable was added. A file added
    // for a given size counts once it exists, as Qt keeps a placeholder for
    // a size the file does not hold.
    bool isNull() override
    {
        if (m_loaded)
            return m_icon.isNull();
        for (const Addition &a : std::as_const(m_additions)) {
            if (!a.pixmap.isNull())
                return false;
            if (a.decodesLazily() && !headerOf(a.fileName).storedSize.isEmpty())
                return false;
            if (!a.decodesLazily() && !isResourcePath(a.fileName))
                return loaded().isNull();
            if (a.size.isValid() && QFile::exists(a.fileName))
                return false;
        }
        return true;
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

        bool decodesLazily() const { return !fileName.isEmpty() && !size.isValid() && isResourcePath(fileName); }
    };

    // The icon's one addition, when it is a compiled-in image decoding on
    // first paint.
    const Addition *singleLazyAddition() const
    {
        if (m_loaded || m_additions.size() != 1 || !m_additions.constFirst().decodesLazily())
            return nullptr;
        return &m_additions.constFirst();
    }

    // The one compiled-in image of an icon that has not been painted yet,
    // when its header gave a size: questions about sizes are answered from
    // it.
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
            handingOver = true;
            for (const Addition &a : std::as_const(m_additions)) {
                if (a.decodesLazily())
                    m_icon.addPixmap(decodedPixmap(a.fileName), a.mode, a.state);
                else if (!a.pixmap.isNull())
                    m_icon.addPixmap(a.pixmap, a.mode, a.state);
                else
                    m_icon.addFile(a.fileName, a.size, a.mode, a.state);
            }
            handingOver = false;
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

QIcon icon(const QString &path, const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    if (!lazyIcons || !isResourcePath(path)) {
        QIcon own;
        own.addFile(path, size, mode, state);
        return own;
    }
    auto *engine = new BundleIconEngine;
    engine->addFile(path, size, mode, state);
    return QIcon(engine);
}

void setLazy(bool on)
{
    lazyIcons = on;
}

void prefetch(const QStringList &paths, const QSize &shownAt)
{
    if (!lazyIcons)
        return;
    joinPrefetchThread();
    struct Job
    {
        std::promise<Decoded> promise;
        QString path;
        QByteArray format;
    };
    std::vector<Job> jobs;
    for (const QString &path : paths) {
        BundleImage &image = headerOf(path);
        if (image.decoded || image.prefetched || image.format.isEmpty())
            continue;
        std::promise<Decoded> promise;
        image.prefetched = std::make_shared<std::future<Decoded>>(promise.get_future());
        jobs.push_back({std::move(promise), path, image.format});
    }
    if (jobs.empty())
        return;
    // One thread decodes them in turn, so that the window's construction
    // keeps a core of its own on a two-core machine.
    prefetchThread() = std::thread([jobs = std::move(jobs), shownAt]() mutable {
        for (Job &job : jobs) {
            Decoded decoded{decodedImage(job.path, job.format), {}};
            const QSize shown = shownSize(decoded.image.size(), shownAt);
            if (shownAt.isValid() && shown != decoded.image.size())
                decoded.scaled = scaledImage(decoded.image, shown);
            job.promise.set_value(std::move(decoded));
        }
    });
}

int decodeCount(const QString &path)
{
    const auto found = store().constFind(path);
    return found == store().constEnd() ? 0 : found->decodes;
}

} // namespace BundleImages

#include "bundleimages.moc"

Q_IMPORT_PLUGIN(BundleImagePlugin)
