#include "stations/rowhold.h"

#include <QEvent>
#include <QMouseEvent>
#include <QTableWidget>
#include <QTimer>

RowHold::RowHold(QTableWidget *table)
    : QObject(table), m_table(table), m_viewport(table->viewport()), m_idle(new QTimer(this))
{
    m_idle->setSingleShot(true);
    m_idle->setInterval(IdleReleaseMs);
    connect(m_idle, &QTimer::timeout, this, &RowHold::releaseIfIdle);
    // Moves without a button held are needed to tell a resting pointer from
    // one that is aiming.
    m_viewport->setMouseTracking(true);
    m_viewport->installEventFilter(this);
}

RowHold *RowHold::of(const QTableWidget *table)
{
    return table ? table->findChild<RowHold *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

bool RowHold::holding() const
{
    // Qt keeps "under the mouse" up to date as the pointer enters and leaves
    // and as the table is hidden or covered.
    return m_pressed || (m_viewport->underMouse() && m_idle->isActive());
}

void RowHold::holdBack(std::function<void()> refill)
{
    m_heldBack = std::move(refill);
}

bool RowHold::eventFilter(QObject *watched, QEvent *event)
{
    // The viewport kept from the start: while the table is being destroyed
    // it is no longer a table to ask.
    if (watched != m_viewport)
        return false;
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        m_idle->start();
        break;
    case QEvent::Leave:
    case QEvent::HoverLeave:
        // Handled after the leave is complete, when the table no longer
        // counts as under the pointer.
        QTimer::singleShot(0, this, &RowHold::releaseIfIdle);
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        m_idle->start();
        m_pressed = true;
        const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
        const QModelIndex index = m_table->indexAt(at);
        const QTableWidgetItem *id = index.isValid() ? m_table->item(index.row(), 0) : nullptr;
        m_pressedStation = id ? id->text() : QString();
        break;
    }
    case QEvent::MouseButtonRelease:
        m_pressed = false;
        // The view acts on the release after this filter; the rows it acts
        // on must still be the ones pressed, so a held-back refill waits for
        // the next turn of the event loop.
        QTimer::singleShot(0, this, &RowHold::releaseIfIdle);
        break;
    default:
        break;
    }
    return false;
}

void RowHold::releaseIfIdle()
{
    if (holding() || !m_heldBack)
        return;
    const std::function<void()> refill = std::move(m_heldBack);
    m_heldBack = nullptr;
    refill();
}
