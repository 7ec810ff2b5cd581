#include "support/debugcapture.h"

#include <QMutexLocker>
#include <QRecursiveMutex>

#include <cstdio>

namespace TestSupport {

namespace {

// Guards the chain of installed captures. Recursive because a chained
// handler may itself log.
QRecursiveMutex &chainMutex()
{
    static QRecursiveMutex mutex;
    return mutex;
}

DebugCapture *g_current = nullptr;

} // namespace

DebugCapture::DebugCapture(bool silent)
    : m_silent(silent)
{
    QMutexLocker lock(&chainMutex());
    m_previousCapture = g_current;
    g_current = this;
    m_previousHandler = qInstallMessageHandler(&DebugCapture::handler);
}

DebugCapture::~DebugCapture()
{
    QMutexLocker lock(&chainMutex());
    if (g_current == this) {
        qInstallMessageHandler(m_previousHandler);
        g_current = m_previousCapture;
    } else {
        // Destroyed out of order: unlink from the chain so nobody calls into
        // a dead object. The installed handler stays ours.
        for (DebugCapture *c = g_current; c; c = c->m_previousCapture) {
            if (c->m_previousCapture == this) {
                c->m_previousCapture = m_previousCapture;
                c->m_previousHandler = m_previousHandler;
                break;
            }
        }
    }
}

void DebugCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    QMutexLocker lock(&chainMutex());
    DebugCapture *c = g_current;
    while (c) {
        c->record(type, context, msg);
        bool silent;
        {
            QMutexLocker own(&c->m_mutex);
            silent = c->m_silent;
        }
        if (silent)
            return;
        if (c->m_previousCapture && c->m_previousHandler == &DebugCapture::handler) {
            c = c->m_previousCapture;
            continue;
        }
        if (c->m_previousHandler) {
            c->m_previousHandler(type, context, msg);
        } else {
            const QString formatted = qFormatLogMessage(type, context, msg);
            std::fprintf(stderr, "%s\n", formatted.toLocal8Bit().constData());
            std::fflush(stderr);
        }
        return;
    }
}

void DebugCapture::record(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    QMutexLocker lock(&m_mutex);
    m_lines.append({type, QString::fromLatin1(context.category ? context.category : ""), msg});
}

QList<DebugCapture::Line> DebugCapture::entries() const
{
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

QStringList DebugCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    QStringList out;
    for (const Line &l : m_lines)
        out << l.text;
    return out;
}

bool DebugCapture::contains(const QString &substring) const
{
    return count(substring) > 0;
}

int DebugCapture::count(const QString &substring) const
{
    QMutexLocker lock(&m_mutex);
    int n = 0;
    for (const Line &l : m_lines) {
        if (l.text.contains(substring))
            ++n;
    }
    return n;
}

QStringList DebugCapture::linesContaining(const QString &substring) const
{
    QMutexLocker lock(&m_mutex);
    QStringList out;
    for (const Line &l : m_lines) {
        if (l.text.contains(substring))
            out << l.text;
    }
    return out;
}

void DebugCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}

void DebugCapture::setSilent(bool silent)
{
    QMutexLocker lock(&m_mutex);
    m_silent = silent;
}

} // namespace TestSupport
