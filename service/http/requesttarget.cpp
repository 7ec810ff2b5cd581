#include "requesttarget.h"

namespace velmora {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QString fromUtf8(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Calls f(pair) for every non-empty '&'-separated piece of the query.
template<class F>
void forEachPair(std::string_view query, F f)
{
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t end = query.find('&', pos);
        if (end == std::string_view::npos)
            end = query.size();
        f(query.substr(pos, end - pos));
        pos = end + 1;
    }
}

// True when a query key reads as "password" under any decoding a client or
// an attacker might expect: "%XX", "+", the non-standard "%uXXXX", any
// letter case, with stray characters around it.
bool namesPassword(std::string_view rawKey)
{
    std::string key = percentDecode(rawKey, true);
    for (size_t at = key.find("%u"); at != std::string::npos; at = key.find("%u", at + 1)) {
        if (at + 6 > key.size())
            break;
        int code = 0;
        for (size_t i = at + 2; i < at + 6 && code >= 0; ++i) {
            const int digit = hexValue(key[i]);
            code = digit < 0 ? -1 : code * 16 + digit;
        }
        if (code > 0 && code < 0x80)
            key.replace(at, 6, 1, char(code));
    }
    return QString::fromUtf8(key.data(), qsizetype(key.size())).contains(QLatin1String("password"), Qt::CaseInsensitive);
}

} // namespace

std::string percentDecode(std::string_view text, bool plusIsSpace)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += (plusIsSpace && c == '+') ? ' ' : c;
    }
    return out;
}

Request decodeTarget(std::string_view target)
{
    Request request;
    const size_t mark = target.find('?');
    request.path = fromUtf8(percentDecode(target.substr(0, mark), false));
    if (mark == std::string_view::npos)
        return request;
    forEachPair(target.substr(mark + 1), [&request](std::string_view pair) {
        if (pair.empty())
            return;
        const size_t eq = pair.find('=');
        const QString key = fromUtf8(percentDecode(pair.substr(0, eq), true));
        const QString value = eq == std::string_view::npos
                ? QString(QLatin1String(""))
                : fromUtf8(percentDecode(pair.substr(eq + 1), true));
        request.query.append({ key, value });
    });
    return request;
}

std::string escapeForLog(std::string_view text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7f || c == '\\') {
            out += "\\x";
            out += digits[b >> 4];
            out += digits[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string loggedTarget(std::string_view target)
{
    const size_t mark = target.find('?');
    if (mark == std::string_view::npos)
        return escapeForLog(target);
    std::string out(target.substr(0, mark + 1));
    bool first = true;
    forEachPair(target.substr(mark + 1), [&](std::string_view pair) {
        if (!first)
            out += '&';
        first = false;
        const size_t eq = pair.find('=');
        // Whatever way the key is spelled ("pass%77ord", "%50ASSWORD",
        // "password%00"), a key that reads as a password keeps its value out
        // of the log.
        if (eq != std::string_view::npos && namesPassword(pair.substr(0, eq))) {
            out += pair.substr(0, eq);
            out += "=***";
        } else {
            out += pair;
        }
    });
    return escapeForLog(out);
}

} // namespace velmora
