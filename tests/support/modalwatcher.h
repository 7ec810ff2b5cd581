#pragma once

// Watches for modal dialogs while it is alive and closes them, so a test that
// triggers a QMessageBox never hangs. Every dialog seen is recorded once.
// Polling runs on a QTimer, so it keeps working inside the nested event loop
// of QDialog::exec(), including a box opened while another one is already
// open (the top-most one is handled first).

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QStringList>

class QTimer;
class QWidget;

namespace TestSupport {

struct ModalRecord
{
    QString className;        // e.g. "QMessageBox"
    QString windowTitle;
    QString text;             // QMessageBox::text(), empty for other dialogs
    QStringList buttons;      // button texts, mnemonic '&' removed, in layout order
    int icon = 0;             // QMessageBox::Icon value (0 = NoIcon / not a message box)
    QString clickedButton;    // text of the button the watcher pressed, if any
};

class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    struct Action
    {
        enum Kind {
            Default,      // default button, else an accept/yes-role button, else the escape
                          // button, else the only button, else reject()
            ClickButton,  // click the button whose text (without '&') equals buttonText
            Escape        // send an Escape key press, as a user would
        };
        Kind kind = Default;
        QString buttonText;
        int holdMs = 0;   // keep the dialog open this long before acting

        static Action clickButton(const QString &text, int holdMs = 0) { return {ClickButton, text, holdMs}; }
        static Action escape(int holdMs = 0) { return {Escape, QString(), holdMs}; }
    };

    explicit ModalWatcher(QObject *parent = nullptr);

    // Actions for the next dialogs, one per dialog, in order. Once the queue
    // is empty the default action applies.
    void enqueueAction(const Action &action) { m_queue.enqueue(action); }

    QList<ModalRecord> records() const { return m_records; }
    int count() const { return int(m_records.size()); }
    ModalRecord last() const { return m_records.isEmpty() ? ModalRecord() : m_records.last(); }
    // Spins the event loop until at least n dialogs were recorded.
    bool waitForCount(int n, int timeoutMs = 5000);
    // Spins the event loop until no modal widget is open.
    bool waitForNoModal(int timeoutMs = 5000);

protected:
    // Records a dialog the moment it is shown, so one that closes again
    // before the next poll is counted all the same.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Tracked
    {
        QPointer<QWidget> widget;
        int recordIndex = -1;
        Action action;
        qint64 seenAt = 0;
        qint64 actedAt = -1;   // -1: not acted on yet
    };

    void poll();
    Tracked &track(QWidget *widget);
    void perform(QPointer<QWidget> widget, int recordIndex, const Action &action);

    QTimer *m_timer = nullptr;
    QElapsedTimer m_clock;
    QList<Tracked> m_tracked;
    QList<ModalRecord> m_records;
    QQueue<Action> m_queue;
};

} // namespace TestSupport
