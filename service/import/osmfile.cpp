// Reading OpenStreetMap files with libosmium. A file of a whole country has
// tens of millions of node locations; only the few hundred thousand that the
// county boundaries and the station outlines use are needed, so the file is
// read three times, each pass narrowing what the next one keeps:
//   1. relations: the county boundaries and multipolygon stations, and the
//      ways they are made of;
//   2. ways: the nodes of those ways and of closed-way stations;
//   3. nodes and ways: the locations of exactly those nodes (plus the node
//      stations and places), then the ways with their locations, which
//      complete the outlines and the relations.

#include "osmextract.h"
#include "progress.h"

#include <osmium/area/assembler.hpp>
#include <osmium/builder/attr.hpp>
#include <osmium/handler.hpp>
#include <osmium/index/id_set.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/osm/area.hpp>
#include <osmium/relations/relations_manager.hpp>
#include <osmium/visitor.hpp>

#include <QFile>

#include <algorithm>
#include <cstring>
#include <exception>

namespace velmora {

namespace {

using osmium::object_id_type;
using osmium::unsigned_object_id_type;

bool isTag(const osmium::TagList &tags, const char *key, const char *value)
{
    const char *v = tags.get_value_by_key(key);
    return v && std::strcmp(v, value) == 0;
}

bool isStation(const osmium::TagList &tags)
{
    return isTag(tags, "amenity", "fuel");
}

bool isCountyBoundary(const osmium::TagList &tags)
{
    return isTag(tags, "boundary", "administrative") && isTag(tags, "admin_level", "6");
}

QString tagValue(const osmium::TagList &tags, const char *key)
{
    const char *v = tags.get_value_by_key(key);
    return v ? QString::fromUtf8(v) : QString();
}

QHash<QString, QString> stationTags(const osmium::TagList &tags)
{
    QHash<QString, QString> out;
    for (const osmium::Tag &tag : tags) {
        if (isStationTag(tag.key()))
            out.insert(QString::fromUtf8(tag.key()), QString::fromUtf8(tag.value()));
    }
    return out;
}

std::vector<GeoPoint> ringPoints(const osmium::NodeRefList &ring)
{
    std::vector<GeoPoint> out;
    out.reserve(ring.size());
    for (const osmium::NodeRef &ref : ring) {
        if (ref.location().valid())
            out.push_back({ ref.location().lat(), ref.location().lon() });
    }
    return out;
}

// The assembler keeps a reference to its configuration, so it must outlive
// every assembler.
const osmium::area::AssemblerConfig &assemblerConfig()
{
    static const osmium::area::AssemblerConfig config;
    return config;
}

// The relations of interest, kept by libosmium until their member ways have
// been seen; then each becomes an area.
class OutlineManager
        : public osmium::relations::RelationsManager<OutlineManager, false, true, false, false>
{
public:
    std::vector<object_id_type> memberWays;

    bool new_relation(const osmium::Relation &relation)
    {
        const char *type = relation.tags().get_value_by_key("type");
        if (!type || (std::strcmp(type, "multipolygon") != 0 && std::strcmp(type, "boundary") != 0))
            return false;
        if (!isCountyBoundary(relation.tags()) && !isStation(relation.tags()))
            return false;
        bool any = false;
        for (const osmium::RelationMember &member : relation.members()) {
            if (member.type() == osmium::item_type::way) {
                memberWays.push_back(member.ref());
                any = true;
            }
        }
        return any;
    }

    void complete_relation(const osmium::Relation &relation)
    {
        std::vector<const osmium::Way *> ways;
        for (const osmium::RelationMember &member : relation.members()) {
            if (member.ref() != 0 && member.type() == osmium::item_type::way)
                ways.push_back(this->get_member_way(member.ref()));
        }
        try {
            osmium::area::Assembler assembler { assemblerConfig() };
            assembler(relation, ways, this->buffer());
        } catch (const osmium::invalid_location &) {
            // A member way with a node the file does not have: no area.
        }
    }
};

// Pass 2: which nodes have to be located.
class NeededNodes : public osmium::handler::Handler
{
public:
    NeededNodes(const std::vector<object_id_type> &memberWays, ImportProgress &progress)
        : m_memberWays(memberWays), m_progress(progress)
    {
    }
    std::vector<object_id_type> ids;

