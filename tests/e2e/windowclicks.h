#ifndef VELMORA_TESTS_WINDOWCLICKS_H
#define VELMORA_TESTS_WINDOWCLICKS_H

// Clicks on the window's lists and tables the way a user makes them, and
// what the station tables show.

#include <QListWidget>
#include <QTableWidget>
#include <QtTest>

inline void clickItem(QListWidget *list, const QString &text)
{
    const QList<QListWidgetItem *> items = list->findItems(text, Qt::MatchExactly);
    QVERIFY2(items.size() == 1, qPrintable(text));
    list->scrollToItem(items.first());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(items.first()).center());
}

inline void clickRow(QTableWidget *table, int row)
{
    const QModelIndex index = table->model()->index(row, 1);
    table->scrollTo(index);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, table->visualRect(index).center());
}

inline QStringList idsOf(const QTableWidget *table)
{
    QStringList ids;
    for (int row = 0; row < table->rowCount(); ++row)
        ids << (table->item(row, 0) ? table->item(row, 0)->text() : QString());
    return ids;
}

#endif
