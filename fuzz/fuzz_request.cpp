// The HTTP layer's reading of a request: a request head through the Beast
// parser with the server's header limit, then the target through
// decodeTarget and loggedTarget. Checked besides the sanitizers: a logged
// target holds no control byte, '\' only as the start of an escape, and
// every parameter that is the password shows as "***"; decoding never makes
// text longer or yields more pairs than the query has pieces.
//
// Input: byte 0 odd: the rest is a request target as is (any bytes, which
// the parser would refuse); even: the rest is a request head.
#include "requesttarget.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace http = boost::beast::http;

namespace {

[[noreturn]] void fail(const char *why, std::string_view target, const std::string &logged)
{
    std::fprintf(stderr, "%s\n--- target ---\n%.*s\n--- logged ---\n%s\n", why, int(target.size()), target.data(),
                 logged.c_str());
    std::abort();
}

void checkTarget(std::string_view target)
{
    const velmora::Request request = velmora::decodeTarget(target);
    const std::string logged = velmora::loggedTarget(target);
    for (const char c : logged) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7f)
            fail("raw byte in the log", target, logged);
    }
    const size_t mark = target.find('?');
    const std::string_view query = mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
    size_t pieces = mark == std::string_view::npos ? 0 : 1;
    for (const char c : query)
        pieces += c == '&';
    if (size_t(request.query.size()) > pieces)
        fail("more pairs than pieces", target, logged);
    if (velmora::percentDecode(target, true).size() > target.size())
        fail("decoding grew the text", target, logged);

    // Each raw pair whose key decodes to exactly "password" is masked.
    size_t passwords = 0;
    size_t pos = 0;
    while (mark != std::string_view::npos && pos <= query.size()) {
        size_t end = query.find('&', pos);
        if (end == std::string_view::npos)
            end = query.size();
        const std::string_view pair = query.substr(pos, end - pos);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos && velmora::percentDecode(pair.substr(0, eq), true) == "password")
            ++passwords;
        pos = end + 1;
    }
    size_t masked = 0;
    for (size_t at = logged.find("=***"); at != std::string::npos; at = logged.find("=***", at + 1))
        ++masked;
    if (masked < passwords)
        fail("a password is not masked", target, logged);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (data[0] & 1) {
        checkTarget(rest);
        return 0;
    }
    http::request_parser<http::empty_body> parser;
    parser.header_limit(8192);
    parser.eager(false);
    boost::beast::error_code ec;
    parser.put(boost::asio::buffer(rest.data(), rest.size()), ec);
    if (ec || !parser.is_header_done())
        return 0;
    const auto &req = parser.get();
    if (req.method() == http::verb::get || req.method() == http::verb::head)
        checkTarget(std::string_view(req.target().data(), req.target().size()));
    return 0;
}
