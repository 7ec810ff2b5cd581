#ifndef VELMORA_NET_SERVICEADDRESS_H
#define VELMORA_NET_SERVICEADDRESS_H

#include <QString>
#include <QStringList>
#include <QUrl>

// Where the client finds its service, decided once at start-up: the
// command line first (--service, --update-url, --ca-file), then the settings
// keys serviceUrl, updateUrl and caFile, then the addresses this build was
// made with.
namespace ServiceAddress {

struct Choice
{
    QUrl service;   // base address, path ending in "/"
    QUrl update;    // base address of the update server, path ending in "/"
    QString caFile; // extra authorities to trust (PEM), empty: the system's only
};

// The choice from the given command-line values (empty when not given) and
// the settings store; an empty error means it can be used.
Choice choose(const QString &serviceOption, const QString &updateOption, const QString &caOption,
              QString *error);

// Reads the client's own options from `arguments` (Qt's options already
// taken out by QApplication), and on success points every request URL at
// the chosen service and adds the CA file to the trusted authorities.
// False with a message for the user (stderr) when an address or the CA file
// cannot be used; --help prints the usage and exits.
bool configure(const QStringList &arguments, QString *error);

// Points the process-wide request URLs at `choice`.
void apply(const Choice &choice);

} // namespace ServiceAddress

#endif
