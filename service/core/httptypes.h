#ifndef VELMORA_SERVICE_HTTPTYPES_H
#define VELMORA_SERVICE_HTTPTYPES_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace velmora {

// One GET request as the service sees it: the path and the query pairs in
// their order, both already percent-decoded, and the address it came from
// (empty when not over the network).
struct Request
{
    QString path;
    QList<QPair<QString, QString>> query;
    QString peer {};

    // First value given for key, or a null QString when the key is absent.
    // A key given with an empty value yields an empty but non-null string.
    QString value(const QString &key) const
    {
        for (const auto &pair : query) {
            if (pair.first == key)
                return pair.second.isNull() ? QString(QLatin1String("")) : pair.second;
        }
        return QString();
    }
    bool has(const QString &key) const { return !value(key).isNull(); }
};

struct Response
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    // When set, the reply's content is this file, sent from the disk by the
    // HTTP layer (body stays empty).
    QString filePath {};
    // Further header fields: name, value.
    QList<QPair<QByteArray, QByteArray>> headers {};
};

} // namespace velmora

#endif
