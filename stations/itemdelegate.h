#ifndef VELMORA_STATIONS_ITEMDELEGATE_H
#define VELMORA_STATIONS_ITEMDELEGATE_H

#include <QFontMetrics>
#include <QString>
#include <QStyledItemDelegate>

// Paints a station-table cell as two lines: the display text large at the
// top, and below it either the SubtitleRole text in a smaller font or, when
// there is none, the cell's icon centred in the lower band. A cell whose
// second line is "Stale" has its first line struck through.
class ItemDelegate : public QStyledItemDelegate
{
public:
    ~ItemDelegate() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The second line as it fits `width`: when it is too long, its first
    // `elidable` characters (the address) are shortened first, so what
    // follows them (distance and age) stays whole; only when that alone is
    // too long is the end cut.
    static QString fittedSecondLine(const QFontMetrics &metrics, const QString &line, int elidable, int width);
};

#endif
