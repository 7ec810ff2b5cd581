#ifndef VELMORA_SERVICE_OSMEXTRACT_H
#define VELMORA_SERVICE_OSMEXTRACT_H

#include <QHash>
#include <QString>

#include <vector>

namespace velmora {

class ImportProgress;

struct GeoPoint
{
    double lat = 0, lng = 0;
};

// One outer ring of an administrative area with the holes cut into it
// (enclaves of another area). Rings are closed: the last point repeats the first.
struct BoundaryPiece
{
    std::vector<GeoPoint> outer;
    std::vector<std::vector<GeoPoint>> inners;
};

// A county-level administrative area as the map has it (its own name, not
// yet folded into one of the service's counties).
struct OsmBoundary
{
    QString name, nameEn;
    std::vector<BoundaryPiece> pieces;
};

// A filling station: a node, a closed way or a multipolygon relation, with
// its position (the centre of an area) and the tags a station reply needs.
struct OsmStation
{
    char type = 'n'; // 'n', 'w' or 'r'
    qint64 id = 0;
    GeoPoint at;
    QHash<QString, QString> tags;
};

// A city, town or village: where a station without an address of its own is said to be.
struct OsmPlace
{
    QString name;
    GeoPoint at;
};

// Everything an import takes from its files.
struct OsmExtract
{
    std::vector<OsmStation> stations;
    std::vector<OsmBoundary> counties;
    std::vector<OsmPlace> places;
    qint64 timestamp = 0; // when the data was taken, seconds since the epoch; 0: unknown
};

// Reads an OpenStreetMap file (XML, also gzip or bzip2 compressed, or PBF)
// and appends what it holds to `extract`. Only the node locations the
// stations and the boundaries need are kept, so memory follows those, not
// the size of the file. False with `error` set when the file cannot be read.
bool readOsmFile(const QString &path, OsmExtract &extract, ImportProgress &progress, QString *error);

// The same from a reply of the Overpass API in JSON: stations with
// `out center`, boundaries with `out geom`.
bool readOverpassJson(const QString &path, OsmExtract &extract, ImportProgress &progress, QString *error);

// A boundary given as its ways' points (as the Overpass API sends it),
// assembled into rings the way a file's relations are. False when the ways
// do not close into rings.
struct OutlineWay
{
    bool outer = true;
    std::vector<GeoPoint> points;
};
bool assembleOutline(const QString &name, const QString &nameEn, const std::vector<OutlineWay> &ways,
                     OsmExtract &extract);

// Which of the two readers a file needs, by its first bytes.
bool isOverpassJson(const QString &path);

// The tags a station keeps (others are dropped on reading).
bool isStationTag(const char *key);

// The centre of a closed ring (its centroid; the mean of its points when it
// has no area).
GeoPoint ringCentre(const std::vector<GeoPoint> &ring);

} // namespace velmora

#endif
