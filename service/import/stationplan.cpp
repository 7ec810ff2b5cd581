#include "stationplan.h"

#include "countymap.h"
#include "geo.h"

#include <QSet>

#include <limits>

namespace velmora {

namespace {

QString joined(const QStringList &parts)
{
    QStringList kept;
    for (const QString &part : parts) {
        const QString p = part.simplified();
        if (!p.isEmpty() && !kept.contains(p))
            kept << p;
    }
    return kept.join(QStringLiteral(", "));
}

QString title(const QHash<QString, QString> &tags)
{
    for (const char *key : { "name", "brand", "operator" }) {
        const QString value = tags.value(QLatin1String(key)).simplified();
        if (!value.isEmpty())
            return value;
    }
    return QStringLiteral("Filling station");
}

// The places of each county, so the nearest one is looked for among its own.
class PlaceFinder
{
public:
    PlaceFinder(const std::vector<OsmPlace> &places, const CountyMap &counties)
    {
        for (const OsmPlace &place : places) {
            const QString county = counties.countyAt(place.at);
            if (!county.isEmpty())
                m_byCounty[county].push_back(&place);
        }
    }

    QString nearest(const QString &county, GeoPoint at) const
    {
        const OsmPlace *best = nullptr;
        double bestKm = std::numeric_limits<double>::infinity();
        for (const OsmPlace *place : m_byCounty.value(county)) {
            const double km = haversineKm(at.lat, at.lng, place->at.lat, place->at.lng);
            if (km < bestKm) {
                bestKm = km;
                best = place;
            }
        }
        return best ? areaName(best->name) : QString();
    }

private:
    QHash<QString, std::vector<const OsmPlace *>> m_byCounty;
};

} // namespace

QString areaName(const QString &raw)
{
    QString name = raw.simplified();
    if (name != name.toUpper() && name != name.toLower())
        return name;
    name = name.toLower();
    bool start = true;
    for (QChar &c : name) {
        if (start && c.isLetter())
            c = c.toUpper();
        start = !c.isLetter() && c != QLatin1Char('\'');
    }
    return name;
}

StationPlan planStations(const OsmExtract &extract, const QStringList &counties)
{
    const CountyMap map(extract.counties, counties);
    const PlaceFinder places(extract.places, map);
    StationPlan plan;
    const QStringList covered = map.covered();
    for (const QString &county : counties) {
        if (!covered.contains(county))
            plan.withoutBoundary << county;
    }
    QSet<QPair<char, qint64>> seen;
    // The last file named wins for an element in two of them.
    for (auto it = extract.stations.rbegin(); it != extract.stations.rend(); ++it) {
        const OsmStation &s = *it;
        if (seen.contains(qMakePair(s.type, s.id))) {
            ++plan.repeated;
            continue;
        }
        seen.insert(qMakePair(s.type, s.id));
        const QString county = map.countyAt(s.at);
        if (county.isEmpty()) {
            ++plan.outsideState;
            continue;
        }
        const auto tag = [&](const char *key) { return s.tags.value(QLatin1String(key)); };
        QString area;
        for (const char *key : { "addr:city", "addr:town", "addr:village" }) {
            area = areaName(tag(key));
            if (!area.isEmpty())
                break;
        }
        if (area.isEmpty())
            area = places.nearest(county, s.at);
        if (area.isEmpty())
            area = county;

        ImportedStation out;
        out.osmType = s.type;
        out.osmId = s.id;
        out.name = title(s.tags);
        out.brand = tag("brand").simplified();
        out.county = county;
        out.area = area;
        out.lat = s.at.lat;
        out.lng = s.at.lng;
        // An Irish address: house, number and street, locality; then the
        // town, the county and the Eircode.
        const QString street = joined({ tag("addr:housenumber") + QLatin1Char(' ') + tag("addr:street") });
        out.addr1 = joined({ tag("addr:housename"), street, tag("addr:place") });
        out.addr2 = joined({ tag("addr:suburb"), area, QStringLiteral("Co. ") + county, tag("addr:postcode") });
        plan.stations.prepend(out);
    }
    return plan;
}

} // namespace velmora