    void way(const osmium::Way &way)
    {
        m_progress.way();
        if (!isStation(way.tags()) && !std::binary_search(m_memberWays.begin(), m_memberWays.end(), way.id()))
            return;
        for (const osmium::NodeRef &ref : way.nodes())
            ids.push_back(ref.ref());
    }

private:
    const std::vector<object_id_type> &m_memberWays;
    ImportProgress &m_progress;
};

// Pass 3: node stations and places, the needed locations, then the ways
// given their locations.
class Collector : public osmium::handler::Handler
{
public:
    Collector(std::vector<object_id_type> needed, OsmExtract &extract, ImportProgress &progress)
        : m_needed(std::move(needed)), m_locations(m_needed.size()), m_extract(extract), m_progress(progress)
    {
        for (const object_id_type id : m_needed)
            m_wanted.set(unsigned_object_id_type(id));
    }

    void node(const osmium::Node &node)
    {
        m_progress.node();
        noteTime(node);
        if (m_wanted.get(unsigned_object_id_type(node.id()))) {
            const auto at = std::lower_bound(m_needed.begin(), m_needed.end(), node.id());
            m_locations[size_t(at - m_needed.begin())] = node.location();
        }
        if (node.tags().empty() || !node.location().valid())
            return;
        const GeoPoint at { node.location().lat(), node.location().lon() };
        if (isStation(node.tags())) {
            m_extract.stations.push_back({ 'n', node.id(), at, stationTags(node.tags()) });
            m_progress.station();
            return;
        }
        const char *place = node.tags().get_value_by_key("place");
        const char *name = node.tags().get_value_by_key("name");
        if (place && name && *name
            && (!std::strcmp(place, "city") || !std::strcmp(place, "town") || !std::strcmp(place, "village")))
            m_extract.places.push_back({ QString::fromUtf8(name), at });
    }

    void way(osmium::Way &way)
    {
        m_progress.way();
        noteTime(way);
        for (osmium::NodeRef &ref : way.nodes()) {
            if (!m_wanted.get(unsigned_object_id_type(ref.ref())))
                continue;
            const auto at = std::lower_bound(m_needed.begin(), m_needed.end(), ref.ref());
            ref.set_location(m_locations[size_t(at - m_needed.begin())]);
        }
        if (!isStation(way.tags()))
            return;
        const std::vector<GeoPoint> points = ringPoints(way.nodes());
        if (points.empty())
            return;
        m_extract.stations.push_back({ 'w', way.id(), ringCentre(points), stationTags(way.tags()) });
        m_progress.station();
    }

    qint64 newest = 0;

private:
    void noteTime(const osmium::OSMObject &object)
    {
        newest = std::max<qint64>(newest, object.timestamp().seconds_since_epoch());
    }

