#ifndef VELMORA_SERVICE_LISTENER_H
#define VELMORA_SERVICE_LISTENER_H

#include <QString>

#include <boost/asio/ip/tcp.hpp>

#include <string>

namespace velmora {

// Opens, binds and listens on address:port (0: a free port; a host name is
// resolved) without sharing the port with anyone.
bool bindListener(boost::asio::ip::tcp::acceptor &acceptor, const std::string &address, unsigned short port,
                  QString *error);
// Takes over a socket that is already bound and listening (handed over by
// the service manager); anything else is refused.
bool adoptListener(boost::asio::ip::tcp::acceptor &acceptor, int fd, QString *error);

} // namespace velmora

#endif
