#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QShortcut>

#include <functional>
#include <utility>

namespace {

// Return, keypad Enter and Space choose the current item, as a click does.
bool isChoiceKey(const QKeyEvent *key)
{
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space;
}

// Hands the current item of a list or table to `choose` when a choice key
// is pressed on it. Item views only select on Space and only announce
// Return as "activated", which a single click announces too on some styles.
class ChoiceKeys : public QObject
{
public:
    ChoiceKeys(QAbstractItemView *view, std::function<void(const QModelIndex &)> choose)
        : QObject(view), m_view(view), m_choose(std::move(choose))
    {
        view->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_view || event->type() != QEvent::KeyPress || !isChoiceKey(static_cast<QKeyEvent *>(event)))
            return false;
        const QModelIndex current = m_view->currentIndex();
        if (!current.isValid())
            return false;
        m_choose(current);
        return true;
    }

private:
    QAbstractItemView *m_view;
    std::function<void(const QModelIndex &)> m_choose;
};

// A click that opens a page puts a new widget under the pointer; the second
// click of a double click must not act on it (it would open the first area
// of the county just chosen, or press a button of the station page). The
// second click arrives as a double-click event: it is dropped, with its
// release, when it reaches another widget than the press before it did.
// Deliveries of one event to a widget and then its parents share the
// event's time stamp; it is judged once, at the first widget.
class SecondClickGuard : public QObject
{
public:
    explicit SecondClickGuard(QWidget *window)
        : QObject(window), m_window(window)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick
            && type != QEvent::MouseButtonRelease)
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || widget->window() != m_window)
            return false;
        const quint64 stamp = static_cast<QMouseEvent *>(event)->timestamp();

        switch (type) {
        case QEvent::MouseButtonPress:
            if (stamp != m_pressStamp) {
                m_pressStamp = stamp;
                m_pressTarget = widget;
                m_dropRelease = false;
            }
            return false;
        case QEvent::MouseButtonDblClick:
            // A dropped event goes no further, so a second delivery of the
            // same one is a kept event on its way up to a parent.
            if (stamp == m_judgedStamp)
                return false;
            m_judgedStamp = stamp;
            m_dropRelease = widget != m_pressTarget;
            return m_dropRelease;
        default:
            if (!m_dropRelease)
                return false;
            m_dropRelease = false;
            return true;
        }
    }

private:
    QWidget *m_window;
    QPointer<QWidget> m_pressTarget;
    quint64 m_pressStamp = 0;
    quint64 m_judgedStamp = 0;
    bool m_dropRelease = false;
};

} // namespace

// The keys and pointer rules the form cannot express: choosing with the
// keyboard, the keys that go back, F10 for the menu, and the double click
// that must not reach the page its first click opened.
void MainWindow::installInputHandling()
{
    new ChoiceKeys(ui->countyList, [this](const QModelIndex &index) { chooseCounty(ui->countyList->item(index.row())); });
    new ChoiceKeys(ui->areaList, [this](const QModelIndex &index) { chooseArea(ui->areaList->item(index.row())); });
    for (QTableWidget *table : {ui->areaStationTable, ui->gpsTable, ui->favsTable}) {
        new ChoiceKeys(table, [this, table](const QModelIndex &index) {
            const QTableWidgetItem *id = table->item(index.row(), 0);
            if (id)
                loadStation(id->text());
        });
    }

    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Left),
                                     QKeySequence(Qt::Key_Escape)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &MainWindow::goBack);

    // Alt alone is the menu bar's own (the style's Alt navigation); F10 opens
    // the first menu as desktops do.
    connect(new QShortcut(QKeySequence(Qt::Key_F10), this), &QShortcut::activated, this, [this] {
        const QList<QAction *> menus = menuBar()->actions();
        if (!menus.isEmpty())
            menuBar()->setActiveAction(menus.constFirst());
    });

    new SecondClickGuard(this);
}

// Whichever Back button is showing is pressed; where none shows, nothing
// happens.
void MainWindow::goBack()
{
    if (ui->mainStackWidget->currentIndex() == 1) {
        on_stationBackButton_pressed();
    } else if (ui->tabWidgit->currentIndex() == 0) {
        if (ui->stackedWidget->currentIndex() == 2)
            on_stationBacbButton_pressed();
        else if (ui->stackedWidget->currentIndex() == 1)
            on_areaBackButton_pressed();
    }
}

void MainWindow::on_actionQuit_triggered()
{
    close();
}
