#include "app/constants.h"

#include "velmora_version.h"

#ifndef VELMORA_SERVICE_HOST
#define VELMORA_SERVICE_HOST "127.0.0.1:8642"
#endif
#ifndef VELMORA_UPDATE_HOST
#define VELMORA_UPDATE_HOST "127.0.0.1:8642"
#endif

// Defined in one translation unit so that their initialisation order is the
// order written here: versionCheckUrl is concatenated from the two before it.
QString serviceBaseUrl = QStringLiteral("http://" VELMORA_SERVICE_HOST "/api/nokiaApp/");
QString appVersion = QStringLiteral(VELMORA_WIRE_VERSION);
QString updateHost = QStringLiteral(VELMORA_UPDATE_HOST);
QString versionCheckUrl = QStringLiteral("http://") + updateHost
                          + QStringLiteral("/velmora/getVersionMaemo?current=") + appVersion;
