// What an import hands to the store: the stations of the map, each already
// placed in a county and an area.

#ifndef VELMORA_SERVICE_STORE_STATIONIMPORT_H
#define VELMORA_SERVICE_STORE_STATIONIMPORT_H

#include <QList>
#include <QString>

namespace velmora {

struct ImportedStation
{
    char osmType = 'n'; // 'n' node, 'w' way, 'r' relation
    qint64 osmId = 0;
    QString name, brand, addr1, addr2, county, area;
    double lat = 0, lng = 0;
};

struct ImportCounts
{
    int added = 0, updated = 0, unchanged = 0, retired = 0;
    int returned = 0;     // retired before, on the map again (also counted as updated)
    int demoRemoved = 0;  // demo stations taken out with --replace-demo
};

enum class ImportOutcome { Done, DemoPresent, UnknownCounty, Failed };

} // namespace velmora

#endif
