#pragma once

// Records the messages written with qDebug/qInfo/qWarning/qCritical while it
// is alive, from any thread. Messages are still passed on to the handler that
// was installed before (unless silent), so test logs stay complete. Instances
// nest: create and destroy them in LIFO order (plain scoping does that); an
// inner capture hands each message on to the outer one.

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace TestSupport {

class DebugCapture
{
public:
    explicit DebugCapture(bool silent = false);
    ~DebugCapture();
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    bool contains(const QString &substring) const { return count(substring) > 0; }
    int count(const QString &substring) const { return int(linesContaining(substring).size()); }
    QStringList linesContaining(const QString &substring) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

    const bool m_silent;
    QStringList m_lines;
    QtMessageHandler m_previousHandler = nullptr;
    DebugCapture *m_previousCapture = nullptr;
};

} // namespace TestSupport
