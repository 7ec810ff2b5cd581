#include "stations/itemdelegate.h"

#include "app/mainwindow.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTableWidget>

ItemDelegate::~ItemDelegate() = default;

void ItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();

    const QString firstLine = index.data(Qt::DisplayRole).toString();
    const QString secondLine = index.data(SubtitleRole).toString();

    // Only the icon is taken from the filled option.
    QStyleOptionViewItem filled(option);
    initStyleOption(&filled, index);

    // No background and no focus frame: the view draws the row itself, the
    // delegate only switches the text colour of a selected row.
    if (option.state & QStyle::State_Selected)
        painter->setPen(QPen(option.palette.brush(option.palette.currentColorGroup(), QPalette::HighlightedText), 0,
                             Qt::SolidLine));

    const int x = option.rect.x();
    const int y = option.rect.y();
    const int width = option.rect.width();
    const int height = option.rect.height();

    // Fonts follow the row height: half and a third of it. A pixel size must
    // be positive, so very low rows get the smallest font there is.
    QFont large = painter->font();
    large.setPixelSize(qMax(1, (height - 2) / 2));
    QFont small = painter->font();
    small.setPixelSize(qMax(1, (height - 2) / 3));
    const int largeHeight = QFontMetrics(large).height();
    const int smallHeight = QFontMetrics(small).height();

    const QRect firstRect(x + 3, y + 1, width - 4, largeHeight);
    const QRect secondRect(x + 3, y + 1 + largeHeight, width - 6, smallHeight);
    const QRect iconBand(x + 1, y + 1 + largeHeight, width - 2, smallHeight);

    if (secondLine == QLatin1String("Stale"))
        large.setStrikeOut(true);

    // Text wider than its cell ends in "…" rather than being cut mid-letter
    // against the next column.
    painter->setFont(large);
    painter->drawText(firstRect, Qt::AlignLeft | Qt::AlignTop,
                      painter->fontMetrics().elidedText(firstLine, Qt::ElideRight, firstRect.width()));

    if (!secondLine.isEmpty()) {
        painter->setFont(small);
        painter->drawText(secondRect, Qt::AlignLeft | Qt::AlignVCenter,
                          painter->fontMetrics().elidedText(secondLine, Qt::ElideRight, secondRect.width()));
    } else if (!filled.icon.isNull()) {
        filled.icon.paint(painter, iconBand, Qt::AlignHCenter, QIcon::Normal, QIcon::Off);
    }

    painter->restore();
}

// Each table gets its own delegate. It has no parent, as a view does not own
// the delegate it is given; it is released together with its table.
void MainWindow::installStationDelegate(QTableWidget *table)
{
    auto *delegate = new ItemDelegate;
    QAbstractItemDelegate *previous = table->itemDelegate();
    table->setItemDelegate(delegate);
    // The delegate is the context: deleting it below drops this connection.
    QObject::connect(table, &QObject::destroyed, delegate, [delegate] { delete delegate; });
    // A delegate installed earlier by this function is not needed any more.
    if (previous && !previous->parent() && dynamic_cast<ItemDelegate *>(previous))
        delete previous;

    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setShowGrid(false);
    table->setAutoScroll(false);
    // Rows are read and tapped, never edited.
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
}
