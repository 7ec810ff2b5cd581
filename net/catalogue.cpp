#include "net/catalogue.h"

#include "app/constants.h"

#include <QRegularExpression>
#include <QUrl>

namespace Catalogue {

QString encodeValue(const QString &value)
{
    // toPercentEncoding leaves only A-Z a-z 0-9 - . _ ~ bare; '+', '&', '#',
    // '=', '%' and blanks are all encoded.
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString number(double value)
{
    return QString::number(value, 'g', 6);
}

QString counties()
{
    return serviceBaseUrl + QLatin1String("getCounties.php");
}

QString areasByCounty(const QString &county)
{
    return serviceBaseUrl + QLatin1String("getAreasByCounty.php?county=") + encodeValue(county);
}

QString stationsByArea(const QString &county, const QString &area)
{
    return serviceBaseUrl + QLatin1String("getStationsByArea.php?county=") + encodeValue(county)
           + QLatin1String("&area=") + encodeValue(area);
}

QString nearbyStations(double latitude, double longitude, const QString &maxDistance)
{
    return serviceBaseUrl + QLatin1String("getNearbyStations.php?latitude=") + encodeValue(number(latitude))
           + QLatin1String("&longitude=") + encodeValue(number(longitude))
           + QLatin1String("&maxDistance=") + encodeValue(maxDistance);
}

QString stationsByWatchlist(const QString &user, const QString &password)
{
    return serviceBaseUrl + QLatin1String("getStationsByWatchlist.php?username=") + encodeValue(user)
           + QLatin1String("&password=") + encodeValue(password);
}

QString stationById(const QString &id)
{
    return serviceBaseUrl + QLatin1String("getStationById.php?id=") + encodeValue(id);
}

QString addToWatchlist(const QString &user, const QString &password, const QString &id)
{
    return serviceBaseUrl + QLatin1String("addToWatchlist.php?username=") + encodeValue(user)
           + QLatin1String("&password=") + encodeValue(password) + QLatin1String("&id=") + encodeValue(id);
}

QString updatePrice(const QString &id, const QString &user, const QString &password, double price,
                    Fuel fuel, bool withLocation, float latitude, float longitude)
{
    QString url = serviceBaseUrl + QLatin1String("updatePrice.php?id=") + encodeValue(id)
                  + QLatin1String("&username=") + encodeValue(user) + QLatin1String("&password=")
                  + encodeValue(password) + QLatin1String("&price=") + encodeValue(number(price));
    url += fuel == Fuel::Diesel ? QLatin1String("&type=Diesel&appId=ZKWMaemo")
                                : QLatin1String("&type=Petrol&appId=ZKWQt");
    if (withLocation) {
        url += QLatin1String("&lat=") + encodeValue(number(double(latitude))) + QLatin1String("&lng=")
               + encodeValue(number(double(longitude)));
    }
    return url;
}

QString versionCheck()
{
    return versionCheckUrl;
}

QString maskPassword(const QString &url)
{
    static const QRegularExpression passwordValue(QStringLiteral("([?&]password=)[^&#]*"));
    QString masked = url;
    masked.replace(passwordValue, QStringLiteral("\\1***"));
    return masked;
}

} // namespace Catalogue
