#include "demodata.h"

#include "demotowns.h"
#include "service.h"
#include "store.h"

#include <QDateTime>
#include <QHash>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QVariant>

#include <cmath>

namespace velmora {

namespace {

// Stations placed by hand: the city centre around O'Connell Bridge and the
// N11/M11 from Dublin southwards, so a drive out of the city meets stations.
struct FixedStation
{
    const char *area;
    const char *name;
    const char *brand;
    const char *addr1;
    double lat, lng;
};
const FixedStation kFixedStations[] = {
    { "Dublin 1", "Parnell Street Service Station", "Maxol", "Parnell Street", 53.3529, -6.2638 },
    { "Dublin 1", "Amiens Street", "Top", "Amiens Street", 53.3525, -6.2490 },
    { "Dublin 2", "Pearse Street Service Station", "Texaco", "Pearse Street", 53.3440, -6.2490 },
    { "Dublin 2", "Leeson Street Filling Station", "Esso", "Leeson Street Lower", 53.3340, -6.2530 },
    { "Dublin 8", "Thomas Street", "Topaz", "Thomas Street", 53.3430, -6.2800 },
    { "Dublin 4", "Donnybrook Service Station", "Shell", "Stillorgan Road (N11)", 53.3220, -6.2350 },
    { "Stillorgan", "Stillorgan Road", "Emo", "Stillorgan Road (N11)", 53.2900, -6.1970 },
    { "Cabinteely", "Cabinteely Service Station", "Amber", "Bray Road (N11)", 53.2640, -6.1500 },
    { "Cabinteely", "Loughlinstown", "Texaco", "Dublin Road (N11)", 53.2480, -6.1290 },
    { "Bray", "Southern Cross Service Station", "Maxol", "Southern Cross Road (M11 J5)", 53.1920, -6.1060 },
    { "Kilmacanogue", "Kilmacanogue N11", "Topaz", "N11", 53.1710, -6.1360 },
    { "Newtownmountkennedy", "Newtownmountkennedy M11", "Campus", "Main Street", 53.0920, -6.1120 },
    { "Ashford", "Ashford Filling Station", "Great Gas", "Main Street (N11)", 53.0100, -6.1100 },
    { "Arklow", "Arklow M11", "Top", "Arklow Road (M11 J21)", 52.8100, -6.1700 },
    { "Gorey", "Gorey Bypass Service Station", "Independent", "M11 Junction 23", 52.6800, -6.3000 },
};

const char *const kBrands[] = { "Emo", "Top", "Esso", "Amber", "Maxol", "Campus", "Independent",
                                "Great Gas", "Shell", "Topaz", "Texaco" };
// Relative frequency of each brand above, and its usual price difference in
// tenths of a cent.
const int kBrandWeight[] = { 9, 7, 8, 5, 11, 6, 10, 4, 7, 12, 8 };
const int kBrandOffset[] = { 0, -15, 20, -5, 10, -20, -30, -35, 25, 15, 20 };

const char *const kSurnames[] = { "Murphy", "Kelly", "O'Brien", "Byrne", "Ryan", "O'Sullivan",
                                  "Walsh", "Doyle", "McCarthy", "Gallagher", "O'Connor", "Kennedy",
                                  "Lynch", "Murray", "Quinn", "Moore", "Daly", "Dunne", "Brennan",
                                  "Burke", "Collins", "Clarke", "Fitzgerald", "Nolan", "Ó Sé" };
const char *const kStreets[] = { "Main Street", "Dublin Road", "Church Street", "Bridge Street",
                                 "Station Road", "Castle Street", "Mill Road", "Green Road",
                                 "New Road", "Cork Road", "Galway Road", "Limerick Road",
                                 "Market Square", "Quay Street", "Ring Road", "Old Road",
                                 "Chapel Street", "Church Road", "Industrial Estate", "Retail Park",
                                 "Kennedy Road", "Convent Road", "Fair Green", "Circular Road" };

template<typename T, size_t N>
constexpr int count(const T (&)[N]) { return int(N); }

template<typename T, size_t N>
const T &pick(QRandomGenerator &rng, const T (&items)[N])
{
    return items[rng.bounded(int(N))];
}

int pickWeighted(QRandomGenerator &rng, const int *weights, int n, int total)
{
    int r = rng.bounded(total);
    for (int i = 0; i < n; ++i) {
        if (r < weights[i])
            return i;
        r -= weights[i];
    }
    return n - 1;
}

QString postalAddress(const Town &town)
{
    const QString name = QString::fromUtf8(town.name);
    if (name.startsWith(QLatin1String("Dublin ")))
        return name;
    return name + QStringLiteral(", Co. ") + QString::fromUtf8(town.county);
}

QString stationName(QRandomGenerator &rng, const QString &town, const QString &brand, const QString &street)
{
    const QString surname = QString::fromUtf8(pick(rng, kSurnames));
    switch (rng.bounded(7)) {
    case 0: return town + QStringLiteral(" Service Station");
    case 1: return brand + QLatin1Char(' ') + town;
    case 2: return surname + QStringLiteral("'s Garage");
    case 3: return street + QStringLiteral(" Filling Station");
    case 4: return surname + QStringLiteral(" Motors");
    case 5: return brand + QLatin1Char(' ') + street;
    default: return town + QLatin1Char(' ') + street;
    }
}

// A price in tenths of a cent: whole cents in [low, low + span) plus a
// decimal that is most often 9, as forecourt prices tend to be.
int priceTenths(QRandomGenerator &rng, int low, int span, int offset)
{
    const int cents = low + rng.bounded(span);
    const int decimal = rng.bounded(10) < 6 ? 9 : rng.bounded(10);
    return cents * 10 + decimal + offset;
}

} // namespace

bool populateDemoData(Store &store, const Service &service, int stationCount, quint32 seed, QString *error)
{
    if (!store.counties().isEmpty())
        return true;

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const int brandTotal = [] { int t = 0; for (int w : kBrandWeight) t += w; return t; }();
    QList<int> townWeights;
    int townTotal = 0;
    for (const Town &t : demoTowns()) {
        townWeights.append(t.weight);
        townTotal += t.weight;
    }

    bool created = false;
    const bool ok = store.write([&](QSqlDatabase &db, QSqlError &err) {
        created = false;
        QSqlQuery q(db);
        auto fail = [&] { err = q.lastError(); return Store::TxStep::Error; };
        // Several instances may start on one new database at once: the first
        // creates the data, the others find it there.
        if (!store.serializeSetup(db, err))
            return Store::TxStep::Error;
        if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM counties")) || !q.next())
            return fail();
        if (q.value(0).toLongLong() > 0)
            return Store::TxStep::Rollback;
        created = true;
        // Seeded here, so that a transaction run again makes the same data.
        QRandomGenerator rng(seed);

        QHash<QString, qint64> countyIds;
        QHash<QString, QPair<qint64, int>> areaIds; // area name -> (id, town index)
        for (int i = 0; i < int(demoTowns().size()); ++i) {
            const Town &t = demoTowns().at(i);
            const QString county = QString::fromUtf8(t.county);
            if (!countyIds.contains(county)) {
                q.prepare(QStringLiteral("INSERT INTO counties (name) VALUES (?) RETURNING id"));
                q.addBindValue(county);
                if (!q.exec() || !q.next())
                    return fail();
                countyIds.insert(county, q.value(0).toLongLong());
            }
            q.prepare(QStringLiteral("INSERT INTO areas (county_id, name) VALUES (?, ?) RETURNING id"));
            q.addBindValue(countyIds.value(county));
            q.addBindValue(QString::fromUtf8(t.name));
            if (!q.exec() || !q.next())
                return fail();
            areaIds.insert(QString::fromUtf8(t.name), { q.value(0).toLongLong(), i });
        }

        QSqlQuery ins(db);
        ins.prepare(QStringLiteral(
                "INSERT INTO stations (name, brand, addr1, addr2, county_id, area_id, lat, lng,"
                " petrol_price, diesel_price, petrol_updated, diesel_updated)"
                " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (int n = 0; n < stationCount; ++n) {
            int townIndex;
            QString name, brand, addr1;
            double lat, lng;
            const bool fixed = n < count(kFixedStations);
            if (fixed) {
                const FixedStation &f = kFixedStations[n];
                townIndex = areaIds.value(QString::fromUtf8(f.area)).second;
                name = QString::fromUtf8(f.name);
                brand = QString::fromUtf8(f.brand);
                addr1 = QString::fromUtf8(f.addr1);
                lat = f.lat;
                lng = f.lng;
            } else {
                townIndex = pickWeighted(rng, townWeights.constData(), int(townWeights.size()), townTotal);
            }
            const Town &town = demoTowns().at(townIndex);
            const int brandIndex = fixed ? -1 : pickWeighted(rng, kBrandWeight, count(kBrands), brandTotal);
            if (!fixed) {
                brand = QString::fromUtf8(kBrands[brandIndex]);
                const QString street = QString::fromUtf8(pick(rng, kStreets));
                name = stationName(rng, QString::fromUtf8(town.name), brand, street);
                addr1 = rng.bounded(3) == 0 ? street : QStringLiteral("%1 %2").arg(1 + rng.bounded(120)).arg(street);
                // Uniform over a disc whose size grows with the town.
                const double radiusKm = 0.6 + 0.45 * town.weight;
                const double r = radiusKm * std::sqrt(rng.generateDouble());
                const double angle = rng.generateDouble() * 2 * 3.14159265358979323846;
                lat = town.lat + r * std::cos(angle) / 111.2;
                lng = town.lng + r * std::sin(angle) / (111.2 * std::cos(town.lat * 3.14159265358979323846 / 180));
            }
            const int offset = brandIndex >= 0 ? kBrandOffset[brandIndex] : 0;
            const int petrol = priceTenths(rng, 175, 15, offset);
            const int diesel = priceTenths(rng, 165, 15, offset);
            // Most stations were updated within the last three weeks, a tail
            // up to 60 days ago so that stale prices show up too.
            const qint64 petrolAge = rng.bounded(4) == 0 ? rng.bounded(60 * 86400) : rng.bounded(21 * 86400);
            const qint64 dieselAge = rng.bounded(3) == 0 ? rng.bounded(60 * 86400) : petrolAge;

            ins.addBindValue(name);
            ins.addBindValue(brand);
            ins.addBindValue(addr1);
            ins.addBindValue(postalAddress(town));
            ins.addBindValue(countyIds.value(QString::fromUtf8(town.county)));
            ins.addBindValue(areaIds.value(QString::fromUtf8(town.name)).first);
            ins.addBindValue(std::round(lat * 1e6) / 1e6);
            ins.addBindValue(std::round(lng * 1e6) / 1e6);
            ins.addBindValue(petrol / 10.0);
            ins.addBindValue(diesel / 10.0);
            ins.addBindValue(now - petrolAge);
            ins.addBindValue(now - dieselAge);
            if (!ins.exec()) {
                err = ins.lastError();
                return Store::TxStep::Error;
            }
        }
        return Store::TxStep::Commit;
    });
    if (!ok) {
        if (error)
            *error = QStringLiteral("could not create the demo data");
        return false;
    }
    // The well-known account comes only with the demo stations: a catalogue
    // created empty is meant to be filled with real data and real accounts.
    if (created && stationCount > 0 && !service.setUser(QStringLiteral("demo"), QStringLiteral("demo"))) {
        if (error)
            *error = QStringLiteral("could not create the demo account");
        return false;
    }
    return true;
}

} // namespace velmora
