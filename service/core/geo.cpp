#include "geo.h"

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {
constexpr double kPi = 3.14159265358979323846;
double rad(double deg) { return deg * kPi / 180.0; }
}

double haversineKm(double lat1, double lng1, double lat2, double lng2)
{
    const double dLat = rad(lat2 - lat1);
    const double dLng = rad(lng2 - lng1);
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2)
            + std::cos(rad(lat1)) * std::cos(rad(lat2)) * std::sin(dLng / 2) * std::sin(dLng / 2);
    return 2 * kEarthRadiusKm * std::asin(std::min(1.0, std::sqrt(a)));
}

BoundingBox boundingBox(double lat, double lng, double radiusKm)
{
    // One degree of latitude is about 111.2 km everywhere; a degree of
    // longitude shrinks with cos(latitude), so use the band's edge nearest a
    // pole. A 1% margin covers rounding.
    const double kmPerDegree = kEarthRadiusKm * kPi / 180.0;
    const double dLat = radiusKm / kmPerDegree * 1.01;
    const double cosLat = std::max(std::cos(rad(std::min(std::fabs(lat) + dLat, 90.0))), 1e-6);
    const double dLng = std::min(radiusKm / (kmPerDegree * cosLat) * 1.01, 360.0);
    return { std::max(lat - dLat, -90.0), std::min(lat + dLat, 90.0), lng - dLng, lng + dLng };
}

} // namespace velmora
