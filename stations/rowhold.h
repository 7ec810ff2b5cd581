#ifndef VELMORA_STATIONS_ROWHOLD_H
#define VELMORA_STATIONS_ROWHOLD_H

#include <QObject>
#include <QString>

#include <functional>

class QTableWidget;
class QTimer;
class QWidget;

// Keeps the rows of a station table where they are while the user aims at
// one: while the pointer is over the table and has moved in the last few
// seconds, or while a button is held on it. A refill in that time only
// updates the rows in place and leaves the rest for later (holdBack); the
// later part runs as soon as the hold ends. Also remembers which station a
// press began on, so the click that follows opens that one.
class RowHold : public QObject
{
    Q_OBJECT

public:
    // How long a pointer that does not move still holds the rows.
    static constexpr int IdleReleaseMs = 3000;

    explicit RowHold(QTableWidget *table);
    // The hold of a table, if it has one.
    static RowHold *of(const QTableWidget *table);

    bool holding() const;
    // Runs `refill` when the hold ends; a later call replaces an earlier one.
    void holdBack(std::function<void()> refill);
    // The id of the station under the pointer when the last press began;
    // empty when that press was on no row.
    QString pressedStation() const { return m_pressedStation; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void releaseIfIdle();

    QTableWidget *m_table;
    QWidget *m_viewport;
    QTimer *m_idle;
    bool m_pressed = false;
    QString m_pressedStation;
    std::function<void()> m_heldBack;
};

#endif
