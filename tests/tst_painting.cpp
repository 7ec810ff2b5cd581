// How station rows look: the table is rendered into an image and checked by
// pixels. A stale price is struck through, the star sits centred under a
// cheap fresh price and nowhere else, and a selected row is drawn in the
// palette's highlighted-text colour.

#include "tst_stationfixture.h"

#include "net/catalogue.h"

#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QPalette>
#include <QPointer>
#include <QStackedWidget>

using namespace StationFixture;
using TestSupport::Response;

namespace {

const QColor HighlightedTextColour(255, 0, 0);
const QColor HighlightColour(170, 200, 255);

bool isInk(QRgb p)       // dark text of an unselected row
{
    return qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90;
}

bool isHighlightedInk(QRgb p)
{
    return qRed(p) > 200 && qGreen(p) < 90 && qBlue(p) < 90;
}

bool isStar(QRgb p)      // the star is yellow to orange
{
    return qRed(p) > 180 && qGreen(p) > 80 && qBlue(p) < 100 && qGreen(p) - qBlue(p) > 60;
}

int countPixels(const QImage &image, const QRect &area, bool (*test)(QRgb))
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}

QRect boundingBox(const QImage &image, const QRect &area, bool (*test)(QRgb))
{
    QRect box;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (test(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

// The longest horizontal run of ink on any scanline, as a share of the width
// the ink covers in the area: close to 1 when a line is drawn through text.
double longestInkRunShare(const QImage &image, const QRect &area)
{
    const QRect ink = boundingBox(image, area, isInk);
    if (ink.isEmpty())
        return 0;
    int longest = 0;
    for (int y = ink.top(); y <= ink.bottom(); ++y) {
        int run = 0;
        for (int x = ink.left(); x <= ink.right(); ++x) {
            run = isInk(image.pixel(x, y)) ? run + 1 : 0;
            longest = qMax(longest, run);
        }
    }
    return double(longest) / ink.width();
}

void usePlainPalette(QTableWidget *table)
{
    QPalette palette = table->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Highlight, HighlightColour);
    palette.setColor(QPalette::HighlightedText, HighlightedTextColour);
    table->setPalette(palette);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    table->setFont(font);
}

QImage render(QTableWidget *table)
{
    return table->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int lineHeight(const QTableWidget *table, int pixelSize)
{
    QFont font = table->font();
    font.setPixelSize(pixelSize);
    return QFontMetrics(font).height();
}

} // namespace

class TstPainting : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void staleStruckThroughAndStarCentred();
    void selectedRowUsesHighlightedText();
    void cellVariants();
    void longTextEndsInEllipsis();
    void delegateInstallation();

private:
    // A shown window whose area table holds a cheap fresh price (row 0), the
    // same price stale (row 1) and a dearer fresh price (row 2).
    std::unique_ptr<Harness> h;
    QTableWidget *table = nullptr;
};

void TstPainting::init()
{
    h = std::make_unique<Harness>();
    QVERIFY(h->start());
    h->window->resize(700, 400);
    h->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h->window.get()));
    h->ui()->stackedWidget->setCurrentIndex(2);
    h->chooseFuel(QStringLiteral("Petrol"), QStringLiteral("10"));

    table = h->ui()->areaStationTable;
    h->ensureDelegate(table);
    usePlainPalette(table);

    h->server.setResponse(QStringLiteral("getStationsByArea"),
                          Response::ok(stationsDoc({petrol("0", "1.399", 1), petrol("1", "1.399", 12),
                                                    petrol("2", "1.599", 2)})));
    QVERIFY(h->request(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Bandon")),
                       QStringLiteral("getStationsByArea")));
    QCOMPARE(table->rowCount(), 3);
    table->setColumnWidth(1, 400);
    table->setColumnWidth(2, 160);
    table->clearSelection();
}

void TstPainting::cleanup()
{
    table = nullptr;
    h.reset();
}

