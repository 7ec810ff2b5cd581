// The window on a screen larger than a handheld's (tst_desktopwindow.cmake
// configures 1920 x 1080): it opens at 800 x 480 or where it was last closed,
// is laid out as an 800 x 480 handheld whatever its size, and its columns and
// tab bar follow every resize, so each row's price stays inside the window.

#include "app/mainwindow.h"
#include "net/catalogue.h"
#include "support/windowenvironment.h"
#include "ui_mainwindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QtTest>

#include <memory>

using TestSupport::WindowEnvironment;

class TstDesktopWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensAsHandheldWindow();
    void layoutFollowsWindow_data();
    void layoutFollowsWindow();
    void geometryKeptFromLastRun_data();
    void geometryKeptFromLastRun();

private:
    // The area station table is shown, so its columns have real geometry.
    std::unique_ptr<MainWindow> makeWindow();
    void checkLayout(MainWindow *w);

    std::unique_ptr<WindowEnvironment> env;
};

void TstDesktopWindow::init()
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    if (std::max(screen.width(), screen.height()) <= 800)
        QSKIP("needs a screen larger than a handheld's (see tst_desktopwindow.cmake)");
    env = std::make_unique<WindowEnvironment>();
    QVERIFY(env->ready());
}

void TstDesktopWindow::cleanup()
{
    env.reset();
}

std::unique_ptr<MainWindow> TstDesktopWindow::makeWindow()
{
    env->server.setResponse(QStringLiteral("getStationsByArea"),
                            TestSupport::Response::ok("<stations><station ID=\"1\" name=\"Main Street Service Station\" "
                                                      "petrolPrice=\"1.599\"/></stations>"));
    auto w = std::make_unique<MainWindow>();
    w->ui->stackedWidget->setCurrentIndex(2);
    w->sendRequest(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Mallow")));
    if (!QTest::qWaitFor([&w] { return w->ui->areaStationTable->rowCount() == 1; }))
        return nullptr;
    return w;
}

// Fonts and icons of an 800 x 480 handheld; tab bar and columns from the
// window's shape and width; the price column ends inside the table.
void TstDesktopWindow::checkLayout(MainWindow *w)
{
    QCOMPARE(w->ui->countyList->font().pixelSize(), 34);
    QCOMPARE(w->ui->labelSettings1->font().pixelSize(), 26);
    QCOMPARE(w->ui->petrolLCD->font().pixelSize(), 53);
    QCOMPARE(w->ui->tabWidgit->iconSize(), QSize(51, 51));

    const bool portrait = w->width() <= w->height();
    QCOMPARE(w->ui->tabWidgit->tabPosition(), portrait ? QTabWidget::South : QTabWidget::West);
    const double percent = (w->width() - (portrait ? 0 : 51)) / 100.0;
    QTableWidget *table = w->ui->areaStationTable;
    QCOMPARE(table->columnWidth(1), int(percent * 73));
    QCOMPARE(table->columnWidth(2), int(percent * 19));
    if (w->isVisible()) {
        QTRY_VERIFY(table->isVisible() && table->viewport()->width() > 0);
        QVERIFY2(table->columnViewportPosition(2) + table->columnWidth(2) <= table->viewport()->width(),
                 qPrintable(QStringLiteral("price column ends at %1 of %2")
                                .arg(table->columnViewportPosition(2) + table->columnWidth(2))
                                .arg(table->viewport()->width())));
    }
}

void TstDesktopWindow::opensAsHandheldWindow()
{
    auto w = makeWindow();
    QVERIFY(w);
    // Sized before it is shown: the layout already ran against it.
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(w->size(), QSize(800, 480));
    QCOMPARE(w->geometry().center(), available.center());
    checkLayout(w.get());

    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QVERIFY(!w->isMaximized() && !w->isFullScreen());
    QCOMPARE(w->size(), QSize(800, 480));
    checkLayout(w.get());
}

void TstDesktopWindow::layoutFollowsWindow_data()
{
    QTest::addColumn<QSize>("asked");
    QTest::addColumn<QSize>("size");
    QTest::newRow("screen wide") << QSize(1920, 1000) << QSize(1920, 1000);
    QTest::newRow("portrait") << QSize(480, 800) << QSize(480, 800);
    QTest::newRow("square") << QSize(700, 700) << QSize(700, 700);
    // Narrower than a handheld held upright would cut the prices off.
    QTest::newRow("too narrow") << QSize(400, 300) << QSize(480, 300);
}

void TstDesktopWindow::layoutFollowsWindow()
{
    QFETCH(QSize, asked);
    QFETCH(QSize, size);
    auto w = makeWindow();
    QVERIFY(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->resize(asked);
    QTRY_COMPARE(w->size(), size);
    checkLayout(w.get());
}

void TstDesktopWindow::geometryKeptFromLastRun_data()
{
    QTest::addColumn<QRect>("closedAt");
    QTest::addColumn<bool>("kept");
    QTest::newRow("on the screen") << QRect(100, 120, 1000, 640) << true;
    // A screen that has gone: the window opens at its first size.
    QTest::newRow("off every screen") << QRect(2500, 100, 800, 480) << false;
}

void TstDesktopWindow::geometryKeptFromLastRun()
{
    QFETCH(QRect, closedAt);
    QFETCH(bool, kept);
    {
        auto w = makeWindow();
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->setGeometry(closedAt);
        QTRY_COMPARE(w->geometry(), closedAt);
        QVERIFY(w->close());
    }
    QCOMPARE(env->settings.store().value(QStringLiteral("windowGeometry")).toRect(), closedAt);

    auto w = makeWindow();
    QVERIFY(w);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect centred(available.x() + (available.width() - 800) / 2,
                        available.y() + (available.height() - 480) / 2, 800, 480);
    QCOMPARE(w->geometry(), kept ? closedAt : centred);
    checkLayout(w.get());
}

QTEST_MAIN(TstDesktopWindow)
#include "tst_desktopwindow.moc"
