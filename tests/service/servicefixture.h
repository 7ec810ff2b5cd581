#ifndef VELMORA_TESTS_SERVICEFIXTURE_H
#define VELMORA_TESTS_SERVICEFIXTURE_H

#include "demodata.h"
#include "service.h"
#include "store.h"

#include <QHash>
#include <QList>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

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
    }

    static velmora::ServiceConfig testConfig()
    {
        velmora::ServiceConfig c;
        c.hashIterations = 1000;
        return c;
    }

    velmora::Response get(const QString &path, const QList<QPair<QString, QString>> &query = {}) const
    {
        return service->handle({ path, query });
    }
    velmora::Response api(const QString &op, const QList<QPair<QString, QString>> &query = {}) const
    {
        return get(QStringLiteral("/api/nokiaApp/") + op, query);
    }
};

using Attributes = QHash<QString, QString>;

// Every element named `element` in the document, as attribute maps; fails
// the current test when the document is not well-formed.
inline QList<Attributes> elements(const QByteArray &xml, const QString &element)
{
    QList<Attributes> out;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == element) {
            Attributes a;
            for (const QXmlStreamAttribute &attr : reader.attributes())
                a.insert(attr.name().toString(), attr.value().toString());
            out.append(a);
        }
    }
    if (reader.hasError())
        qWarning() << "malformed reply:" << reader.errorString() << xml.left(200);
    return out;
}

inline QString rootName(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement)
            return reader.name().toString();
    }
    return QString();
}

#endif
