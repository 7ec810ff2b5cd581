#ifndef VELMORA_SERVICE_COMMANDS_CONSOLE_H
#define VELMORA_SERVICE_COMMANDS_CONSOLE_H

#include <QString>

#include <optional>

namespace velmora::commands {

// Prints "velmora-service: message" on stderr; returns the failure status.
int fail(const QString &message);
// Prints "velmora-service: warning: message" on stderr.
void warn(const QString &message);

// A password typed at the terminal without echo (asked twice, both must
// match), or, when standard input is not a terminal, its first line. Never
// on the command line, where every user of the machine could read it.
// nullopt (with the reason in `error`) when none could be read.
std::optional<QString> readNewPassword(QString *error);

// Who is deciding, for the history of moderated reports: "operator NAME"
// with the login name behind sudo, or of the process.
QString operatorName();

} // namespace velmora::commands

#endif
