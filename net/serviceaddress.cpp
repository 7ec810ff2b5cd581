#include "net/serviceaddress.h"

#include "app/constants.h"
#include "settings/store.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace ServiceAddress {

namespace {

// The address as the user wrote it, checked: http or https, a host, nothing
// a base address cannot carry. The path gets its closing "/", so that
// request paths can be appended.
QUrl baseAddress(const QString &text, const QString &what, QString *error)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()) {
        *error = QStringLiteral("%1 \"%2\" is not an address such as https://velmora.example.net").arg(what, text);
        return {};
    }
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        *error = QStringLiteral("%1 \"%2\": only http:// and https:// addresses are supported").arg(what, text);
        return {};
    }
    if (!url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment()) {
        *error = QStringLiteral("%1 \"%2\" may not carry a user name, a query or a fragment").arg(what, text);
        return {};
    }
    QUrl base = url;
    if (!base.path().endsWith(QLatin1Char('/')))
        base.setPath(base.path() + QLatin1Char('/'));
    return base;
}

QString buildDefault(const char *hostAndPort)
{
    return QStringLiteral("http://") + QLatin1String(hostAndPort);
}

} // namespace

Choice choose(const QString &serviceOption, const QString &updateOption, const QString &caOption,
              QString *error)
{
    error->clear();
    const QSettings store = Settings::openStore();
    auto pick = [&](const QString &option, const char *key) {
        return option.isEmpty() ? store.value(QLatin1String(key)).toString() : option;
    };
    const QString serviceText = pick(serviceOption, "serviceUrl");
    const QString updateText = pick(updateOption, "updateUrl");

    Choice choice;
    choice.caFile = pick(caOption, "caFile");
    choice.service = baseAddress(serviceText.isEmpty() ? buildDefault(VELMORA_SERVICE_HOST) : serviceText,
                                 QStringLiteral("service address"), error);
    if (!error->isEmpty())
        return {};
    // A chosen service brings its own update server unless one is named; the
    // build's update host goes with the build's service.
    if (!updateText.isEmpty())
        choice.update = baseAddress(updateText, QStringLiteral("update address"), error);
    else if (!serviceText.isEmpty())
        choice.update = choice.service;
    else
        choice.update = baseAddress(buildDefault(VELMORA_UPDATE_HOST), QStringLiteral("update address"), error);
    if (!error->isEmpty())
        return {};
    // The download link is offered to the user to open: a service reached
    // over https must not point them at a package anyone on the way can swap.
    if (choice.service.scheme() == QLatin1String("https") && choice.update.scheme() != QLatin1String("https")) {
        *error = QStringLiteral("update address %1 is not https:// while the service is")
                         .arg(choice.update.toString());
        return {};
    }
    return choice;
}

void apply(const Choice &choice)
{
    serviceBaseUrl = choice.service.toString() + QStringLiteral("api/nokiaApp/");
    updateHost = choice.update.authority();
    versionCheckUrl = choice.update.toString() + QStringLiteral("velmora/getVersionMaemo?current=") + appVersion;
}

bool configure(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Filling stations in Ireland and their fuel prices."));
    parser.addHelpOption();
    const QCommandLineOption serviceOpt(QStringLiteral("service"),
                                        QStringLiteral("Address of the service, e.g. https://velmora.example.net "
                                                       "(settings key serviceUrl)."),
                                        QStringLiteral("URL"));
    const QCommandLineOption updateOpt(QStringLiteral("update-url"),
                                       QStringLiteral("Address of the update server; default: the service's "
                                                      "(settings key updateUrl)."),
                                       QStringLiteral("URL"));
    const QCommandLineOption caOpt(QStringLiteral("ca-file"),
                                   QStringLiteral("Also trust the certificate authorities in this PEM file "
                                                  "(settings key caFile)."),
                                   QStringLiteral("FILE"));
    parser.addOptions({ serviceOpt, updateOpt, caOpt });
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first());
        return false;
    }

    const Choice choice = choose(parser.value(serviceOpt), parser.value(updateOpt), parser.value(caOpt), error);
    if (!error->isEmpty())
        return false;
    if (!choice.caFile.isEmpty()) {
        const QList<QSslCertificate> extra = QSslCertificate::fromPath(choice.caFile, QSsl::Pem);
        if (extra.isEmpty()) {
            *error = QStringLiteral("no certificate in the CA file %1").arg(choice.caFile);
            return false;
        }
        // Named in full: once any authority is set, Qt stops loading the
        // system's on demand.
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
        QSslConfiguration::setDefaultConfiguration(tls);
    }
    apply(choice);
    return true;
}

} // namespace ServiceAddress
