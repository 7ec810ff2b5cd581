#ifndef VELMORA_SERVICE_COUNTYMAP_H
#define VELMORA_SERVICE_COUNTYMAP_H

#include "osmextract.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace velmora {

// The one of `counties` (the service's own list) an administrative area of
// the map belongs to: "County Cork", "Cork City" and "Contae Chorcaí" with
// name:en "County Cork" are all Cork, and the councils of the Dublin area
// (Dublin City, Fingal, South Dublin, Dún Laoghaire–Rathdown) are Dublin.
// Empty when it is none of them (a county of Northern Ireland).
QString foldCountyName(const QString &name, const QString &nameEn, const QStringList &counties);

// Which county a point lies in, from the county boundaries of the map.
class CountyMap
{
public:
    CountyMap(const std::vector<OsmBoundary> &boundaries, const QStringList &counties);

    // The county, or empty when the point lies in none of them (another
    // country, the sea, a gap between boundaries). Where shapes overlap,
    // the smallest holding the point decides.
    QString countyAt(GeoPoint point) const;
    bool isEmpty() const { return m_shapes.empty(); }
    // The counties of the list that have a shape.
    QStringList covered() const;

private:
    struct Shape
    {
        QString county;
        BoundaryPiece piece;
        double minLat, maxLat, minLng, maxLng;
        double area; // in square degrees: only compared with each other
    };
    std::vector<Shape> m_shapes;
};

} // namespace velmora

#endif
