// velmora-service: the command line. Everything that decides an answer
// lives in velmora_service_core, the HTTP layer in HttpServer; each command
// has a file of its own in commands/, and this one only picks it.

#include "commands.h"

#include <QCoreApplication>

#include <csignal>
#include <cstring>

namespace {

struct Command
{
    const char *name;
    int (*run)(const QStringList &arguments);
};

const Command Commands[] = {
    { "user", velmora::commands::user },
    { "import", velmora::commands::import },
    { "reports", velmora::commands::reports },
};

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvane Software"));
    QCoreApplication::setApplicationName(QStringLiteral("velmora-service"));

    QStringList arguments = QCoreApplication::arguments();
    if (argc > 1) {
        for (const Command &command : Commands) {
            if (std::strcmp(argv[1], command.name) == 0) {
                arguments.removeAt(1);
                arguments[0] += QLatin1Char(' ') + QLatin1String(command.name);
                return command.run(arguments);
            }
        }
    }
    // No command: serve, as the program always did.
    return velmora::commands::serve(arguments);
}
