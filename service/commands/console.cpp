#include "console.h"

#include <cstdio>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace velmora::commands {

namespace {

// One line of standard input without its line break; nullopt at the end of
// the input before any line.
std::optional<std::string> readLine()
{
    std::string line;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n')
        line += char(c);
    if (c == EOF && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// Echo off for as long as it lives, restored however the read ends.
class HiddenInput
{
public:
    HiddenInput()
    {
        m_active = tcgetattr(STDIN_FILENO, &m_saved) == 0;
        if (m_active) {
            termios quiet = m_saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            quiet.c_lflag |= ECHONL;
            m_active = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~HiddenInput()
    {
        if (m_active)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
    }
    HiddenInput(const HiddenInput &) = delete;
    HiddenInput &operator=(const HiddenInput &) = delete;

private:
    termios m_saved {};
    bool m_active = false;
};

std::optional<std::string> askHidden(const char *prompt)
{
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    const HiddenInput hidden;
    return readLine();
}

} // namespace

int fail(const QString &message)
{
    std::fprintf(stderr, "velmora-service: %s\n", qPrintable(message));
    return 1;
}

void warn(const QString &message)
{
    std::fprintf(stderr, "velmora-service: warning: %s\n", qPrintable(message));
}

std::optional<QString> readNewPassword(QString *error)
{
    std::optional<std::string> password;
    if (isatty(STDIN_FILENO)) {
        password = askHidden("New password: ");
        const std::optional<std::string> again = password ? askHidden("Again: ") : std::nullopt;
        if (password && again != password) {
            *error = QStringLiteral("the passwords differ");
            return std::nullopt;
        }
    } else {
        password = readLine();
    }
    if (!password || password->empty()) {
        *error = QStringLiteral("no password given");
        return std::nullopt;
    }
    return QString::fromStdString(*password);
}

QString operatorName()
{
    for (const char *variable : { "SUDO_USER", "LOGNAME", "USER" }) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return QStringLiteral("operator ") + name;
    }
    return QStringLiteral("operator uid %1").arg(getuid());
}

} // namespace velmora::commands
