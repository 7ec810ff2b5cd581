#pragma once

// Points the client's process-wide URLs (app/constants.h) at a test server,
// as a build configured for that host would set them, and puts them back.
// Header-only: the URLs live in velmora_core, which only the test programs
// link, not this support library.

#include "app/constants.h"

#include <QString>

namespace TestSupport {

// baseUrl is "http://host:port", as TestServer::baseUrl() gives it.
inline void pointClientAt(const QString &baseUrl)
{
    serviceBaseUrl = baseUrl + QStringLiteral("/api/nokiaApp/");
    updateHost = baseUrl.mid(int(qstrlen("http://")));
    versionCheckUrl = QStringLiteral("http://") + updateHost + QStringLiteral("/velmora/getVersionMaemo?current=")
                      + appVersion;
}

// Saves the URLs when made and restores them when destroyed.
class ClientUrlsGuard
{
public:
    ClientUrlsGuard() = default;
    explicit ClientUrlsGuard(const QString &baseUrl) { pointClientAt(baseUrl); }
    ~ClientUrlsGuard()
    {
        serviceBaseUrl = m_base;
        updateHost = m_host;
        versionCheckUrl = m_version;
    }
    ClientUrlsGuard(const ClientUrlsGuard &) = delete;
    ClientUrlsGuard &operator=(const ClientUrlsGuard &) = delete;

private:
    QString m_base = serviceBaseUrl;
    QString m_host = updateHost;
    QString m_version = versionCheckUrl;
};

} // namespace TestSupport
