#ifndef VELMORA_SERVICE_DEMODATA_H
#define VELMORA_SERVICE_DEMODATA_H

#include <QString>

namespace velmora {

class Service;
class Store;

constexpr int kDefaultDemoStations = 1500;
constexpr quint32 kDemoSeed = 20260601;

// Fills an empty database with the counties of Ireland, their towns as
// areas, stationCount stations and, when stationCount > 0, the account
// "demo" / "demo". Names,
// places and prices depend only on the seed; update dates are spread over
// the 60 days before now. Does nothing when the database already has
// counties. Returns false on a database error.
bool populateDemoData(Store &store, const Service &service, int stationCount,
                      quint32 seed = kDemoSeed, QString *error = nullptr);

} // namespace velmora

#endif
