#ifndef VELMORA_TESTS_REPLYXML_H
#define VELMORA_TESTS_REPLYXML_H

// Reading the service's XML replies in tests: the elements of one name with
// their attributes, and the root element's name.

#include <QDebug>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QXmlStreamReader>

using Attributes = QHash<QString, QString>;

// Every element named `element` in the document, as attribute maps; warns
// when the document is not well-formed.
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
    return reader.readNextStartElement() ? reader.name().toString() : QString();
}

inline QStringList valuesOf(const QList<Attributes> &list, const QString &attribute)
{
    QStringList out;
    for (const Attributes &a : list)
        out << a.value(attribute);
    return out;
}

#endif
