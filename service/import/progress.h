#ifndef VELMORA_SERVICE_PROGRESS_H
#define VELMORA_SERVICE_PROGRESS_H

#include <QElapsedTimer>

#include <cstdio>

namespace velmora {

// What a long read has got through so far: elements of each kind and the
// stations found. On a terminal it keeps one status line up to date, at
// most once a second, so a slow import shows it is alive without flooding
// a log; elsewhere it stays silent and only the summary is printed.
class ImportProgress
{
public:
    // out: where the status line goes (stderr by default); live: whether
    // to show it at all (normally: out is a terminal).
    explicit ImportProgress(std::FILE *out = stderr);
    ImportProgress(std::FILE *out, bool live);

    void node() { ++m_nodes; tick(); }
    void way() { ++m_ways; tick(); }
    void relation() { ++m_relations; tick(); }
    void station() { ++m_stations; }
    // A new pass over the input begins (the element counts start again).
    void pass(const char *what);
    // Shows the final figures and ends the status line, so the next output
    // starts on a line of its own.
    void finish();

    long long nodes() const { return m_nodes; }
    long long ways() const { return m_ways; }
    long long relations() const { return m_relations; }
    long long stations() const { return m_stations; }
    bool live() const { return m_live; }

private:
    void tick()
    {
        // Looking at the clock costs more than counting; a million
        // elements go by in well under a second.
        if (m_live && (++m_sinceCheck & 0x3fff) == 0)
            maybePrint();
    }
    void maybePrint();
    void print();

    std::FILE *m_out;
    bool m_live;
    const char *m_pass = "reading";
    long long m_nodes = 0, m_ways = 0, m_relations = 0, m_stations = 0;
    unsigned m_sinceCheck = 0;
    qint64 m_lastPrintMs = -1;
    qint64 m_passStartMs = 0;
    bool m_lineOpen = false;
    QElapsedTimer m_clock;
};

} // namespace velmora

#endif
