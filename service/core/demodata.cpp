#include "demodata.h"

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

struct Town
{
    const char *county;
    const char *name;
    double lat, lng;
    int weight; // rough size: how many stations it gets relative to others
};

// Real towns with their approximate centres. Dublin is split into postal
// districts and suburbs; the places along the N11/M11 south of the city
// carry the stations a drive out of Dublin passes.
const Town kTowns[] = {
    { "Carlow", "Carlow", 52.8365, -6.9341, 4 },
    { "Carlow", "Tullow", 52.8003, -6.7372, 2 },
    { "Carlow", "Bagenalstown", 52.7003, -6.9597, 1 },
    { "Cavan", "Cavan", 53.9908, -7.3606, 4 },
    { "Cavan", "Bailieborough", 53.9128, -6.9706, 1 },
    { "Cavan", "Cootehill", 54.0737, -7.0798, 1 },
    { "Cavan", "Virginia", 53.8339, -7.0772, 1 },
    { "Clare", "Ennis", 52.8436, -8.9864, 5 },
    { "Clare", "Shannon", 52.7038, -8.8642, 3 },
    { "Clare", "Kilrush", 52.6397, -9.4836, 1 },
    { "Clare", "Kilkee", 52.6820, -9.6456, 1 },
    { "Cork", "Cork City", 51.8985, -8.4756, 12 },
    { "Cork", "Ballincollig", 51.8879, -8.5893, 3 },
    { "Cork", "Carrigaline", 51.8117, -8.3986, 2 },
    { "Cork", "Mallow", 52.1390, -8.6451, 3 },
    { "Cork", "Midleton", 51.9153, -8.1805, 3 },
    { "Cork", "Fermoy", 52.1386, -8.2756, 2 },
    { "Cork", "Youghal", 51.9536, -7.8506, 2 },
    { "Cork", "Bandon", 51.7463, -8.7425, 2 },
    { "Cork", "Clonakilty", 51.6231, -8.8707, 2 },
    { "Cork", "Skibbereen", 51.5500, -9.2667, 1 },
    { "Donegal", "Letterkenny", 54.9558, -7.7342, 5 },
    { "Donegal", "Donegal", 54.6540, -8.1101, 2 },
    { "Donegal", "Buncrana", 55.1333, -7.4500, 2 },
    { "Donegal", "Ballyshannon", 54.5031, -8.1886, 1 },
    { "Donegal", "Bundoran", 54.4779, -8.2806, 1 },
    { "Dublin", "Dublin 1", 53.3531, -6.2600, 3 },
    { "Dublin", "Dublin 2", 53.3382, -6.2591, 3 },
    { "Dublin", "Dublin 4", 53.3275, -6.2282, 3 },
    { "Dublin", "Dublin 6", 53.3180, -6.2650, 3 },
    { "Dublin", "Dublin 8", 53.3390, -6.2880, 3 },
    { "Dublin", "Dublin 12", 53.3220, -6.3200, 3 },
    { "Dublin", "Finglas", 53.3900, -6.2980, 3 },
    { "Dublin", "Coolock", 53.3900, -6.2000, 3 },
    { "Dublin", "Swords", 53.4597, -6.2181, 5 },
    { "Dublin", "Malahide", 53.4509, -6.1544, 2 },
    { "Dublin", "Balbriggan", 53.6128, -6.1819, 2 },
    { "Dublin", "Blanchardstown", 53.3881, -6.3773, 5 },
    { "Dublin", "Lucan", 53.3572, -6.4483, 3 },
    { "Dublin", "Clondalkin", 53.3203, -6.3944, 3 },
    { "Dublin", "Tallaght", 53.2859, -6.3733, 5 },
    { "Dublin", "Dundrum", 53.2925, -6.2456, 3 },
    { "Dublin", "Stillorgan", 53.2889, -6.1990, 2 },
    { "Dublin", "Cabinteely", 53.2620, -6.1470, 2 },
    { "Dublin", "D\u00fan Laoghaire", 53.2940, -6.1340, 3 },
    { "Galway", "Galway", 53.2707, -9.0568, 8 },
    { "Galway", "Oranmore", 53.2686, -8.9267, 2 },
    { "Galway", "Tuam", 53.5147, -8.8514, 3 },
    { "Galway", "Ballinasloe", 53.3275, -8.2194, 3 },
    { "Galway", "Loughrea", 53.1969, -8.5669, 2 },
    { "Galway", "Clifden", 53.4889, -10.0194, 1 },
    { "Kerry", "Tralee", 52.2713, -9.6999, 5 },
    { "Kerry", "Killarney", 52.0599, -9.5044, 4 },
    { "Kerry", "Listowel", 52.4464, -9.4850, 2 },
    { "Kerry", "Kenmare", 51.8801, -9.5836, 1 },
    { "Kerry", "Dingle", 52.1409, -10.2689, 1 },
    { "Kerry", "Cahersiveen", 51.9480, -10.2220, 1 },
    { "Kildare", "Naas", 53.2159, -6.6669, 4 },
    { "Kildare", "Newbridge", 53.1819, -6.7967, 4 },
    { "Kildare", "Maynooth", 53.3813, -6.5918, 3 },
    { "Kildare", "Celbridge", 53.3397, -6.5390, 2 },
    { "Kildare", "Leixlip", 53.3659, -6.4956, 2 },
    { "Kildare", "Kildare", 53.1589, -6.9096, 2 },
    { "Kildare", "Athy", 52.9918, -6.9861, 2 },
    { "Kilkenny", "Kilkenny", 52.6541, -7.2448, 5 },
    { "Kilkenny", "Thomastown", 52.5264, -7.1372, 1 },
    { "Kilkenny", "Castlecomer", 52.8060, -7.2100, 1 },
    { "Kilkenny", "Callan", 52.5440, -7.3900, 1 },
    { "Laois", "Portlaoise", 53.0344, -7.2998, 4 },
    { "Laois", "Portarlington", 53.1625, -7.1911, 2 },
    { "Laois", "Mountmellick", 53.1136, -7.3200, 1 },
    { "Laois", "Abbeyleix", 52.9150, -7.3480, 1 },
    { "Leitrim", "Carrick-on-Shannon", 53.9469, -8.0900, 2 },
    { "Leitrim", "Manorhamilton", 54.3050, -8.1780, 1 },
    { "Leitrim", "Mohill", 53.9220, -7.8650, 1 },
    { "Leitrim", "Ballinamore", 54.0520, -7.8020, 1 },
    { "Limerick", "Limerick", 52.6638, -8.6267, 9 },
    { "Limerick", "Castleconnell", 52.7130, -8.4990, 1 },
    { "Limerick", "Newcastle West", 52.4492, -9.0611, 2 },
    { "Limerick", "Abbeyfeale", 52.3860, -9.3000, 1 },
    { "Limerick", "Kilmallock", 52.4000, -8.5770, 1 },
    { "Longford", "Longford", 53.7276, -7.7932, 3 },
    { "Longford", "Granard", 53.7790, -7.4960, 1 },
    { "Longford", "Ballymahon", 53.5640, -7.7630, 1 },
    { "Longford", "Edgeworthstown", 53.6960, -7.6070, 1 },
    { "Louth", "Dundalk", 54.0090, -6.4049, 5 },
    { "Louth", "Drogheda", 53.7179, -6.3561, 5 },
    { "Louth", "Ardee", 53.8590, -6.5390, 2 },
    { "Louth", "Carlingford", 54.0410, -6.1880, 1 },
    { "Mayo", "Castlebar", 53.8550, -9.2988, 4 },
    { "Mayo", "Ballina", 54.1149, -9.1551, 4 },
    { "Mayo", "Westport", 53.8008, -9.5186, 3 },
    { "Mayo", "Claremorris", 53.7210, -9.0000, 2 },
    { "Mayo", "Ballinrobe", 53.6330, -9.2290, 1 },
    { "Mayo", "Belmullet", 54.2250, -9.9900, 1 },
    { "Meath", "Navan", 53.6528, -6.6814, 5 },
    { "Meath", "Trim", 53.5550, -6.7910, 2 },
    { "Meath", "Ashbourne", 53.5110, -6.3970, 3 },
    { "Meath", "Ratoath", 53.5070, -6.4640, 1 },
    { "Meath", "Dunboyne", 53.4190, -6.4750, 2 },
    { "Meath", "Kells", 53.7260, -6.8790, 2 },
    { "Monaghan", "Monaghan", 54.2492, -6.9683, 3 },
    { "Monaghan", "Carrickmacross", 53.9770, -6.7190, 2 },
    { "Monaghan", "Castleblayney", 54.1190, -6.7370, 2 },
    { "Monaghan", "Clones", 54.1790, -7.2310, 1 },
    { "Offaly", "Tullamore", 53.2739, -7.4889, 4 },
    { "Offaly", "Birr", 53.0914, -7.9133, 2 },
    { "Offaly", "Edenderry", 53.3450, -7.0490, 2 },
    { "Offaly", "Clara", 53.3420, -7.6130, 1 },
    { "Roscommon", "Roscommon", 53.6330, -8.1830, 3 },
    { "Roscommon", "Boyle", 53.9730, -8.3010, 2 },
    { "Roscommon", "Castlerea", 53.7680, -8.4900, 2 },
    { "Roscommon", "Ballaghaderreen", 53.9010, -8.5780, 1 },
    { "Sligo", "Sligo", 54.2766, -8.4761, 5 },
    { "Sligo", "Tubbercurry", 54.0560, -8.7280, 1 },
    { "Sligo", "Ballymote", 54.0890, -8.5170, 1 },
    { "Sligo", "Enniscrone", 54.2140, -9.0950, 1 },
    { "Tipperary", "Clonmel", 52.3550, -7.7039, 4 },
    { "Tipperary", "Nenagh", 52.8619, -8.1967, 3 },
    { "Tipperary", "Thurles", 52.6819, -7.8103, 3 },
    { "Tipperary", "Cashel", 52.5159, -7.8857, 2 },
    { "Tipperary", "Tipperary", 52.4736, -8.1556, 2 },
    { "Tipperary", "Carrick-on-Suir", 52.3490, -7.4130, 2 },
    { "Tipperary", "Roscrea", 52.9510, -7.8010, 2 },
    { "Waterford", "Waterford", 52.2593, -7.1101, 6 },
    { "Waterford", "Tramore", 52.1624, -7.1524, 2 },
    { "Waterford", "Dungarvan", 52.0845, -7.6397, 3 },
    { "Waterford", "Lismore", 52.1370, -7.9310, 1 },
    { "Westmeath", "Athlone", 53.4239, -7.9407, 5 },
    { "Westmeath", "Mullingar", 53.5259, -7.3381, 4 },
    { "Westmeath", "Moate", 53.3960, -7.7190, 1 },
    { "Westmeath", "Kinnegad", 53.4560, -7.1030, 2 },
    { "Wexford", "Wexford", 52.3369, -6.4633, 4 },
    { "Wexford", "Enniscorthy", 52.5008, -6.5578, 3 },
    { "Wexford", "Gorey", 52.6747, -6.2925, 3 },
    { "Wexford", "New Ross", 52.3968, -6.9366, 2 },
    { "Wexford", "Rosslare", 52.2530, -6.3390, 1 },
    { "Wicklow", "Bray", 53.2028, -6.0983, 4 },
    { "Wicklow", "Greystones", 53.1440, -6.0720, 2 },
    { "Wicklow", "Kilmacanogue", 53.1700, -6.1330, 1 },
    { "Wicklow", "Newtownmountkennedy", 53.0900, -6.1100, 1 },
    { "Wicklow", "Ashford", 53.0110, -6.1080, 1 },
    { "Wicklow", "Wicklow", 52.9808, -6.0446, 2 },
    { "Wicklow", "Arklow", 52.7977, -6.1599, 3 },
    { "Wicklow", "Blessington", 53.1700, -6.5330, 1 },
};

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
    for (const Town &t : kTowns) {
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
        for (int i = 0; i < count(kTowns); ++i) {
            const Town &t = kTowns[i];
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
            const Town &town = kTowns[townIndex];
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
