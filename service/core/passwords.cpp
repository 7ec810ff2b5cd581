#include "passwords.h"

#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>

namespace velmora {

QByteArray derivePasswordKey(const QString &password, const QByteArray &salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt,
                                              iterations, kHashBytes);
}

PasswordHash hashPassword(const QString &password, int iterations)
{
    PasswordHash result;
    result.salt.resize(kSaltBytes);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(result.salt.data()),
                                         reinterpret_cast<quint32 *>(result.salt.data() + kSaltBytes));
    result.iterations = qMax(1, iterations);
    result.hash = derivePasswordKey(password, result.salt, result.iterations);
    return result;
}

bool verifyPassword(const QString &password, const PasswordHash &stored)
{
    if (stored.iterations < 1 || stored.salt.isEmpty() || stored.hash.isEmpty())
        return false;
    return constantTimeEquals(derivePasswordKey(password, stored.salt, stored.iterations), stored.hash);
}

bool constantTimeEquals(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return diff == 0;
}

} // namespace velmora
