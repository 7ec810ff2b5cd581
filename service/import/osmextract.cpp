#include "osmextract.h"

#include <QFile>

#include <cmath>
#include <cstring>

namespace velmora {

bool isStationTag(const char *key)
{
    static const char *const kKeys[] = { "name", "brand", "operator", "addr:housename", "addr:housenumber",
                                         "addr:street", "addr:place", "addr:suburb", "addr:city", "addr:town",
                                         "addr:village", "addr:county", "addr:postcode" };
    for (const char *k : kKeys) {
        if (std::strcmp(k, key) == 0)
            return true;
    }
    return false;
}

GeoPoint ringCentre(const std::vector<GeoPoint> &ring)
{
    if (ring.empty())
        return {};
    // Relative to the first point, so the products stay small and exact
    // enough for a forecourt a few metres across.
    const GeoPoint origin = ring.front();
    double area2 = 0, cx = 0, cy = 0;
    for (size_t i = 0; i + 1 < ring.size(); ++i) {
        const double x0 = ring[i].lng - origin.lng, y0 = ring[i].lat - origin.lat;
        const double x1 = ring[i + 1].lng - origin.lng, y1 = ring[i + 1].lat - origin.lat;
        const double cross = x0 * y1 - x1 * y0;
        area2 += cross;
        cx += (x0 + x1) * cross;
        cy += (y0 + y1) * cross;
    }
    if (std::abs(area2) > 1e-18)
        return { origin.lat + cy / (3.0 * area2), origin.lng + cx / (3.0 * area2) };
    GeoPoint mean;
    for (const GeoPoint &p : ring) {
        mean.lat += p.lat;
        mean.lng += p.lng;
    }
    return { mean.lat / double(ring.size()), mean.lng / double(ring.size()) };
}

bool isOverpassJson(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.peek(64).trimmed();
    return head.startsWith('{');
}

} // namespace velmora