void TstPainting::staleStruckThroughAndStarCentred()
{
    const QImage image = render(table);
    const int h1 = lineHeight(table, (55 - 2) / 2);
    const int h2 = lineHeight(table, (55 - 2) / 3);

    const QRect fresh = table->visualRect(table->model()->index(0, 2));
    const QRect stale = table->visualRect(table->model()->index(1, 2));
    QCOMPARE(fresh.height(), 55);
    const QRect freshFirstLine(fresh.x(), fresh.y() + 1, fresh.width(), h1);
    const QRect staleFirstLine(stale.x(), stale.y() + 1, stale.width(), h1);

    // Same price text in both; only the stale one has a line right through it.
    QVERIFY(countPixels(image, freshFirstLine, isInk) > 30);
    QVERIFY(countPixels(image, staleFirstLine, isInk) > 30);
    QVERIFY2(longestInkRunShare(image, staleFirstLine) > 0.9, "stale price not struck through");
    QVERIFY2(longestInkRunShare(image, freshFirstLine) < 0.6, "fresh price struck through");
    // "Stale" is written below the stale price.
    QVERIFY(countPixels(image, QRect(stale.x(), stale.y() + 1 + h1, stale.width(), h2), isInk) > 10);

    // The star: only in the band under the cheap fresh price, centred there.
    const QRect band(fresh.x() + 1, fresh.y() + 1 + h1, fresh.width() - 2, h2);
    const QRect star = boundingBox(image, image.rect(), isStar);
    QVERIFY2(!star.isEmpty(), "no star painted");
    QVERIFY2(band.contains(star), "star outside the band under the price");
    QVERIFY(countPixels(image, band, isStar) > 40);
    QVERIFY(qAbs(star.center().x() - band.center().x()) <= 2);
    // A star is about as wide as it is high: not stretched over the band.
    QVERIFY(star.width() < 2 * band.height());
    QCOMPARE(countPixels(image, image.rect(), isStar), countPixels(image, band, isStar));
}

void TstPainting::selectedRowUsesHighlightedText()
{
    table->selectRow(2);
    QCOMPARE(table->selectionModel()->selectedRows().size(), 1);
    const QImage image = render(table);

    for (int row = 0; row < 3; ++row) {
        for (int column = 1; column <= 2; ++column) {
            const QRect cell = table->visualRect(table->model()->index(row, column));
            const int highlighted = countPixels(image, cell, isHighlightedInk);
            const int plain = countPixels(image, cell, isInk);
            if (row == 2) {
                QVERIFY2(highlighted > 30, qPrintable(QStringLiteral("column %1").arg(column)));
                QCOMPARE(plain, 0);
            } else {
                QCOMPARE(highlighted, 0);
                QVERIFY(plain > 30);
            }
        }
    }
    // Both lines of the title are drawn in the highlighted colour.
    const QRect title = table->visualRect(table->model()->index(2, 1));
    const int h1 = lineHeight(table, 26);
    QVERIFY(countPixels(image, QRect(title.x(), title.y() + 1, title.width(), h1), isHighlightedInk) > 30);
    QVERIFY(countPixels(image, QRect(title.x(), title.y() + 1 + h1, title.width(), title.height() - h1 - 1),
                        isHighlightedInk) > 20);
}

// Cells as the delegate may meet them, whatever the tables put in: a second
// line always wins over the icon, and only "Stale" strikes through.
void TstPainting::cellVariants()
{
    table->clear();
    table->setRowCount(3);
    const QIcon star(QStringLiteral(":/star"));
    auto *staleWithIcon = new QTableWidgetItem(QStringLiteral("1.399"));
    staleWithIcon->setData(SubtitleRole, QStringLiteral("Stale"));
    staleWithIcon->setData(Qt::DecorationRole, star);
    table->setItem(0, 2, staleWithIcon);
    auto *otherSubtitle = new QTableWidgetItem(QStringLiteral("1.399"));
    otherSubtitle->setData(SubtitleRole, QStringLiteral("Main"));
    otherSubtitle->setData(Qt::DecorationRole, star);
    table->setItem(1, 2, otherSubtitle);
    table->setItem(2, 2, new QTableWidgetItem(QStringLiteral("1.399")));
    for (int row = 0; row < 3; ++row)
        table->setRowHeight(row, 55);

    const QImage image = render(table);
    const int h1 = lineHeight(table, 26);
    QCOMPARE(countPixels(image, image.rect(), isStar), 0);

    const QRect stale = table->visualRect(table->model()->index(0, 2));
    const QRect other = table->visualRect(table->model()->index(1, 2));
    const QRect single = table->visualRect(table->model()->index(2, 2));
    QVERIFY(longestInkRunShare(image, QRect(stale.x(), stale.y() + 1, stale.width(), h1)) > 0.9);
    QVERIFY(longestInkRunShare(image, QRect(other.x(), other.y() + 1, other.width(), h1)) < 0.6);
    QVERIFY(countPixels(image, QRect(other.x(), other.y() + 1 + h1, other.width(), 20), isInk) > 10);
    // Only the first line: nothing below it.
    QVERIFY(countPixels(image, QRect(single.x(), single.y() + 1, single.width(), h1), isInk) > 30);
    QCOMPARE(countPixels(image, QRect(single.x(), single.y() + 1 + h1, single.width(), 55 - 1 - h1), isInk), 0);

    // The large line is noticeably taller than the small one.
    const QRect large = boundingBox(image, QRect(other.x(), other.y() + 1, other.width(), h1), isInk);
    const QRect small = boundingBox(image, QRect(other.x(), other.y() + 1 + h1, other.width(), 20), isInk);
    QVERIFY(large.height() > small.height() * 4 / 3);
}

