#ifndef VELMORA_SERVICE_STATIONPLAN_H
#define VELMORA_SERVICE_STATIONPLAN_H

#include "osmextract.h"
#include "stationimport.h"

#include <QStringList>

namespace velmora {

// The stations of an extract as the service lists them, each in one of
// `counties` and an area of it, with the stations the service cannot list
// counted by the reason.
struct StationPlan
{
    QList<ImportedStation> stations;
    int outsideState = 0;  // in no county of the list: across the border, at sea
    int repeated = 0;      // the same element again (in a second file)
    // Counties of the list the files hold no boundary for: their stations
    // were counted as outside the State.
    QStringList withoutBoundary;
};

StationPlan planStations(const OsmExtract &extract, const QStringList &counties);

// An area name as people write it: blanks trimmed and collapsed, and a
// name typed all in capitals or all in small letters given capitals at the
// start of its words.
QString areaName(const QString &raw);

} // namespace velmora

#endif
