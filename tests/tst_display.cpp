// The window comes up on a real display platform (run under Xvfb by ctest
// when it is available) as well as offscreen, and shows its form; its images
// look the same whether decoded on first paint or by Qt's own icon engine.
#include "app/mainwindow.h"
#include "resources/bundleimages.h"
#include "support/windowenvironment.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QIconEnginePlugin>
#include <QPluginLoader>
#include <QListWidget>
#include <QTabWidget>
#include <QtTest>

using namespace TestSupport;

class tst_Display : public QObject
{
    Q_OBJECT
private slots:
    void windowIsExposedAndPainted();
    void imagesDecodedWhenShownLookTheSame();
    void engineAskedBeforeItsFileStillDecodesOnPaint();

private:
    QImage firstScreen(bool lazyImages);
};

void tst_Display::windowIsExposedAndPainted()
{
    WindowEnvironment env;
    QVERIFY(env.ready());
    env.server.setResponse("getCounties",
                           Response::ok("<counties><county Name=\"Cork\"/><county Name=\"Kerry\"/></counties>"));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    qInfo("platform: %s", qPrintable(QGuiApplication::platformName()));

    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidgit"));
    auto *counties = window.findChild<QListWidget *>(QStringLiteral("countyList"));
    QVERIFY(tabs && counties);
    QVERIFY(tabs->isVisible());
    QTRY_COMPARE(counties->count(), 2);

    // The grabbed window is not one flat colour: the form has been painted.
    const QImage shot = window.grab().toImage();
    QVERIFY(!shot.isNull());
    const QRgb first = shot.pixel(0, 0);
    bool varied = false;
    for (int y = 0; y < shot.height() && !varied; y += 7)
        for (int x = 0; x < shot.width() && !varied; x += 7)
            varied = shot.pixel(x, y) != first;
    QVERIFY(varied);
    QCOMPARE(env.modals.count(), 0);
}

// The first screen as the user sees it, with the county list filled; a null
// image when it did not come up.
QImage tst_Display::firstScreen(bool lazyImages)
{
    BundleImages::setLazy(lazyImages);
    WindowEnvironment env;
    env.server.setResponse("getCounties", Response::ok("<counties><county Name=\"Cork\"/></counties>"));
    MainWindow window;
    window.resize(800, 480);
    window.show();
    auto *counties = window.findChild<QListWidget *>(QStringLiteral("countyList"));
    const bool shown = env.ready() && QTest::qWaitForWindowExposed(&window)
                       && QTest::qWaitFor([&] { return counties->count() == 1; });
    BundleImages::setLazy(true);
    return shown ? window.grab().toImage() : QImage();
}

void tst_Display::imagesDecodedWhenShownLookTheSame()
{
    const QImage qtsOwn = firstScreen(false);
    const QImage lazy = firstScreen(true);
    QVERIFY(!qtsOwn.isNull());
    QCOMPARE(lazy, qtsOwn);
    // The tabs' images have been decoded once for all windows so far; the
    // station page's have not been decoded at all.
    for (const char *shown : {":/Ireland", ":/icon/satellite.png", ":/star", ":/icon/settings.png"})
        QCOMPARE(BundleImages::decodeCount(shown), 1);
    for (const char *hidden : {":/add", ":/greenbar", ":/GreenTick", ":/Back"})
        QCOMPARE(BundleImages::decodeCount(hidden), 0);

    // Sizes are answered from the stored image before it is decoded, and
    // pixmaps in every mode, smaller and larger than stored, as Qt's own.
    const QList<QSize> sizes{{51, 51}, {20, 32}, {1000, 100}, {1000, 1000}};
    for (const QString path : {":/add", ":/icon/satellite.png", ":/Shell", ":/nothing-here"}) {
        BundleImages::setLazy(false);
        const QIcon own(path);
        BundleImages::setLazy(true);
        const QIcon lazyIcon(path);
        QCOMPARE(lazyIcon.isNull(), own.isNull());
        QCOMPARE(lazyIcon.availableSizes(), own.availableSizes());
        for (const QSize &size : sizes)
            QCOMPARE(lazyIcon.actualSize(size), own.actualSize(size));
        for (const QSize &size : sizes)
            for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Selected})
                QCOMPARE(lazyIcon.pixmap(size, mode).toImage(), own.pixmap(size, mode).toImage());
        QCOMPARE(BundleImages::icon(path).pixmap(20).toImage(), own.pixmap(20).toImage());
        QCOMPARE(BundleImages::decodeCount(path), 1);
    }

    // Files added after the first, and a first file of a given size, go to
    // Qt's engine (with the decoded image).
    const auto severalFiles = [] {
        QIcon icon(QStringLiteral(":/GreenTick"));
        icon.addFile(QStringLiteral(":/greenbar"), QSize(), QIcon::Disabled);
        icon.addFile(QStringLiteral(":/subtract"), QSize(16, 16));
        QIcon sized;
        sized.addFile(QStringLiteral(":/subtract"), QSize(16, 16));
        return std::pair{icon, sized};
    };
    BundleImages::setLazy(false);
    const auto [own, ownSized] = severalFiles();
    BundleImages::setLazy(true);
    const auto [lazyIcon, lazySized] = severalFiles();
    QCOMPARE(lazyIcon.availableSizes(), own.availableSizes());
    QCOMPARE(lazySized.availableSizes(), ownSized.availableSizes());
    for (int side : {16, 40}) {
        for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled})
            QCOMPARE(lazyIcon.pixmap(side, mode).toImage(), own.pixmap(side, mode).toImage());
        QCOMPARE(lazySized.pixmap(side).toImage(), ownSized.pixmap(side).toImage());
    }
    QCOMPARE(BundleImages::decodeCount(":/GreenTick"), 1);
}

// Newer Qt versions ask the engine the plugin made whether it is null
// before they add the file to it; that question must not give the file to
// Qt's own engine.
void tst_Display::engineAskedBeforeItsFileStillDecodesOnPaint()
{
    QIconEnginePlugin *plugin = nullptr;
    for (QObject *instance : QPluginLoader::staticInstances())
        plugin = plugin ? plugin : qobject_cast<QIconEnginePlugin *>(instance);
    QVERIFY(plugin);
    const QString path = QStringLiteral(":/Back");
    QIconEngine *engine = plugin->create(path);
    QVERIFY(engine);
    QVERIFY(engine->isNull());
    engine->addFile(path, QSize(), QIcon::Normal, QIcon::Off);
    const QIcon icon(engine);
    QVERIFY(!icon.isNull());
    QCOMPARE(BundleImages::decodeCount(path), 0);
    QVERIFY(!icon.pixmap(24).isNull());
    QCOMPARE(BundleImages::decodeCount(path), 1);
}

QTEST_MAIN(tst_Display)
#include "tst_display.moc"
