#ifndef VELMORA_SERVICE_PASSWORDS_H
#define VELMORA_SERVICE_PASSWORDS_H

#include <QByteArray>
#include <QString>

namespace velmora {

// PBKDF2-HMAC-SHA256 with a per-user random salt. The iteration count is
// stored next to the hash so it can be raised later without breaking old
// accounts.
constexpr int kDefaultHashIterations = 100000;
constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;

struct PasswordHash
{
    QByteArray salt;
    QByteArray hash;
    int iterations = 0;
};

PasswordHash hashPassword(const QString &password, int iterations);
QByteArray derivePasswordKey(const QString &password, const QByteArray &salt, int iterations);
bool verifyPassword(const QString &password, const PasswordHash &stored);

// Compares without an early exit so the time taken does not reveal how many
// leading bytes matched.
bool constantTimeEquals(const QByteArray &a, const QByteArray &b);

} // namespace velmora

#endif
