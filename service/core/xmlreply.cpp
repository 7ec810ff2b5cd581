#include "xmlreply.h"

#include <QDateTime>
#include <QTimeZone>
#include <QXmlStreamWriter>

namespace velmora {

namespace {

// XML 1.0 cannot carry most control characters even as references, so they
// are dropped rather than producing a document the client cannot parse. A
// UTF-16 surrogate without its partner has no UTF-8 form at all; it becomes
// U+FFFD, or the writer would lose the rest of the document after it.
QString xmlSafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        const ushort u = c.unicode();
        if (u < 0x20 && u != 0x9 && u != 0xA && u != 0xD)
            continue;
        if (u == 0xFFFE || u == 0xFFFF)
            continue;
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            out.append(c);
            out.append(text.at(++i));
            continue;
        }
        if (c.isSurrogate()) {
            out.append(QChar::ReplacementCharacter);
            continue;
        }
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
    // Converting through Qt::LocalTime asks the C library, which checks the
    // zone file again on every call when TZ is unset.
    static const QTimeZone zone = QTimeZone::systemTimeZone();
    return QDateTime::fromSecsSinceEpoch(secsSinceEpoch, zone).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
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

const StationsDocumentParts &stationsDocumentParts()
{
    static const StationsDocumentParts parts = [] {
        StationsDocumentParts p;
        p.empty = stationsDocument({});
        const QByteArray one = stationsDocument({ StationRecord() });
        p.head = one.left(one.indexOf("<station "));
        p.tail = one.mid(one.lastIndexOf("/>") + 2);
        return p;
    }();
    return parts;
}

QByteArray withCreditComment(const QByteArray &document)
{
    const QByteArray comment = QByteArrayLiteral("<!-- ") + kMapCredit + QByteArrayLiteral(" -->");
    const qsizetype declarationEnd = document.startsWith("<?xml") ? document.indexOf("?>") : -1;
    QByteArray out = document;
    return out.insert(declarationEnd < 0 ? 0 : declarationEnd + 2, comment);
}

QList<QByteArray> renderStationElements(const QList<StationRecord> &stations)
{
    QList<StationRecord> plain = stations;
    for (StationRecord &s : plain)
        s.distanceKm = -1;
    // One document for all, cut at the element starts: "<" never occurs
    // unescaped inside an attribute value.
    const QByteArray doc = stationsDocument(plain);
    const StationsDocumentParts &parts = stationsDocumentParts();
    QList<QByteArray> out;
    out.reserve(plain.size());
    qsizetype from = parts.head.size();
    const qsizetype end = doc.size() - parts.tail.size();
    while (from < end) {
        qsizetype next = doc.indexOf("<station ", from + 1);
        if (next < 0 || next > end)
            next = end;
        out.append(doc.mid(from, next - from - 2)); // without "/>"
        from = next;
    }
    return out;
}

} // namespace velmora
