#include "support/modalwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

namespace TestSupport {

namespace {

QElapsedTimer &clock()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer;
}

// "&Continue" -> "Continue", "Fish && Chips" -> "Fish & Chips".
QString stripMnemonic(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        out += text.at(i);
    }
    return out;
}

QList<QAbstractButton *> dialogButtons(QWidget *widget)
{
    if (auto *box = qobject_cast<QMessageBox *>(widget))
        return box->buttons();
    QList<QAbstractButton *> result;
    const auto all = widget->findChildren<QAbstractButton *>();
    for (QAbstractButton *b : all) {
        if (b->isVisibleTo(widget))
            result << b;
    }
    return result;
}

QAbstractButton *defaultButtonOf(QWidget *widget)
{
    const QList<QAbstractButton *> buttons = dialogButtons(widget);
    if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        if (box->defaultButton())
            return box->defaultButton();
        for (QAbstractButton *b : buttons) {
            const auto role = box->buttonRole(b);
            if (role == QMessageBox::AcceptRole || role == QMessageBox::YesRole)
                return b;
        }
        if (box->escapeButton())
            return box->escapeButton();
    } else {
        for (QAbstractButton *b : buttons) {
            auto *push = qobject_cast<QPushButton *>(b);
            if (push && push->isDefault())
                return b;
        }
        const auto boxes = widget->findChildren<QDialogButtonBox *>();
        for (QDialogButtonBox *bb : boxes) {
            for (QAbstractButton *b : bb->buttons()) {
                if (bb->buttonRole(b) == QDialogButtonBox::AcceptRole)
                    return b;
            }
        }
    }
    return buttons.size() == 1 ? buttons.first() : nullptr;
}

} // namespace

ModalWatcher::ModalWatcher(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    clock();
    m_timer->setInterval(20);
    connect(m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer->start();
}

ModalWatcher::~ModalWatcher()
{
    m_timer->stop();
}

void ModalWatcher::setPollInterval(int ms)
{
    m_timer->setInterval(qMax(1, ms));
}

bool ModalWatcher::waitForCount(int n, int timeoutMs)
{
    return QTest::qWaitFor([&] { return count() >= n; }, timeoutMs);
}

bool ModalWatcher::waitForNoModal(int timeoutMs)
{
    return QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; },
                           timeoutMs);
}

QWidget *ModalWatcher::findModal() const
{
    if (QWidget *w = QApplication::activeModalWidget())
        return w;
    // Fallback for platforms that do not report the modal stack: any visible
    // modal dialog among the top-level widgets.
    const auto tops = QApplication::topLevelWidgets();
    for (QWidget *w : tops) {
        if (w->isVisible() && qobject_cast<QDialog *>(w) && w->windowModality() != Qt::NonModal)
            return w;
    }
    return nullptr;
}

ModalRecord ModalWatcher::describe(QWidget *widget)
{
    ModalRecord r;
    r.className = QString::fromLatin1(widget->metaObject()->className());
    r.objectName = widget->objectName();
    r.windowTitle = widget->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        r.text = box->text();
        r.informativeText = box->informativeText();
        r.icon = int(box->icon());
    }
    for (QAbstractButton *b : dialogButtons(widget))
        r.buttons << stripMnemonic(b->text());
    return r;
}

void ModalWatcher::poll()
{
    const qint64 now = clock().elapsed();

    for (qsizetype i = m_tracked.size() - 1; i >= 0; --i) {
        if (!m_tracked.at(i).widget || !m_tracked.at(i).widget->isVisible())
            m_tracked.removeAt(i);
    }

    QWidget *top = findModal();
    if (!top)
        return;

    Tracked *entry = nullptr;
    for (Tracked &t : m_tracked) {
        if (t.widget == top)
            entry = &t;
        else if (t.actionScheduled)
            t.actedAt = now;   // blocked by a dialog above it: not yet its turn
    }
    if (!entry) {
        Tracked t;
        t.widget = top;
        t.recordIndex = int(m_records.size());
        t.action = m_queue.isEmpty() ? m_defaultAction : m_queue.dequeue();
        t.seenAt = now;
        m_records << describe(top);
        m_tracked << t;
        entry = &m_tracked.last();
    }

    if (entry->action.kind == Action::LeaveOpen)
        return;

    if (!entry->actionScheduled) {
        if (now - entry->seenAt < entry->action.holdMs)
            return;
        entry->actionScheduled = true;
        entry->actedAt = now;
        // Act from a queued call rather than from inside this timer slot: a
        // button handler may open another dialog with exec(), and the poll
        // timer must stay free to fire inside that nested loop.
        const QPointer<QWidget> widget = entry->widget;
        const int index = entry->recordIndex;
        const Action action = entry->action;
        QMetaObject::invokeMethod(
            this, [this, widget, index, action] { perform(widget, index, action); },
            Qt::QueuedConnection);
        return;
    }

    if (m_forceCloseMs > 0 && now - entry->actedAt > m_forceCloseMs) {
        qWarning("ModalWatcher: %s \"%s\" still open after its action; rejecting it",
                 top->metaObject()->className(), qPrintable(top->windowTitle()));
        if (entry->recordIndex >= 0 && entry->recordIndex < m_records.size())
            m_records[entry->recordIndex].forced = true;
        entry->actedAt = now;
        if (auto *dialog = qobject_cast<QDialog *>(top))
            dialog->reject();
        else
            top->close();
    }
}

void ModalWatcher::perform(QPointer<QWidget> widget, int recordIndex, const Action &action)
{
    if (!widget || !widget->isVisible())
        return;
    auto record = [&]() -> ModalRecord * {
        if (recordIndex >= 0 && recordIndex < m_records.size())
            return &m_records[recordIndex];
        return nullptr;
    };

    Action todo = action;
    QAbstractButton *target = nullptr;
    if (todo.kind == Action::ClickButton) {
        for (QAbstractButton *b : dialogButtons(widget)) {
            if (stripMnemonic(b->text()) == todo.buttonText) {
                target = b;
                break;
            }
        }
        if (!target) {
            qWarning("ModalWatcher: no button \"%s\" in %s; using the default button",
                     qPrintable(todo.buttonText), widget->metaObject()->className());
            if (ModalRecord *r = record())
                r->forced = true;
            todo.kind = Action::Default;
        }
    }

    switch (todo.kind) {
    case Action::Default:
        target = defaultButtonOf(widget);
        if (!target) {
            if (auto *dialog = qobject_cast<QDialog *>(widget.data()))
                dialog->reject();
            else
                widget->close();
            return;
        }
        break;
    case Action::ClickButton:
        break;
    case Action::Escape:
        QTest::keyClick(widget.data(), Qt::Key_Escape);
        return;
    case Action::Reject:
        if (auto *dialog = qobject_cast<QDialog *>(widget.data()))
            dialog->reject();
        else
            widget->close();
        return;
    case Action::LeaveOpen:
        return;
    }

    if (ModalRecord *r = record())
        r->clickedButton = stripMnemonic(target->text());
    target->click();
}

} // namespace TestSupport
