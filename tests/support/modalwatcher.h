#pragma once

// Watches for modal dialogs while it is alive and closes them, so a test that
// triggers a QMessageBox (or any modal QDialog) never hangs. Every dialog seen
// is recorded once. Polling runs on a QTimer, so it keeps working inside the
// nested event loop of QDialog::exec(), including a dialog opened while
// another one is already open (the top-most one is handled first).

#include <QList>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QStringList>

class QDialog;
class QTimer;
class QWidget;

namespace TestSupport {

struct ModalRecord
{
    QString className;        // e.g. "QMessageBox"
    QString objectName;
    QString windowTitle;
    QString text;             // QMessageBox::text(), empty for other dialogs
    QString informativeText;
    QStringList buttons;      // button texts, mnemonic '&' removed, in layout order
    int icon = 0;             // QMessageBox::Icon value (0 = NoIcon / not a message box)
    QString clickedButton;    // text of the button the watcher pressed, if any
    bool forced = false;      // the chosen action did not close it; it was rejected
};

class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    struct Action
    {
        enum Kind {
            Default,      // default button, else an accept-role/OK button, else the escape button, else reject()
            ClickButton,  // click the button whose text (without '&') equals buttonText
            Escape,       // send an Escape key press, as a user would
            Reject,       // call QDialog::reject()
            LeaveOpen     // record only; the test closes it itself
        };
        Kind kind = Default;
        QString buttonText;
        int holdMs = 0;   // keep the dialog open this long before acting

        static Action clickButton(const QString &text, int holdMs = 0) { return {ClickButton, text, holdMs}; }
        static Action escape(int holdMs = 0) { return {Escape, QString(), holdMs}; }
        static Action reject(int holdMs = 0) { return {Reject, QString(), holdMs}; }
        static Action defaultButton(int holdMs = 0) { return {Default, QString(), holdMs}; }
        static Action leaveOpen() { return {LeaveOpen, QString(), 0}; }
    };

    explicit ModalWatcher(QObject *parent = nullptr);
    ~ModalWatcher() override;

    // Queue of actions for the next dialogs, one per dialog, in order. When
    // the queue is empty the default action applies.
    void setNextAction(const QString &buttonText) { enqueueAction(Action::clickButton(buttonText)); }
    void enqueueAction(const Action &action) { m_queue.enqueue(action); }
    void setDefaultAction(const Action &action) { m_defaultAction = action; }
    void clearActions() { m_queue.clear(); }
    int pendingActions() const { return int(m_queue.size()); }

    // If the chosen action has not closed a dialog after this long, it is
    // rejected and its record marked `forced` (default 3000 ms, <= 0 = never).
    void setForceCloseAfter(int ms) { m_forceCloseMs = ms; }

    QList<ModalRecord> records() const { return m_records; }
    int count() const { return int(m_records.size()); }
    ModalRecord last() const { return m_records.isEmpty() ? ModalRecord() : m_records.last(); }
    void clear() { m_records.clear(); }
    // Spins the event loop until at least n dialogs were recorded.
    bool waitForCount(int n, int timeoutMs = 5000);
    // Spins the event loop until no modal widget is open.
    bool waitForNoModal(int timeoutMs = 5000);

    void setPollInterval(int ms);

private:
    struct Tracked
    {
        QPointer<QWidget> widget;
        int recordIndex = -1;
        Action action;
        qint64 seenAt = 0;
        qint64 actedAt = -1;
        bool actionScheduled = false;
    };

    void poll();
    QWidget *findModal() const;
    void perform(QPointer<QWidget> widget, int recordIndex, const Action &action);
    static ModalRecord describe(QWidget *widget);

    QTimer *m_timer = nullptr;
    QList<Tracked> m_tracked;
    QList<ModalRecord> m_records;
    QQueue<Action> m_queue;
    Action m_defaultAction;
    int m_forceCloseMs = 3000;
};

} // namespace TestSupport
