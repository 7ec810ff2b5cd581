#ifndef VELMORA_TESTS_SERVICEFIXTURE_H
#define VELMORA_TESTS_SERVICEFIXTURE_H

#include "demodata.h"
#include "replyxml.h"
#include "service.h"
#include "store.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

using velmora::Response;
using Query = QList<QPair<QString, QString>>;

// A service over a fresh database file in a temporary directory, with the
// demo data in it. Accounts use few hash iterations to keep tests quick.
struct ServiceFixture
{
    QTemporaryDir dir;
    std::unique_ptr<velmora::Store> store;
    std::unique_ptr<velmora::Service> service;

    explicit ServiceFixture(int demoStations = velmora::kDefaultDemoStations,
                            velmora::ServiceConfig config = testConfig())
    {
        store = std::make_unique<velmora::Store>(dir.filePath(QStringLiteral("velmora.sqlite")));
        QString error;
        if (!store->open(&error))
            qFatal("cannot open test database: %s", qPrintable(error));
        service = std::make_unique<velmora::Service>(*store, config);
        if (!velmora::populateDemoData(*store, *service, demoStations, velmora::kDemoSeed, &error))
            qFatal("cannot create demo data: %s", qPrintable(error));
        if (!service->startCatalogue(&error))
            qFatal("cannot load the catalogue: %s", qPrintable(error));
    }

    static velmora::ServiceConfig testConfig()
    {
        velmora::ServiceConfig c;
        c.hashIterations = 1000;
        return c;
    }

    Response get(const QString &path, const Query &query = {}) const { return service->handle({ path, query }); }
    Response api(const QString &op, const Query &query) const
    {
        return get(QStringLiteral("/api/nokiaApp/") + op, query);
    }
    // "op.php?a=1&b=2", decoded like the query of a URL.
    Response api(const QString &request) const
    {
        const qsizetype mark = request.indexOf(QLatin1Char('?'));
        return api(request.left(mark), mark < 0 ? Query() : QUrlQuery(request.mid(mark + 1)).queryItems(QUrl::FullyDecoded));
    }
    QList<Attributes> stations(const QString &request) const { return elements(api(request).body, "station"); }
    Attributes station(const QString &id) const { return stations("getStationById.php?id=" + id).value(0); }

    // Every row of a query on the database, its columns joined by spaces.
    QStringList rows(const QString &sql) const
    {
        QStringList out;
        QSqlQuery q(store->connection());
        if (!q.exec(sql))
            qWarning() << sql << q.lastError().text();
        while (q.next()) {
            QStringList columns;
            for (int i = 0; i < q.record().count(); ++i)
                columns << q.value(i).toString();
            out << columns.join(QLatin1Char(' '));
        }
        return out;
    }
    QString scalar(const QString &sql) const { return rows(sql).value(0); }
};

#endif
