#ifndef VELMORA_NET_LOGINGUARD_H
#define VELMORA_NET_LOGINGUARD_H

#include <QString>

class QWidget;

// Keeps the user's password off the wire where anyone between this machine
// and the service could read it: over plain http to another machine.
namespace LoginGuard {

// localhost, 127.0.0.0/8 or ::1, decided on the host as written, before any
// name look-up (a name that merely resolves to loopback does not count).
bool isLoopbackHost(const QString &host);

// True when the request `url` carries a password and must not be sent: plain
// http to a host that is not loopback, unless the settings key
// allowInsecureLogin is true.
bool mustHoldBack(const QString &url);

// Tells the user, and the debug output, why the request was not sent.
void explain(QWidget *parent, const QString &url);

} // namespace LoginGuard

#endif
