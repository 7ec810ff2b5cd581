#include "stations/itemdelegate.h"

#include "app/mainwindow.h"
#include "stations/rowhold.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QPainter>
#include <QTableWidget>

ItemDelegate::~ItemDelegate() = default;

QString ItemDelegate::fittedSecondLine(const QFontMetrics &metrics, const QString &line, int elidable, int width)
{
    if (metrics.horizontalAdvance(line) <= width || elidable <= 0 || elidable > line.size())
        return metrics.elidedText(line, Qt::ElideRight, width);
    const QString tail = line.mid(elidable);
    const int room = width - metrics.horizontalAdvance(tail);
    if (room < metrics.horizontalAdvance(QStringLiteral("\u2026")))
        return metrics.elidedText(tail, Qt::ElideRight, width);
    return metrics.elidedText(line.left(elidable), Qt::ElideRight, room) + tail;
}

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
                          fittedSecondLine(painter->fontMetrics(), secondLine,
                                           index.data(ElidableSubtitleRole).toInt(), secondRect.width()));
    } else if (!filled.icon.isNull()) {
        filled.icon.paint(painter, iconBand, Qt::AlignHCenter, QIcon::Normal, QIcon::Off);
    }

    // The row the keyboard is on, while its table has the focus: every cell
    // of it is framed, since the focused cell itself may be the hidden id.
    const auto *view = qobject_cast<const QAbstractItemView *>(option.widget);
    if (view && view->hasFocus() && view->currentIndex().row() == index.row() && width > 0) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = option.rect.adjusted(0, 0, -1, -1);
        focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_HasFocus;
        focus.backgroundColor = option.palette.color(QPalette::Base);
        view->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, view);
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
    if (!RowHold::of(table))
        new RowHold(table);
}
