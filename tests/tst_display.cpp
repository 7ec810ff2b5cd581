// The window comes up on a real display platform (run under Xvfb by ctest
// when it is available) as well as offscreen, and shows its form.
#include "app/mainwindow.h"
#include "support/windowenvironment.h"

#include <QGuiApplication>
#include <QListWidget>
#include <QTabWidget>
#include <QtTest>

using namespace TestSupport;

class tst_Display : public QObject
{
    Q_OBJECT
private slots:
    void windowIsExposedAndPainted();
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

QTEST_MAIN(tst_Display)
#include "tst_display.moc"
