#include "support/debugcapture.h"

#include <QMutexLocker>
#include <QRecursiveMutex>

#include <cstdio>

namespace TestSupport {

namespace {

// Guards the chain of captures and their lines. Recursive because the handler
// a capture passes messages on to may itself log.
QRecursiveMutex g_mutex;
DebugCapture *g_current = nullptr;

} // namespace

DebugCapture::DebugCapture(bool silent)
    : m_silent(silent)
{
    QMutexLocker lock(&g_mutex);
    m_previousCapture = g_current;
    g_current = this;
    m_previousHandler = qInstallMessageHandler(&DebugCapture::handler);
}

DebugCapture::~DebugCapture()
{
    QMutexLocker lock(&g_mutex);
    Q_ASSERT_X(g_current == this, "DebugCapture", "captures must be destroyed in reverse order");
    qInstallMessageHandler(m_previousHandler);
    g_current = m_previousCapture;
}

void DebugCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    QMutexLocker lock(&g_mutex);
    // Every capture from the innermost outwards records the message, until a
    // silent one swallows it; past the outermost it goes to the old handler.
    QtMessageHandler next = nullptr;
    for (DebugCapture *c = g_current; c; c = c->m_previousCapture) {
        c->m_lines << msg;
        if (c->m_silent)
            return;
        next = c->m_previousHandler;
    }
    if (next) {
        next(type, context, msg);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, msg)));
        std::fflush(stderr);
    }
}

QStringList DebugCapture::linesContaining(const QString &substring) const
{
    QMutexLocker lock(&g_mutex);
    return m_lines.filter(substring);
}

} // namespace TestSupport
