#include "app/mainwindow.h"

#include "platform/screen.h"
#include "resources/bundleimages.h"
#include "ui_mainwindow.h"

#include <QFont>
#include <QIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QWidget>
#include <algorithm>
#include <initializer_list>

namespace {

// A copy of `base` with only its pixel size changed.
QFont withPixelSize(const QFont &base, int pixels)
{
    QFont font(base);
    font.setPixelSize(pixels);
    return font;
}

// Widest the station columns get in a desktop window, in pixels. The price
// column is as wide as on an 800 x 480 handheld held sideways; the title
// column a little wider than there, for the longer names a desktop window
// can show whole.
constexpr int MaxTitleColumnWidth = 640;
constexpr int MaxPriceColumnWidth = 142;

} // namespace

// Sizes fonts and tab icons once, from the longer side of the device's
// screen, so they are the same in both orientations; then selects the stored
// start tab.
void MainWindow::applyScreenFonts()
{
    installStationDelegate(ui->gpsTable);
    installStationDelegate(ui->areaStationTable);
    installStationDelegate(ui->favsTable);

    // A handheld scrolls by dragging and keeps the whole width for the rows;
    // a desktop window shows a scroll bar when the rows do not fit.
    const Qt::ScrollBarPolicy bars =
        Platform::windowStandsForScreen(this) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    for (QTableWidget *table : {ui->gpsTable, ui->areaStationTable, ui->favsTable})
        table->setVerticalScrollBarPolicy(bars);

    const int longSide = Platform::deviceLongSide();

    const QFont base = ui->countyList->font();
    const QFont listFont = withPixelSize(base, std::max(longSide / 23, 10));
    const QFont smallFont = withPixelSize(base, std::max(longSide / 30, 8));
    const QFont priceFont = withPixelSize(base, std::max(longSide / 15, 10));

    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->countyList, ui->areaList, ui->startTabCombo, ui->fuelType, ui->userName,
             ui->password, ui->gpsDistance, ui->stalePriceDays})
        w->setFont(listFont);

    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->updateStationLabel, ui->updateStationLabel2, ui->updateStationLabel3,
             ui->updateStationLabel4, ui->labelSettings1, ui->labelSettings2, ui->labelSettings3,
             ui->labelSettings4, ui->labelSettings5, ui->labelSettings6})
        w->setFont(smallFont);

    ui->petrolLCD->setFont(priceFont);
    ui->dieselLCD->setFont(priceFont);

    const int iconSide = int(listFont.pixelSize() * 1.5);
    ui->tabWidgit->setIconSize(QSize(iconSide, iconSide));

    // Not tab 0: the tab-change hub runs now and starts that tab's work.
    ui->tabWidgit->setCurrentIndex(ui->startTabCombo->currentIndex());
    errorDialogOpen = false;
}

// Tab bar on the left in landscape, at the bottom in portrait (a square
// screen counts as portrait); the station columns follow. Runs at start-up
// and on every screen resize.
void MainWindow::orientationChanged()
{
    const QRect screen = Platform::screenGeometry();
    const bool portrait = !(screen.width() > screen.height());

    ui->tabWidgit->setTabPosition(portrait ? QTabWidget::South : QTabWidget::West);
    for (QTableWidget *table : {ui->favsTable, ui->areaStationTable, ui->gpsTable})
        setColumnWidths(table, portrait);

    ui->tabWidgit->setTabIcon(0, BundleImages::icon(QStringLiteral(":/Ireland")));
}

// Columns 1 and 2 take 73 % and 19 % of the usable width; column 0 (the
// hidden station id) is left alone. In landscape the tab bar on the left
// takes the width of one tab icon. On a wide desktop window the shares are
// capped, so the price stays near its station's name and the star, centred
// under the price, stays beside it; a handheld's screen is used whole.
void MainWindow::setColumnWidths(QTableWidget *table, bool portrait)
{
    int width = Platform::availableGeometry(table).width();
    if (!portrait)
        width -= ui->tabWidgit->iconSize().width();

    const double percent = width / 100.0;
    int title = int(percent * 73);
    int price = int(percent * 19);
    if (Platform::windowStandsForScreen(this)) {
        title = std::min(title, MaxTitleColumnWidth);
        price = std::min(price, MaxPriceColumnWidth);
    }
    table->setColumnWidth(1, title);
    table->setColumnWidth(2, price);
}
