#pragma once

// Records the messages written with qDebug/qInfo/qWarning/qCritical while it
// is alive. Messages are still passed on to the handler that was installed
// before (unless silent), so test logs stay complete. Instances nest: create
// and destroy them in LIFO order (plain scoping does that).

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace TestSupport {

class DebugCapture
{
public:
    struct Line
    {
        QtMsgType type;
        QString category;
        QString text;
    };

    explicit DebugCapture(bool silent = false);
    ~DebugCapture();
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    QList<Line> entries() const;
    QStringList lines() const;                                   // message texts only
    bool contains(const QString &substring) const;
    int count(const QString &substring) const;                   // lines containing it
    QStringList linesContaining(const QString &substring) const;
    void clear();
    void setSilent(bool silent);

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg);
    void record(QtMsgType type, const QMessageLogContext &context, const QString &msg);

    mutable QMutex m_mutex;
    QList<Line> m_lines;
    bool m_silent = false;
    QtMessageHandler m_previousHandler = nullptr;
    DebugCapture *m_previousCapture = nullptr;
};

} // namespace TestSupport
