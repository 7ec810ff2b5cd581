#include "support/modalwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <QtTest/QTest>

namespace TestSupport {

namespace {

// A dialog still open this long after its action is rejected, so a wrong
// action (e.g. Escape on a box without an escape button) cannot hang a test.
constexpr qint64 ForceCloseMs = 3000;

// "&Continue" -> "Continue", "Fish && Chips" -> "Fish & Chips".
QString stripMnemonic(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && ++i == text.size())
            break;
        out += text.at(i);
    }
    return out;
}

QAbstractButton *defaultButtonOf(QMessageBox *box)
{
    if (box->defaultButton())
        return box->defaultButton();
    const QList<QAbstractButton *> buttons = box->buttons();
    for (QAbstractButton *b : buttons) {
        const auto role = box->buttonRole(b);
        if (role == QMessageBox::AcceptRole || role == QMessageBox::YesRole)
            return b;
    }
    if (box->escapeButton())
        return box->escapeButton();
    return buttons.size() == 1 ? buttons.first() : nullptr;
}

void closeDialog(QWidget *widget)
{
    if (auto *dialog = qobject_cast<QDialog *>(widget))
        dialog->reject();
    else
        widget->close();
}

ModalRecord describe(QWidget *widget)
{
    ModalRecord r;
    r.className = QString::fromLatin1(widget->metaObject()->className());
    r.windowTitle = widget->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        r.text = box->text();
        r.icon = int(box->icon());
        for (QAbstractButton *b : box->buttons())
            r.buttons << stripMnemonic(b->text());
    }
    return r;
}

} // namespace

ModalWatcher::ModalWatcher(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_clock.start();
    m_timer->setInterval(20);
    connect(m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer->start();
    qApp->installEventFilter(this);
}

bool ModalWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->isWindow() && widget->isModal()) {
            const bool known = std::any_of(m_tracked.cbegin(), m_tracked.cend(),
                                           [widget](const Tracked &t) { return t.widget == widget; });
            if (!known)
                track(widget);
        }
    }
    return false;
}

ModalWatcher::Tracked &ModalWatcher::track(QWidget *widget)
{
    m_tracked << Tracked{widget, int(m_records.size()), m_queue.isEmpty() ? Action() : m_queue.dequeue(),
                         m_clock.elapsed(), -1};
    m_records << describe(widget);
    return m_tracked.last();
}

bool ModalWatcher::waitForCount(int n, int timeoutMs)
{
    return QTest::qWaitFor([&] { return count() >= n; }, timeoutMs);
}

bool ModalWatcher::waitForNoModal(int timeoutMs)
{
    return QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, timeoutMs);
}

void ModalWatcher::poll()
{
    const qint64 now = m_clock.elapsed();

    m_tracked.removeIf([](const Tracked &t) { return !t.widget || !t.widget->isVisible(); });

    QWidget *top = QApplication::activeModalWidget();
    if (!top)
        return;

    Tracked *entry = nullptr;
    for (Tracked &t : m_tracked) {
        if (t.widget == top)
            entry = &t;
        else if (t.actedAt >= 0)
            t.actedAt = now;   // blocked by a dialog above it: its time does not run
    }
    if (!entry)
        entry = &track(top);

    if (entry->actedAt < 0) {
        if (now - entry->seenAt < entry->action.holdMs)
            return;
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
    } else if (now - entry->actedAt > ForceCloseMs) {
        qWarning("ModalWatcher: %s \"%s\" still open after its action; rejecting it",
                 top->metaObject()->className(), qPrintable(top->windowTitle()));
        entry->actedAt = now;
        closeDialog(top);
    }
}

void ModalWatcher::perform(QPointer<QWidget> widget, int recordIndex, const Action &action)
{
    if (!widget || !widget->isVisible())
        return;
    if (action.kind == Action::Escape) {
        QTest::keyClick(widget.data(), Qt::Key_Escape);
        return;
    }
    auto *box = qobject_cast<QMessageBox *>(widget.data());
    if (!box) {
        closeDialog(widget);
        return;
    }
    QAbstractButton *target = nullptr;
    if (action.kind == Action::ClickButton) {
        for (QAbstractButton *b : box->buttons()) {
            if (stripMnemonic(b->text()) == action.buttonText)
                target = b;
        }
        if (!target)
            qWarning("ModalWatcher: no button \"%s\"; using the default button",
                     qPrintable(action.buttonText));
    }
    if (!target)
        target = defaultButtonOf(box);
    if (!target) {
        closeDialog(box);
        return;
    }
    m_records[recordIndex].clickedButton = stripMnemonic(target->text());
    target->click();
}

} // namespace TestSupport
