#include "catalogue.h"

#include "geo.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace velmora {

namespace {

// About 2.2 km north-south, 1.3 km east-west in Ireland: a few hundred
// stations per cell in the densest city at 100,000 stations.
constexpr double kCellDegrees = 0.02;
constexpr qint64 kCellRows = qint64(180.0 / kCellDegrees);
constexpr qint64 kCellColumns = qint64(360.0 / kCellDegrees);
// The first circle of a search; it grows from there.
constexpr double kFirstRadiusKm = 1.0;

qint64 cellRow(double lat)
{
    return std::clamp<qint64>(qint64(std::floor((lat + 90.0) / kCellDegrees)), 0, kCellRows - 1);
}

qint64 cellColumn(double lng)
{
    return std::clamp<qint64>(qint64(std::floor((lng + 180.0) / kCellDegrees)), 0, kCellColumns - 1);
}

quint64 cellOf(double lat, double lng)
{
    return quint64(cellRow(lat) * kCellColumns + cellColumn(lng));
}

} // namespace

void Catalogue::replace(const QList<StationRecord> &stations)
{
    const QList<QByteArray> elements = renderStationElements(stations);
    Catalogue fresh;
    fresh.m_entries.reserve(size_t(stations.size()));
    for (qsizetype i = 0; i < stations.size(); ++i)
        fresh.insertLocked(stations.at(i), elements.at(i));
    std::unique_lock lock(m_lock);
    m_entries.swap(fresh.m_entries);
    m_byId.swap(fresh.m_byId);
    m_cells.swap(fresh.m_cells);
}

void Catalogue::update(const StationRecord &station)
{
    QByteArray element = renderStationElements({ station }).value(0);
    std::unique_lock lock(m_lock);
    const auto found = m_byId.constFind(station.id);
    if (found == m_byId.constEnd()) {
        insertLocked(station, std::move(element));
        return;
    }
    const int index = *found;
    Entry &entry = m_entries[size_t(index)];
    removeFromCellLocked(index);
    entry.cell = cellOf(station.lat, station.lng);
    entry.lat = station.lat;
    entry.lng = station.lng;
    entry.element = std::move(element);
    if (!station.retired)
        m_cells[entry.cell].push_back({ station.lat, station.lng, station.id, index });
}

void Catalogue::remove(qint64 id)
{
    std::unique_lock lock(m_lock);
    const auto found = m_byId.constFind(id);
    if (found == m_byId.constEnd())
        return;
    const int index = *found;
    removeFromCellLocked(index);
    m_byId.remove(id);
    // The last entry moves into the hole, so indexes stay dense.
    const int last = int(m_entries.size()) - 1;
    if (index != last) {
        Entry &moved = m_entries[size_t(last)];
        for (Point &p : m_cells[moved.cell]) {
            if (p.index == last)
                p.index = index;
        }
        m_byId[moved.id] = index;
        m_entries[size_t(index)] = std::move(moved);
    }
    m_entries.pop_back();
}

qsizetype Catalogue::size() const
{
    std::shared_lock lock(m_lock);
    return qsizetype(m_entries.size());
}

void Catalogue::insertLocked(const StationRecord &station, QByteArray element)
{
    const int index = int(m_entries.size());
    const quint64 cell = cellOf(station.lat, station.lng);
    m_entries.push_back({ station.id, station.lat, station.lng, cell, std::move(element) });
    m_byId.insert(station.id, index);
    // A retired station is still found by its id (watch lists name it) but
    // no longer near anything.
    if (!station.retired)
        m_cells[cell].push_back({ station.lat, station.lng, station.id, index });
}

void Catalogue::removeFromCellLocked(int index)
{
    const auto cell = m_cells.find(m_entries[size_t(index)].cell);
    if (cell == m_cells.end())
        return;
    std::vector<Point> &members = cell->second;
    members.erase(std::remove_if(members.begin(), members.end(), [&](const Point &p) { return p.index == index; }),
                  members.end());
    if (members.empty())
        m_cells.erase(cell);
}

