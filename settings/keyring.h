#ifndef VELMORA_SETTINGS_KEYRING_H
#define VELMORA_SETTINGS_KEYRING_H

#include <QObject>
#include <QString>

#include <functional>

// The password's place in the desktop's keyring (the Secret Service on
// Linux). Reading is asynchronous and bounded: start() asks, and whenSettled()
// runs its work once the keyring has answered or the bound has passed,
// whichever comes first; a keyring that answers later is not used in this
// run. Writing waits for the keyring, also bounded.
class Keyring : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Reading,   // asked, no answer yet
        Found,     // the keyring holds a password: password()
        Empty,     // the keyring works but holds no password yet
        Absent     // no keyring, or no answer in time: the settings file keeps the password
    };

    explicit Keyring(QObject *parent = nullptr);

    // Asks for the stored password; the answer counts only within boundMs.
    void start(int boundMs);
    State state() const { return m_state; }
    // Whether the password is kept here rather than in the settings file.
    bool inUse() const { return m_state == State::Found || m_state == State::Empty; }
    QString password() const { return m_password; }

    // Runs `work` now if the read is over, else once it is.
    void whenSettled(QObject *context, std::function<void()> work);

    // Stores the password and tells `done` whether the keyring took it;
    // `done` is dropped with `context`.
    void store(const QString &password, QObject *context, std::function<void(bool)> done);
    // Stores the password and waits for the answer; false when the keyring
    // did not take it within boundMs (it may still take it later).
    bool write(const QString &password, int boundMs);

signals:
    void settled();

private:
    void settle(State state, const QString &password = QString());

    State m_state = State::Absent;
    QString m_password;
};

#endif
