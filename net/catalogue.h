#ifndef VELMORA_NET_CATALOGUE_H
#define VELMORA_NET_CATALOGUE_H

#include <QString>

// Builders for every request URL the client sends. Each query value is
// percent-encoded on its own (reserved characters and '+' included), so the
// service receives exactly what the user typed; keys and their order are
// fixed by the protocol.
namespace Catalogue {

enum class Fuel { Diesel, Petrol };

// Percent-encodes one query value: everything but the unreserved characters.
QString encodeValue(const QString &value);
// Number format used on the wire: general format, six significant digits.
QString number(double value);

QString counties();
QString areasByCounty(const QString &county);
QString stationsByArea(const QString &county, const QString &area);
QString nearbyStations(double latitude, double longitude, const QString &maxDistance);
QString stationsByWatchlist(const QString &user, const QString &password);
QString stationById(const QString &id);
QString addToWatchlist(const QString &user, const QString &password, const QString &id);
// A price report; the location pair is appended only when withLocation is set.
QString updatePrice(const QString &id, const QString &user, const QString &password, double price,
                    Fuel fuel, bool withLocation, float latitude, float longitude);
QString versionCheck();

// The same URL with the value of its password query item replaced by "***",
// for writing to the debug output.
QString maskPassword(const QString &url);

} // namespace Catalogue

#endif
