// How account names and other typed values are read, shared by the request
// handling and the account operations.

#ifndef VELMORA_SERVICE_ACCOUNTNAME_H
#define VELMORA_SERVICE_ACCOUNTNAME_H

#include <QString>

#include <algorithm>

namespace velmora {

// Names are kept in Unicode NFC: "Zoë" typed with a composed ë or with an
// e and a combining diaeresis is one account.
inline QString accountName(const QString &typed)
{
    return typed.normalized(QString::NormalizationForm_C);
}

// NUL, line breaks, escapes and the like: no name, password, place or
// number has them, and they could forge logs or split values downstream.
inline bool hasControl(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace velmora

#endif
