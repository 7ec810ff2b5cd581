// Sizing to the screen: font pixel sizes and tab icons from the longer screen
// side, tab bar position and station column widths by orientation, and the
// re-layout when the screen changes. Screens are set through the platform
// layer; realScreen() reads whatever screen the offscreen platform has (see
// tst_layout.cmake for the run with a configured portrait screen).

#include "app/mainwindow.h"
#include "platform/screen.h"
#include "tests/support/windowenvironment.h"
#include "ui_mainwindow.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMainWindow>
#include <QScreen>
#include <QtTest>

#include <memory>

using TestSupport::WindowEnvironment;

namespace {

// The three groups of widgets whose font pixel size follows the screen.
const QStringList fontGroups[] = {
    {"countyList", "areaList", "startTabCombo", "fuelType", "userName", "password", "gpsDistance",
     "stalePriceDays"},
    {"updateStationLabel", "updateStationLabel2", "updateStationLabel3", "updateStationLabel4", "labelSettings1",
     "labelSettings2", "labelSettings3", "labelSettings4", "labelSettings5", "labelSettings6"},
    {"petrolLCD", "dieselLCD"},
};

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TstLayout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void screens_data();
    void screens();
    void fontsKeepFamilyAndOthersKeepTheirs();
    void resizeRelaysOut();
    void realScreen();

private:
    std::unique_ptr<MainWindow> makeWindow();
    void checkFonts(MainWindow *w, int list, int small, int price);
    void checkTables(MainWindow *w, QTabWidget::TabPosition position, int column1, int column2);

    std::unique_ptr<WindowEnvironment> env;
};

void TstLayout::init()
{
    env = std::make_unique<WindowEnvironment>();
    QVERIFY(env->ready());
}

void TstLayout::cleanup()
{
    env.reset();
}

std::unique_ptr<MainWindow> TstLayout::makeWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    return window;
}

void TstLayout::checkFonts(MainWindow *w, int list, int small, int price)
{
    const int sizes[] = {list, small, price};
    for (int group = 0; group < 3; ++group)
        for (const QString &name : fontGroups[group])
            QVERIFY2(w->findChild<QWidget *>(name)->font().pixelSize() == sizes[group], qPrintable(name));
}

