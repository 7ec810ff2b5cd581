#include "requesttarget.h"

#include <cctype>

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

// A query key as a client or an attacker might expect it to be read:
// "%XX", "+" and the non-standard "%uXXXX" decoded.
QString decodedKey(std::string_view rawKey)
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
    return QString::fromUtf8(key.data(), qsizetype(key.size()));
}

// A key that names a password (any letter case, stray characters around
// it) or, in a price report, the reporter's position.
bool masked(std::string_view rawKey, bool report)
{
    const QString key = decodedKey(rawKey);
    return key.contains(QLatin1String("password"), Qt::CaseInsensitive)
            || (report && (key.contains(QLatin1String("lat"), Qt::CaseInsensitive)
                           || key.contains(QLatin1String("lng"), Qt::CaseInsensitive)));
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
    // Routed as sent: "%2F" in a path is not a separator, and no decoding
    // turns an unknown path into a known one.
    request.path = fromUtf8(std::string(target.substr(0, mark)));
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

std::optional<std::string> originForm(std::string_view target)
{
    if (!target.empty() && target.front() == '/')
        return std::string(target);
    // "http://host:port/path?query": the authority is dropped; the service
    // answers the same whatever host a proxy says it asked for.
    auto startsWith = [&](std::string_view scheme) {
        if (target.size() < scheme.size())
            return false;
        for (size_t i = 0; i < scheme.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(target[i])) != scheme[i])
                return false;
        }
        return true;
    };
    size_t rest = 0;
    if (startsWith("http://"))
        rest = 7;
    else if (startsWith("https://"))
        rest = 8;
    else
        return std::nullopt;
    const size_t end = target.find_first_of("/?", rest);
    if (end == rest)
        return std::nullopt; // no host
    if (end == std::string_view::npos)
        return std::string("/");
    if (target[end] == '?')
        return "/" + std::string(target.substr(end));
    return std::string(target.substr(end));
}

std::string loggedTarget(std::string_view target)
{
    // Any of these ends a key or a value for someone: clients that write
    // "%3F" for '?' or ';' for '&' must not get their passwords logged.
    auto separatorAt = [&](size_t i) -> size_t {
        const char c = target[i];
        if (c == '?' || c == '&' || c == ';')
            return 1;
        if (c == '%' && i + 2 < target.size() && target[i + 1] == '3'
            && (target[i + 2] == 'F' || target[i + 2] == 'f'))
            return 3;
        if (c == '%' && i + 2 < target.size() && target[i + 1] == '2' && target[i + 2] == '6')
            return 3;
        return 0;
    };
    // Where a reporter stood is theirs: masked in price reports, however
    // the path is spelled.
    const bool report = decodedKey(target).contains(QLatin1String("updateprice"), Qt::CaseInsensitive);
    std::string out;
    out.reserve(target.size());
    size_t start = 0;
    auto piece = [&](std::string_view part) {
        const size_t eq = part.find('=');
        if (eq != std::string_view::npos && masked(part.substr(0, eq), report)) {
            out += part.substr(0, eq);
            out += "=***";
        } else if (eq == std::string_view::npos && masked(part, report) && percentDecode(part, true).find('=') != std::string::npos) {
            out += "***"; // "password%3Dsecret": the key and value are one piece
        } else {
            out += part;
        }
    };
    for (size_t i = 0; i < target.size();) {
        const size_t width = separatorAt(i);
        if (width == 0) {
            ++i;
            continue;
        }
        piece(target.substr(start, i - start));
        out += target.substr(i, width);
        i += width;
        start = i;
    }
    piece(target.substr(start));
    return escapeForLog(out);
}

} // namespace velmora
