#ifndef VELMORA_TESTS_OSMTESTMAP_H
#define VELMORA_TESTS_OSMTESTMAP_H

// A small map made by the tests: nodes, ways and relations with tags,
// written as an OpenStreetMap XML file or as the Overpass API's JSON reply
// (stations with their centre, boundaries with their geometry).

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QXmlStreamWriter>

using Tags = QList<QPair<QString, QString>>;

class OsmTestMap
{
public:
    struct Node { double lat, lng; Tags tags; };
    struct Way { QList<qint64> nodes; Tags tags; };
    struct Member { char type; qint64 ref; QString role; };
    struct Relation { QList<Member> members; Tags tags; };

    qint64 node(qint64 id, double lat, double lng, const Tags &tags = {})
    {
        m_nodes.insert(id, { lat, lng, tags });
        return id;
    }
    qint64 way(qint64 id, const QList<qint64> &nodes, const Tags &tags = {})
    {
        m_ways.insert(id, { nodes, tags });
        return id;
    }
    void relation(qint64 id, const QList<Member> &members, const Tags &tags)
    {
        m_relations.insert(id, { members, tags });
    }
    void remove(char type, qint64 id)
    {
        if (type == 'n')
            m_nodes.remove(id);
        else if (type == 'w')
            m_ways.remove(id);
        else
            m_relations.remove(id);
    }
    Node &nodeAt(qint64 id) { return m_nodes[id]; }

    // A closed way around the box, its corner nodes numbered from id * 10.
    qint64 box(qint64 id, double lat0, double lat1, double lng0, double lng1, const Tags &tags = {})
    {
        const qint64 n = id * 10;
        node(n, lat0, lng0);
        node(n + 1, lat0, lng1);
        node(n + 2, lat1, lng1);
        node(n + 3, lat1, lng0);
        return way(id, { n, n + 1, n + 2, n + 3, n }, tags);
    }
    // A county boundary made of closed ways: outer rings, then inner rings.
    void county(qint64 id, const QList<qint64> &outer, const QList<qint64> &inner, Tags tags)
    {
        QList<Member> members;
        for (qint64 w : outer)
            members.append({ 'w', w, QStringLiteral("outer") });
        for (qint64 w : inner)
            members.append({ 'w', w, QStringLiteral("inner") });
        tags += Tags { { "type", "boundary" }, { "boundary", "administrative" }, { "admin_level", "6" } };
        relation(id, members, tags);
    }

    // With a timestamp on every object, or (overpassBase) none on them
    // and the time of the data in <meta osm_base> as the Overpass API does.
    bool writeXml(const QString &path, const QString &timestamp = QString(), bool overpassBase = false) const
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        QXmlStreamWriter w(&file);
        w.writeStartDocument();
        w.writeStartElement("osm");
        w.writeAttribute("version", "0.6");
        if (overpassBase) {
            w.writeEmptyElement("meta");
            w.writeAttribute("osm_base", timestamp);
        }
        auto start = [&](const char *element, qint64 id) {
            w.writeStartElement(element);
            w.writeAttribute("id", QString::number(id));
            w.writeAttribute("version", "1");
            if (!timestamp.isEmpty() && !overpassBase)
                w.writeAttribute("timestamp", timestamp);
        };
        auto tags = [&](const Tags &list) {
            for (const auto &[k, v] : list) {
                w.writeEmptyElement("tag");
                w.writeAttribute("k", k);
                w.writeAttribute("v", v);
            }
        };
        for (auto n = m_nodes.begin(); n != m_nodes.end(); ++n) {
            start("node", n.key());
            w.writeAttribute("lat", QString::number(n->lat, 'f', 7));
            w.writeAttribute("lon", QString::number(n->lng, 'f', 7));
            tags(n->tags);
            w.writeEndElement();
        }
        for (auto way = m_ways.begin(); way != m_ways.end(); ++way) {
            start("way", way.key());
            for (qint64 ref : way->nodes) {
                w.writeEmptyElement("nd");
                w.writeAttribute("ref", QString::number(ref));
            }
            tags(way->tags);
            w.writeEndElement();
        }
        for (auto r = m_relations.begin(); r != m_relations.end(); ++r) {
            start("relation", r.key());
            for (const Member &m : r->members) {
                w.writeEmptyElement("member");
                w.writeAttribute("type", m.type == 'n' ? "node" : m.type == 'w' ? "way" : "relation");
                w.writeAttribute("ref", QString::number(m.ref));
                w.writeAttribute("role", m.role);
            }
            tags(r->tags);
            w.writeEndElement();
        }
        w.writeEndDocument();
        return true;
    }

    // What `[out:json]; (nwr[amenity=fuel]; node[place]; rel[boundary=administrative];); out center;`
    // and `out geom;` for the boundaries answer.
    bool writeOverpassJson(const QString &path, const QString &osmBase) const
    {
        QJsonArray elements;
        auto tagObject = [](const Tags &list) {
            QJsonObject o;
            for (const auto &[k, v] : list)
                o.insert(k, v);
            return o;
        };
        auto point = [&](qint64 id) {
            const Node &n = m_nodes[id];
            return QJsonObject { { "lat", n.lat }, { "lon", n.lng } };
        };
        auto centre = [&](const QList<qint64> &nodes) {
            double lat = 0, lng = 0;
            for (int i = 0; i + 1 < nodes.size(); ++i) {
                lat += m_nodes[nodes[i]].lat;
                lng += m_nodes[nodes[i]].lng;
            }
            return QJsonObject { { "lat", lat / (nodes.size() - 1) }, { "lon", lng / (nodes.size() - 1) } };
        };
        for (auto n = m_nodes.begin(); n != m_nodes.end(); ++n) {
            if (n->tags.isEmpty())
                continue;
            QJsonObject o = point(n.key());
            o.insert("type", "node");
            o.insert("id", n.key());
            o.insert("tags", tagObject(n->tags));
            elements.append(o);
        }
        for (auto way = m_ways.begin(); way != m_ways.end(); ++way) {
            if (way->tags.isEmpty())
                continue;
            elements.append(QJsonObject { { "type", "way" }, { "id", way.key() }, { "center", centre(way->nodes) },
                                          { "tags", tagObject(way->tags) } });
        }
        for (auto r = m_relations.begin(); r != m_relations.end(); ++r) {
            QJsonObject o { { "type", "relation" }, { "id", r.key() }, { "tags", tagObject(r->tags) } };
            QJsonArray members;
            for (const Member &m : r->members) {
                QJsonArray geometry;
                for (qint64 n : m_ways[m.ref].nodes)
                    geometry.append(point(n));
                members.append(QJsonObject { { "type", "way" }, { "ref", m.ref }, { "role", m.role },
                                             { "geometry", geometry } });
                if (o.value("center").isUndefined() && m.role == "outer")
                    o.insert("center", centre(m_ways[m.ref].nodes));
            }
            const bool boundary = std::any_of(r->tags.begin(), r->tags.end(),
                                              [](const auto &t) { return t.first == "boundary"; });
            if (boundary) {
                o.remove("center");
                o.insert("members", members);
            }
            elements.append(o);
        }
        QJsonObject root { { "version", 0.6 }, { "generator", "Overpass API" },
                           { "osm3s", QJsonObject { { "timestamp_osm_base", osmBase } } }, { "elements", elements } };
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(root).toJson()) > 0;
    }

private:
    QMap<qint64, Node> m_nodes;
    QMap<qint64, Way> m_ways;
    QMap<qint64, Relation> m_relations;
};

#endif