void TstLayout::checkTables(MainWindow *w, QTabWidget::TabPosition position, int column1, int column2)
{
    QCOMPARE(w->ui->tabWidgit->tabPosition(), position);
    const QString expected = QStringLiteral("%1, %2").arg(column1).arg(column2);
    for (QTableWidget *table : {w->ui->favsTable, w->ui->areaStationTable, w->ui->gpsTable}) {
        const QString widths = QStringLiteral("%1, %2").arg(table->columnWidth(1)).arg(table->columnWidth(2));
        QVERIFY2(widths == expected, qPrintable(table->objectName() + QStringLiteral(": ") + widths));
        // A handheld scrolls by dragging; no scroll bar takes width.
        QCOMPARE(table->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    }
}

void TstLayout::screens_data()
{
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<int>("listPx");
    QTest::addColumn<int>("smallPx");
    QTest::addColumn<int>("pricePx");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("column1");
    QTest::addColumn<int>("column2");

    const int west = QTabWidget::West, south = QTabWidget::South;
    // Landscape: the tab icon width is taken off the available width.
    QTest::newRow("800x480") << QRect(0, 0, 800, 480) << QRect(0, 0, 800, 480)
                             << 34 << 26 << 53 << 51 << west << 546 << 142;
    QTest::newRow("480x800") << QRect(0, 0, 480, 800) << QRect(0, 0, 480, 800)
                             << 34 << 26 << 53 << 51 << south << 350 << 91;
    // Columns follow the available width, not the screen width.
    QTest::newRow("1024x600, panel") << QRect(0, 0, 1024, 600) << QRect(0, 0, 1000, 560)
                                     << 44 << 34 << 68 << 66 << west << 681 << 177;
    QTest::newRow("square 600") << QRect(0, 0, 600, 600) << QRect(0, 0, 600, 600)
                                << 26 << 20 << 40 << 39 << south << 438 << 114;
    // Small screens get the floors of 10 and 8 pixels.
    QTest::newRow("200x120") << QRect(0, 0, 200, 120) << QRect(0, 0, 200, 120)
                             << 10 << 8 << 13 << 15 << west << 135 << 35;
}

void TstLayout::screens()
{
    QFETCH(QRect, screen);
    QFETCH(QRect, available);
    QFETCH(int, listPx);
    QFETCH(int, smallPx);
    QFETCH(int, pricePx);
    QFETCH(int, icon);
    QFETCH(int, position);
    QFETCH(int, column1);
    QFETCH(int, column2);

    Platform::setGeometryOverride(screen, available);
    auto w = makeWindow();
    checkFonts(w.get(), listPx, smallPx, pricePx);
    QCOMPARE(w->ui->tabWidgit->iconSize(), QSize(icon, icon));
    checkTables(w.get(), QTabWidget::TabPosition(position), column1, column2);
    QCOMPARE(w->ui->tabWidgit->currentIndex(), 0);
}

void TstLayout::fontsKeepFamilyAndOthersKeepTheirs()
{
    Platform::setGeometryOverride(QRect(0, 0, 800, 480));
    // The fonts as the form alone sets them.
    QMainWindow plain;
    Ui_MainWindow form;
    form.setupUi(&plain);

    auto w = makeWindow();
    // Only the pixel size of the county list's font changes.
    QCOMPARE(w->ui->areaList->font().family(), w->ui->countyList->font().family());
    QCOMPARE(w->ui->areaList->font().weight(), w->ui->countyList->font().weight());
    // Widgets outside the three groups keep the form's fonts.
    for (const char *name : {"gpsTable", "favsTable", "areaStatus", "stationBackButton"})
        QVERIFY2(w->findChild<QWidget *>(name)->font() == plain.findChild<QWidget *>(name)->font(), name);
    QCOMPARE(w->ui->gpsTable->font().pixelSize(), -1);
}

void TstLayout::resizeRelaysOut()
{
    Platform::setGeometryOverride(QRect(0, 0, 800, 480));
    auto w = makeWindow();
    checkTables(w.get(), QTabWidget::West, 546, 142);

    w->ui->tabWidgit->setTabIcon(0, QIcon());
    w->ui->mainStackWidget->setCurrentIndex(1); // also while a station is open
    Platform::setGeometryOverride(QRect(0, 0, 480, 800));
    Platform::ScreenNotifier::instance()->notify();
    checkTables(w.get(), QTabWidget::South, 350, 91);
    QCOMPARE(iconImage(w->ui->tabWidgit->tabIcon(0)), iconImage(QIcon(QStringLiteral(":/Ireland"))));

    // Fonts and tab icons are sized once, at start-up.
    checkFonts(w.get(), 34, 26, 53);
    QCOMPARE(w->ui->tabWidgit->iconSize(), QSize(51, 51));

    Platform::setGeometryOverride(QRect(0, 0, 800, 480));
    Platform::ScreenNotifier::instance()->notify();
    checkTables(w.get(), QTabWidget::West, 546, 142);
    QCOMPARE(w->ui->mainStackWidget->currentIndex(), 1);
}

// The screen the offscreen platform really reports: its default 800 x 800
// screen (square, so portrait), or the 480 x 800 screen that tst_layout.cmake
// configures for a second run.
void TstLayout::realScreen()
{
    const QRect real = QGuiApplication::primaryScreen()->geometry();
    if (real.size() != QSize(800, 800) && real.size() != QSize(480, 800))
        QFAIL(qPrintable(QStringLiteral("unexpected screen %1x%2").arg(real.width()).arg(real.height())));
    auto w = makeWindow();
    checkFonts(w.get(), 34, 26, 53);
    QCOMPARE(w->ui->tabWidgit->iconSize(), QSize(51, 51));
    if (real.width() == 800)
        checkTables(w.get(), QTabWidget::South, 584, 152);
    else
        checkTables(w.get(), QTabWidget::South, 350, 91);
}

QTEST_MAIN(TstLayout)
#include "tst_layout.moc"
