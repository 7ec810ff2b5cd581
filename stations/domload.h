#pragma once

// QDomDocument::setContent with namespace processing, through the overload
// the Qt in use prefers: Qt 6.8 deprecates the boolean form, and its
// replacement (parse options) only exists from Qt 6.5 on.

#include <QByteArray>
#include <QDomDocument>
#include <QtGlobal>

inline bool loadDomDocument(QDomDocument &document, const QByteArray &body)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return bool(document.setContent(body, QDomDocument::ParseOption::UseNamespaceProcessing));
#else
    return document.setContent(body, true);
#endif
}
