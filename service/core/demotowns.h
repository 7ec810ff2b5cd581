// The towns the demo stations are placed around.

#ifndef VELMORA_SERVICE_DEMOTOWNS_H
#define VELMORA_SERVICE_DEMOTOWNS_H

#include <QList>

namespace velmora {

struct Town
{
    const char *county;
    const char *name;
    double lat, lng;
    int weight; // rough size: how many stations it gets relative to others
};

// Real towns with their approximate centres.
const QList<Town> &demoTowns();

} // namespace velmora

#endif
