#include "net/loginguard.h"

#include "settings/store.h"

#include <QDebug>
#include <QHostAddress>
#include <QMessageBox>
#include <QUrl>
#include <QUrlQuery>

namespace LoginGuard {

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QString literal = host;
    if (literal.startsWith(QLatin1Char('[')) && literal.endsWith(QLatin1Char(']')))
        literal = literal.mid(1, literal.size() - 2);
    QHostAddress address;
    return address.setAddress(literal) && address.isLoopback();
}

bool mustHoldBack(const QString &url)
{
    const QUrl target(url);
    if (target.scheme() != QLatin1String("http") || isLoopbackHost(target.host()))
        return false;
    if (QUrlQuery(target).queryItemValue(QStringLiteral("password")).isEmpty())
        return false;
    return !Settings::openStore().value(QStringLiteral("allowInsecureLogin"), false).toBool();
}

void explain(QWidget *parent, const QString &url)
{
    const QString host = QUrl(url).host();
    qDebug().noquote() << "Not sending the password to" << host
                       << "over plain http: the connection is not secure (allowInsecureLogin is not set)";
    QMessageBox::warning(parent, QStringLiteral("Login not sent"),
                         QStringLiteral("The service at %1 does not use a secure connection, so your user name "
                                        "and password were not sent. Use its https:// address.")
                                 .arg(host));
}

} // namespace LoginGuard
