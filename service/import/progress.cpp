#include "progress.h"

#include <unistd.h>

namespace velmora {

namespace {

constexpr qint64 kPrintIntervalMs = 1000;

} // namespace

ImportProgress::ImportProgress(std::FILE *out)
    : ImportProgress(out, isatty(fileno(out)) == 1)
{
}

ImportProgress::ImportProgress(std::FILE *out, bool live)
    : m_out(out), m_live(live)
{
    m_clock.start();
}

void ImportProgress::pass(const char *what)
{
    m_pass = what;
    m_nodes = m_ways = m_relations = 0;
    m_passStartMs = m_clock.elapsed();
    if (m_live)
        print();
}

void ImportProgress::maybePrint()
{
    const qint64 now = m_clock.elapsed();
    if (m_lastPrintMs >= 0 && now - m_lastPrintMs < kPrintIntervalMs)
        return;
    print();
}

void ImportProgress::print()
{
    const qint64 ms = m_clock.elapsed();
    m_lastPrintMs = ms;
    const double seconds = double(ms) / 1000.0;
    const long long elements = m_nodes + m_ways + m_relations;
    const double passSeconds = double(ms - m_passStartMs) / 1000.0;
    const double rate = passSeconds > 0 ? double(elements) / passSeconds / 1000.0 : 0.0;
    // \r and "clear to end of line" keep it one line however long the last was.
    std::fprintf(m_out, "\r%s: %lld nodes, %lld ways, %lld relations, %lld stations, %.0fk elements/s, %.0f s\033[K",
                 m_pass, m_nodes, m_ways, m_relations, m_stations, rate, seconds);
    std::fflush(m_out);
    m_lineOpen = true;
}

void ImportProgress::finish()
{
    // The last figures, whenever the line was last drawn.
    if (m_live)
        print();
    if (m_lineOpen) {
        std::fputc('\n', m_out);
        std::fflush(m_out);
        m_lineOpen = false;
    }
}

} // namespace velmora