template<typename Visit>
void Catalogue::forEachInBox(double lat, double lng, double radiusKm, Visit visit) const
{
    BoundingBox box = boundingBox(lat, lng, radiusKm);
    if (box.minLng < -180.0 || box.maxLng > 180.0) {
        // The circle crosses the antimeridian: take every longitude and let
        // the exact distance decide.
        box.minLng = -180.0;
        box.maxLng = 180.0;
    }
    // Cells reach beyond the box; what lies outside it is farther than the
    // radius, so it is left out before the exact distance is worked out.
    auto inBox = [&](const Point &p) {
        return p.lat >= box.minLat && p.lat <= box.maxLat && p.lng >= box.minLng && p.lng <= box.maxLng;
    };
    const qint64 row0 = cellRow(box.minLat), row1 = cellRow(box.maxLat);
    const qint64 col0 = cellColumn(box.minLng), col1 = cellColumn(box.maxLng);
    const double boxCells = double(row1 - row0 + 1) * double(col1 - col0 + 1);
    if (boxCells > double(m_cells.size())) {
        // A wide box over a sparse grid: walking the occupied cells is cheaper.
        for (const auto &[cell, members] : m_cells) {
            const qint64 row = qint64(cell) / kCellColumns, col = qint64(cell) % kCellColumns;
            if (row < row0 || row > row1 || col < col0 || col > col1)
                continue;
            for (const Point &p : members) {
                if (inBox(p))
                    visit(p);
            }
        }
        return;
    }
    for (qint64 row = row0; row <= row1; ++row) {
        for (qint64 col = col0; col <= col1; ++col) {
            const auto cell = m_cells.find(quint64(row * kCellColumns + col));
            if (cell == m_cells.end())
                continue;
            for (const Point &p : cell->second) {
                if (inBox(p))
                    visit(p);
            }
        }
    }
}

QByteArray Catalogue::nearbyDocument(double lat, double lng, double maxKm, int maxResults) const
{
    const StationsDocumentParts &parts = stationsDocumentParts();
    if (maxResults <= 0 || !(maxKm > 0))
        return parts.empty;
    struct Hit
    {
        double km;
        qint64 id;
        int index;
        bool operator<(const Hit &o) const { return km != o.km ? km < o.km : id < o.id; }
    };
    std::vector<Hit> hits;
    const size_t cap = size_t(maxResults);

    std::shared_lock lock(m_lock);
    double radius = std::min(maxKm, kFirstRadiusKm);
    for (;;) {
        hits.clear();
        forEachInBox(lat, lng, radius, [&](const Point &p) {
            const double km = haversineKm(lat, lng, p.lat, p.lng);
            if (km <= radius)
                hits.push_back({ km, p.id, p.index });
        });
        // Every station left out is farther than radius, so once the circle
        // holds the cap its nearest are the nearest overall.
        if (hits.size() >= cap || radius >= maxKm)
            break;
        // Grow towards the circle that should hold the cap at the density
        // seen so far.
        const double factor = hits.empty() ? 4.0 : std::sqrt(double(cap) / double(hits.size())) * 1.25;
        radius = std::min(maxKm, radius * std::clamp(factor, 1.5, 4.0));
    }
    const size_t keep = std::min(hits.size(), cap);
    if (keep == 0)
        return parts.empty;
    std::partial_sort(hits.begin(), hits.begin() + qsizetype(keep), hits.end());

    qsizetype bytes = parts.head.size() + parts.tail.size();
    for (size_t i = 0; i < keep; ++i)
        bytes += m_entries[size_t(hits[i].index)].element.size() + 32; // + Distance="..."/>
    QByteArray out;
    out.reserve(bytes);
    out += parts.head;
    for (size_t i = 0; i < keep; ++i) {
        out += m_entries[size_t(hits[i].index)].element;
        out += " Distance=\"";
        out += QByteArray::number(hits[i].km, 'f', 3);
        out += "\"/>";
    }
    out += parts.tail;
    return out;
}

QByteArray Catalogue::stationDocument(qint64 id) const
{
    const StationsDocumentParts &parts = stationsDocumentParts();
    std::shared_lock lock(m_lock);
    const auto found = m_byId.constFind(id);
    if (found == m_byId.constEnd())
        return parts.empty;
    return parts.head + m_entries[size_t(*found)].element + "/>" + parts.tail;
}

} // namespace velmora
