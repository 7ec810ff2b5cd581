#include "xmlreply.h"

#include <QDateTime>
#include <QXmlStreamWriter>

namespace velmora {

namespace {

// XML 1.0 cannot carry most control characters even as references, so they
// are dropped rather than producing a document the client cannot parse.
QString xmlSafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 && u != 0x9 && u != 0xA && u != 0xD)
            continue;
        if (u == 0xFFFE || u == 0xFFFF)
            continue;
        out.append(c);
    }
    return out;
}

template<typename Body>
QByteArray document(const QString &root, Body writeBody)
{
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    w.writeStartDocument();
    w.writeStartElement(root);
    writeBody(w);
    w.writeEndElement();
    w.writeEndDocument();
    return bytes;
}

QByteArray namedList(const QString &root, const QString &element, const QStringList &names)
{
    return document(root, [&](QXmlStreamWriter &w) {
        for (const QString &name : names) {
            w.writeEmptyElement(element);
            w.writeAttribute(QStringLiteral("Name"), xmlSafe(name));
        }
    });
}

} // namespace

QString formatLocalTime(qint64 secsSinceEpoch)
{
    if (secsSinceEpoch <= 0)
        return QString();
    return QDateTime::fromSecsSinceEpoch(secsSinceEpoch).toLocalTime().toString(
            QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString formatPrice(double cents)
{
    return QString::number(cents, 'f', 1);
}

QByteArray countiesDocument(const QStringList &names)
{
    return namedList(QStringLiteral("counties"), QStringLiteral("county"), names);
}

QByteArray areasDocument(const QStringList &names)
{
    return namedList(QStringLiteral("areas"), QStringLiteral("area"), names);
}

QByteArray stationsDocument(const QList<StationRecord> &stations)
{
    return document(QStringLiteral("stations"), [&](QXmlStreamWriter &w) {
        for (const StationRecord &s : stations) {
            w.writeEmptyElement(QStringLiteral("station"));
            w.writeAttribute(QStringLiteral("ID"), QString::number(s.id));
            w.writeAttribute(QStringLiteral("name"), xmlSafe(s.name));
            w.writeAttribute(QStringLiteral("brand"), xmlSafe(s.brand));
            w.writeAttribute(QStringLiteral("addr1"), xmlSafe(s.addr1));
            w.writeAttribute(QStringLiteral("addr2"), xmlSafe(s.addr2));
            w.writeAttribute(QStringLiteral("petrolPrice"), s.hasPetrol ? formatPrice(s.petrolPrice) : QString());
            w.writeAttribute(QStringLiteral("dieselPrice"), s.hasDiesel ? formatPrice(s.dieselPrice) : QString());
            w.writeAttribute(QStringLiteral("petrolDateUpdated"), formatLocalTime(s.petrolUpdated));
            w.writeAttribute(QStringLiteral("dieselDateUpdated"), formatLocalTime(s.dieselUpdated));
            if (s.distanceKm >= 0)
                w.writeAttribute(QStringLiteral("Distance"), QString::number(s.distanceKm, 'f', 3));
        }
    });
}

} // namespace velmora