    std::vector<object_id_type> m_needed;
    std::vector<osmium::Location> m_locations;
    osmium::index::IdSetDense<unsigned_object_id_type> m_wanted;
    OsmExtract &m_extract;
    ImportProgress &m_progress;
};

std::vector<BoundaryPiece> areaPieces(const osmium::Area &area)
{
    std::vector<BoundaryPiece> pieces;
    for (const osmium::OuterRing &outer : area.outer_rings()) {
        BoundaryPiece piece;
        piece.outer = ringPoints(outer);
        for (const osmium::InnerRing &inner : area.inner_rings(outer))
            piece.inners.push_back(ringPoints(inner));
        if (piece.outer.size() >= 4)
            pieces.push_back(std::move(piece));
    }
    return pieces;
}

void takeArea(const osmium::Area &area, OsmExtract &extract, ImportProgress &progress)
{
    std::vector<BoundaryPiece> pieces = areaPieces(area);
    if (pieces.empty())
        return;
    if (isStation(area.tags())) {
        // Weighted by nothing but the largest piece: a forecourt split in
        // two is rare, and its larger half is where the pumps are.
        const auto largest = std::max_element(pieces.begin(), pieces.end(), [](const auto &a, const auto &b) {
            return a.outer.size() < b.outer.size();
        });
        extract.stations.push_back({ 'r', area.orig_id(), ringCentre(largest->outer), stationTags(area.tags()) });
        progress.station();
        return;
    }
    extract.counties.push_back({ tagValue(area.tags(), "name"), tagValue(area.tags(), "name:en"), std::move(pieces) });
}

qint64 headerTime(const osmium::io::Header &header)
{
    for (const char *key : { "osmosis_replication_timestamp", "timestamp" }) {
        const std::string value = header.get(key);
        if (value.empty())
            continue;
        try {
            return osmium::Timestamp(value.c_str()).seconds_since_epoch();
        } catch (const std::exception &) {
        }
    }
    return 0;
}

// An Overpass API reply in XML names the time of its data in
// <meta osm_base="..."/> near the top, which libosmium does not read.
qint64 overpassBaseTime(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray head = file.read(4096);
    const qsizetype at = head.indexOf("osm_base=\"");
    if (at < 0 || !head.trimmed().startsWith('<'))
        return 0;
    const qsizetype from = at + qsizetype(sizeof("osm_base=\"")) - 1;
    const qsizetype to = head.indexOf('"', from);
    if (to < 0)
        return 0;
    try {
        return osmium::Timestamp(head.mid(from, to - from).toStdString()).seconds_since_epoch();
    } catch (const std::exception &) {
        return 0;
    }
}

} // namespace

bool assembleOutline(const QString &name, const QString &nameEn, const std::vector<OutlineWay> &ways,
                     OsmExtract &extract)
{
    using namespace osmium::builder::attr;
    // The assembler joins ways by their locations; shared points get one
    // node id so it sees the rings as the map draws them.
    osmium::memory::Buffer input(4096, osmium::memory::Buffer::auto_grow::yes);
    QHash<QPair<qint32, qint32>, object_id_type> nodeIds;
    std::vector<size_t> wayOffsets;
    std::vector<osmium::builder::attr::member_type> members;
    object_id_type nextWay = 1;
    for (const OutlineWay &way : ways) {
        std::vector<osmium::NodeRef> refs;
        for (const GeoPoint &p : way.points) {
            const osmium::Location at(p.lng, p.lat);
            const auto key = qMakePair(at.x(), at.y());
            auto found = nodeIds.constFind(key);
            if (found == nodeIds.constEnd())
                found = nodeIds.insert(key, object_id_type(nodeIds.size() + 1));
            refs.emplace_back(*found, at);
        }
        wayOffsets.push_back(osmium::builder::add_way(input, _id(nextWay), _nodes(refs)));
        members.emplace_back(osmium::item_type::way, nextWay, way.outer ? "outer" : "inner");
        ++nextWay;
    }
    const size_t relationOffset = osmium::builder::add_relation(
            input, _id(1), _members(members), _tag("boundary", "administrative"), _tag("admin_level", "6"),
            _tag("type", "boundary"));
    std::vector<const osmium::Way *> wayPointers;
    for (const size_t offset : wayOffsets)
        wayPointers.push_back(&input.get<osmium::Way>(offset));
    osmium::memory::Buffer output(4096, osmium::memory::Buffer::auto_grow::yes);
    osmium::area::Assembler assembler { assemblerConfig() };
    if (!assembler(input.get<osmium::Relation>(relationOffset), wayPointers, output))
        return false;
    for (const osmium::Area &area : output.select<osmium::Area>()) {
        std::vector<BoundaryPiece> pieces = areaPieces(area);
        if (pieces.empty())
            return false;
        extract.counties.push_back({ name, nameEn, std::move(pieces) });
        return true;
    }
    return false;
}

bool readOsmFile(const QString &path, OsmExtract &extract, ImportProgress &progress, QString *error)
{
    if (!QFile::exists(path)) {
        if (error)
            *error = QStringLiteral("%1: no such file").arg(path);
        return false;
    }
    try {
        const osmium::io::File file(QFile::encodeName(path).toStdString());

        progress.pass("relations");
        OutlineManager outlines;
        {
            osmium::io::Reader reader(file, osmium::osm_entity_bits::relation);
            while (osmium::memory::Buffer buffer = reader.read()) {
                for (const osmium::Relation &relation : buffer.select<osmium::Relation>()) {
                    progress.relation();
                    outlines.relation(relation);
                }
            }
            reader.close();
        }
        outlines.prepare_for_lookup();
        std::sort(outlines.memberWays.begin(), outlines.memberWays.end());

        progress.pass("ways");
        NeededNodes needed(outlines.memberWays, progress);
        {
            osmium::io::Reader reader(file, osmium::osm_entity_bits::way);
            osmium::apply(reader, needed);
            reader.close();
        }
        std::sort(needed.ids.begin(), needed.ids.end());
        needed.ids.erase(std::unique(needed.ids.begin(), needed.ids.end()), needed.ids.end());

        progress.pass("nodes and ways");
        Collector collector(std::move(needed.ids), extract, progress);
        osmium::io::Reader reader(file, osmium::osm_entity_bits::node | osmium::osm_entity_bits::way);
        qint64 stamped = headerTime(reader.header());
        if (!stamped)
            stamped = overpassBaseTime(path);
        osmium::apply(reader, collector, outlines.handler());
        reader.close();
        // A few dozen counties and stations: their areas stay in one buffer.
        const osmium::memory::Buffer areas = outlines.read();
        for (const osmium::Area &area : areas.select<osmium::Area>())
            takeArea(area, extract, progress);
        extract.timestamp = std::max(extract.timestamp, stamped ? stamped : collector.newest);
    } catch (const std::exception &e) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

} // namespace velmora
