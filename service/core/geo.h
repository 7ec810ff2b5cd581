#ifndef VELMORA_SERVICE_GEO_H
#define VELMORA_SERVICE_GEO_H

namespace velmora {

constexpr double kEarthRadiusKm = 6371.0088;

// Great-circle distance in kilometres between two points given in degrees.
double haversineKm(double lat1, double lng1, double lat2, double lng2);

// A latitude/longitude box that contains every point within radiusKm of the
// centre. The longitude range may exceed [-180, 180] near the antimeridian;
// callers then widen it to the whole range.
struct BoundingBox
{
    double minLat, maxLat, minLng, maxLng;
};
BoundingBox boundingBox(double lat, double lng, double radiusKm);

} // namespace velmora

#endif
