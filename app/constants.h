#ifndef VELMORA_APP_CONSTANTS_H
#define VELMORA_APP_CONSTANTS_H

#include <QString>

// Process-wide strings every request URL is built from. They are set before
// main() runs (in this order) and stay for the life of the process. They are
// deliberately not const: a test may point them at a local server before it
// constructs a window.
extern QString serviceBaseUrl;   // "http://" + service host + "/api/nokiaApp/"
extern QString appVersion;       // VELMORA_WIRE_VERSION, e.g. "05.4"
extern QString updateHost;       // host[:port] of the update server
extern QString versionCheckUrl;  // "http://" + updateHost + "/velmora/getVersionMaemo?current=" + appVersion

#endif
