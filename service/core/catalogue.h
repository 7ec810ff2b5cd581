#ifndef VELMORA_SERVICE_CATALOGUE_H
#define VELMORA_SERVICE_CATALOGUE_H

#include "xmlreply.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <shared_mutex>
#include <unordered_map>
#include <vector>

namespace velmora {

// Every station's position and its reply element, held in memory so that the
// nearby search and the look-up by id never touch the database. Positions
// sit in a grid of small latitude/longitude cells; a search looks at the
// cells around the point in growing circles until the circle holds as many
// stations as the reply may carry (or reaches the requested radius), so its
// cost follows the stations near the point, not the size of the catalogue.
//
// Thread-safe: any number of readers at once; replace() and update() wait for
// them and are seen by every search that starts afterwards.
class Catalogue
{
public:
    // Drops everything and takes these stations.
    void replace(const QList<StationRecord> &stations);
    // Adds the station or replaces the one with its id.
    void update(const StationRecord &station);
    // Drops the station with this id, if there is one.
    void remove(qint64 id);
    qsizetype size() const;

    // The stations document of the up to maxResults stations within maxKm
    // of (lat, lng), nearest first (equal distances by id), each with its
    // Distance: byte for byte what stationsDocument() writes for them.
    QByteArray nearbyDocument(double lat, double lng, double maxKm, int maxResults) const;
    // The stations document of the station with this id, or the empty one.
    QByteArray stationDocument(qint64 id) const;

private:
    struct Entry
    {
        qint64 id;
        double lat, lng;
        quint64 cell;
        QByteArray element; // without the closing "/>"
    };
    // What a search reads of each station, kept together per cell.
    struct Point
    {
        double lat, lng;
        qint64 id;
        int index; // in m_entries
    };
    void insertLocked(const StationRecord &station, QByteArray element);
    void removeFromCellLocked(int index);
    template<typename Visit>
    void forEachInBox(double lat, double lng, double radiusKm, Visit visit) const;

    mutable std::shared_mutex m_lock;
    std::vector<Entry> m_entries;
    QHash<qint64, int> m_byId;                            // id -> index in m_entries
    std::unordered_map<quint64, std::vector<Point>> m_cells; // cell -> its stations
};

} // namespace velmora

#endif