// A title or address wider than its cell is drawn shortened with "…", as the
// same cell holding the already shortened text is drawn, not cut mid-letter;
// an address line gives up its address before its distance and age.
void TstPainting::longTextEndsInEllipsis()
{
    table->setColumnWidth(1, 160);
    const QString title = QStringLiteral("Applegreen Ballincollig West Service Station");
    const QString address = QStringLiteral("Main Street, Ballincollig - 12.50 km - 3 days");
    QTableWidgetItem *item = table->item(0, 1);
    item->setText(title);
    item->setData(SubtitleRole, address);
    item->setData(ElidableSubtitleRole, QVariant()); // no part of the line gives way first
    const QRect cell = table->visualRect(table->model()->index(0, 1));
    const QImage drawn = render(table).copy(cell);

    QFont large = table->font();
    large.setPixelSize(26);
    QFont small = table->font();
    small.setPixelSize(17);
    const QString shortTitle = QFontMetrics(large).elidedText(title, Qt::ElideRight, cell.width() - 4);
    const QString shortAddress = QFontMetrics(small).elidedText(address, Qt::ElideRight, cell.width() - 6);
    QVERIFY(shortTitle.endsWith(QChar(0x2026)) && shortAddress.endsWith(QChar(0x2026)));
    item->setText(shortTitle);
    item->setData(SubtitleRole, shortAddress);
    QVERIFY(render(table).copy(cell) == drawn);

    // With the address marked as the part that may give way, the distance
    // and age stay whole and the address is shortened instead.
    table->setColumnWidth(1, 240);
    const QRect wider = table->visualRect(table->model()->index(0, 1));
    const QString place = QStringLiteral("Main Street, Ballincollig");
    const QString tail = address.mid(place.size());
    const QString fitted = ItemDelegate::fittedSecondLine(QFontMetrics(small), address, int(place.size()),
                                                          wider.width() - 6);
    QVERIFY2(fitted.endsWith(QChar(0x2026) + tail) && fitted.startsWith(QStringLiteral("Main")), qPrintable(fitted));
    item->setData(SubtitleRole, address);
    item->setData(ElidableSubtitleRole, int(place.size()));
    const QImage keptTail = render(table).copy(wider);
    item->setData(SubtitleRole, fitted);
    item->setData(ElidableSubtitleRole, QVariant());
    QVERIFY(render(table).copy(wider) == keptTail);
}

void TstPainting::delegateInstallation()
{
    QPointer<QAbstractItemDelegate> first = table->itemDelegate();
    QVERIFY(dynamic_cast<ItemDelegate *>(first.data()));
    QVERIFY(!first->parent());
    QCOMPARE(table->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!table->showGrid());
    QVERIFY(!table->hasAutoScroll());

    // Each table has its own delegate.
    h->ensureDelegate(h->ui()->gpsTable);
    QVERIFY(h->ui()->gpsTable->itemDelegate() != first.data());

    // Installing again replaces the delegate; a table takes its delegate
    // along when it goes.
    auto *own = new QTableWidget;
    h->window->installStationDelegate(own);
    QPointer<QAbstractItemDelegate> ownFirst = own->itemDelegate();
    h->window->installStationDelegate(own);
    QPointer<QAbstractItemDelegate> ownSecond = own->itemDelegate();
    QVERIFY(ownFirst.isNull());
    QVERIFY(!ownSecond.isNull());
    delete own;
    QVERIFY(ownSecond.isNull());
}

QTEST_MAIN(TstPainting)
#include "tst_painting.moc"
