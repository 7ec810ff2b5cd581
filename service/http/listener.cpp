#include "listener.h"

#include <cctype>

#include <sys/socket.h>

namespace velmora {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

bool bindListener(tcp::acceptor &acceptor, const std::string &address, unsigned short port, QString *error)
{
    boost::system::error_code ec;
    tcp::endpoint endpoint(asio::ip::make_address(address, ec), port);
    if (ec) { // a host name, such as "localhost"
        tcp::resolver resolver(acceptor.get_executor());
        const auto found = resolver.resolve(address, std::to_string(port), ec);
        if (ec || found.empty()) {
            *error = QStringLiteral("cannot listen on %1: unknown address").arg(QString::fromStdString(address));
            return false;
        }
        endpoint = found.begin()->endpoint();
    }
    // SO_REUSEADDR only lets a restart bind while old connections linger in
    // TIME_WAIT; unlike SO_REUSEPORT it never lets two listeners share the
    // port.
    if (!acceptor.open(endpoint.protocol(), ec))
        acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        std::string reason = ec.message();
        if (!reason.empty())
            reason[0] = char(std::tolower(static_cast<unsigned char>(reason[0])));
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(QString::fromStdString(address))
                         .arg(port)
                         .arg(QString::fromStdString(reason));
        boost::system::error_code ignored;
        acceptor.close(ignored);
        return false;
    }
    return true;
}

bool adoptListener(tcp::acceptor &acceptor, int fd, QString *error)
{
    sockaddr_storage local {};
    socklen_t length = sizeof local;
    int listening = 0;
    socklen_t optLength = sizeof listening;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0
        || (local.ss_family != AF_INET && local.ss_family != AF_INET6)
        || ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &optLength) != 0 || !listening) {
        *error = QStringLiteral("descriptor %1 is not a listening TCP socket").arg(fd);
        return false;
    }
    boost::system::error_code ec;
    acceptor.assign(local.ss_family == AF_INET ? tcp::v4() : tcp::v6(), fd, ec);
    if (ec) {
        *error = QStringLiteral("cannot use descriptor %1: %2").arg(fd).arg(QString::fromStdString(ec.message()));
        return false;
    }
    return true;
}

} // namespace velmora
