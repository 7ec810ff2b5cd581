#ifndef VELMORA_SERVICE_BENCHSTORE_H
#define VELMORA_SERVICE_BENCHSTORE_H

#include "service.h"
#include "store.h"

#include <QString>
#include <QTemporaryDir>

#include <cstdio>

namespace velmora {

// For benchmark programs: an SQLite store in a temporary folder and the
// service over it (judging price reports by `rules`), with cheap password
// hashing so that filling it with demo data is quick. Check opened() before
// use; it has printed why not.
struct BenchStore
{
    explicit BenchStore(const QString &fileName, const ReportRules &rules = ReportRules())
        : store(dir.filePath(fileName)),
          service(store, cheapHashing(rules))
    {
        QString error;
        m_opened = store.open(&error);
        if (!m_opened)
            std::fprintf(stderr, "%s\n", qPrintable(error));
    }

    bool opened() const { return m_opened; }

    QTemporaryDir dir;
    Store store;
    Service service;

private:
    static ServiceConfig cheapHashing(const ReportRules &rules)
    {
        ServiceConfig config;
        config.hashIterations = 1000;
        config.reportRules = rules;
        return config;
    }

    bool m_opened = false;
};

} // namespace velmora

#endif
