// Replies of the Overpass API in JSON: each element with its tags and, by
// the query's output mode, its position ("lat"/"lon" of a node, "center" of a
// way or relation with `out center`) or its geometry (`out geom`: a way's
// "geometry", a relation's members each with theirs).

#include "osmextract.h"
#include "progress.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace velmora {

namespace {

std::vector<GeoPoint> geometryOf(const QJsonArray &points)
{
    std::vector<GeoPoint> out;
    out.reserve(size_t(points.size()));
    for (const QJsonValue &v : points) {
        const QJsonObject p = v.toObject();
        if (p.contains(QLatin1String("lat")) && p.contains(QLatin1String("lon")))
            out.push_back({ p.value(QLatin1String("lat")).toDouble(), p.value(QLatin1String("lon")).toDouble() });
    }
    return out;
}

bool pointOf(const QJsonObject &o, GeoPoint &at)
{
    if (!o.value(QLatin1String("lat")).isDouble() || !o.value(QLatin1String("lon")).isDouble())
        return false;
    at = { o.value(QLatin1String("lat")).toDouble(), o.value(QLatin1String("lon")).toDouble() };
    return at.lat >= -90 && at.lat <= 90 && at.lng >= -180 && at.lng <= 180;
}

// Where a station element is: its own point, its centre as sent, or the
// centre of the geometry sent with it.
bool stationPosition(const QJsonObject &element, GeoPoint &at)
{
    if (pointOf(element, at))
        return true;
    if (pointOf(element.value(QLatin1String("center")).toObject(), at))
        return true;
    std::vector<GeoPoint> ring = geometryOf(element.value(QLatin1String("geometry")).toArray());
    for (const QJsonValue &m : element.value(QLatin1String("members")).toArray()) {
        const QJsonObject member = m.toObject();
        if (member.value(QLatin1String("role")).toString() != QLatin1String("inner") && ring.empty())
            ring = geometryOf(member.value(QLatin1String("geometry")).toArray());
    }
    if (ring.empty())
        return false;
    at = ringCentre(ring);
    return true;
}

void takeBoundary(const QJsonObject &element, const QJsonObject &tags, OsmExtract &extract)
{
    std::vector<OutlineWay> ways;
    for (const QJsonValue &m : element.value(QLatin1String("members")).toArray()) {
        const QJsonObject member = m.toObject();
        if (member.value(QLatin1String("type")).toString() != QLatin1String("way"))
            continue;
        const QString role = member.value(QLatin1String("role")).toString();
        if (role != QLatin1String("outer") && role != QLatin1String("inner") && !role.isEmpty())
            continue;
        const QJsonArray geometry = member.value(QLatin1String("geometry")).toArray();
        ways.push_back({ role != QLatin1String("inner"), geometryOf(geometry) });
    }
    assembleOutline(tags.value(QLatin1String("name")).toString(), tags.value(QLatin1String("name:en")).toString(),
                    ways, extract);
}

} // namespace

bool readOverpassJson(const QString &path, OsmExtract &extract, ImportProgress &progress, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error)
            *error = QStringLiteral("%1: not a JSON object (%2 at byte %3)")
                             .arg(path, parseError.errorString())
                             .arg(parseError.offset);
        return false;
    }
    const QJsonObject root = doc.object();
    if (!root.value(QLatin1String("elements")).isArray()) {
        if (error)
            *error = QStringLiteral("%1: no \"elements\" list; not an Overpass API reply").arg(path);
        return false;
    }
    progress.pass("elements");
    for (const QJsonValue &v : root.value(QLatin1String("elements")).toArray()) {
        const QJsonObject element = v.toObject();
        const QString type = element.value(QLatin1String("type")).toString();
        const QJsonObject tags = element.value(QLatin1String("tags")).toObject();
        if (type == QLatin1String("node"))
            progress.node();
        else if (type == QLatin1String("way"))
            progress.way();
        else if (type == QLatin1String("relation"))
            progress.relation();
        else
            continue;
        const QString amenity = tags.value(QLatin1String("amenity")).toString();
        if (amenity == QLatin1String("fuel")) {
            OsmStation station;
            station.type = type.at(0).toLatin1();
            station.id = qint64(element.value(QLatin1String("id")).toDouble());
            if (!stationPosition(element, station.at))
                continue;
            for (auto tag = tags.begin(); tag != tags.end(); ++tag) {
                if (isStationTag(tag.key().toUtf8().constData()))
                    station.tags.insert(tag.key(), tag.value().toString());
            }
            extract.stations.push_back(std::move(station));
            progress.station();
            continue;
        }
        if (type == QLatin1String("relation")
            && tags.value(QLatin1String("boundary")) == QLatin1String("administrative")
            && tags.value(QLatin1String("admin_level")) == QLatin1String("6")) {
            takeBoundary(element, tags, extract);
            continue;
        }
        const QString place = tags.value(QLatin1String("place")).toString();
        const QString name = tags.value(QLatin1String("name")).toString();
        GeoPoint at;
        if (type == QLatin1String("node") && !name.isEmpty() && pointOf(element, at)
            && (place == QLatin1String("city") || place == QLatin1String("town") || place == QLatin1String("village")))
            extract.places.push_back({ name, at });
    }
    const QJsonObject about = root.value(QLatin1String("osm3s")).toObject();
    const QString base = about.value(QLatin1String("timestamp_osm_base")).toString();
    const QDateTime stamp = QDateTime::fromString(base, Qt::ISODate);
    if (stamp.isValid())
        extract.timestamp = std::max(extract.timestamp, stamp.toSecsSinceEpoch());
    return true;
}

} // namespace velmora
