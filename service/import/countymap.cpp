#include "countymap.h"

#include <algorithm>
#include <cstring>
#include <cmath>
#include <limits>

namespace velmora {

namespace {

// Lower case, without accents, dashes as blanks, blanks collapsed: the
// spellings of one name on the map and in the list compare equal.
QString comparable(const QString &name)
{
    QString out;
    for (const QChar c : name.normalized(QString::NormalizationForm_D)) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        if (c.category() == QChar::Punctuation_Dash || c == QLatin1Char('.'))
            out.append(QLatin1Char(' '));
        else
            out.append(c.toLower());
    }
    return out.simplified();
}

QString withoutAffixes(QString name)
{
    static const char *const kPrefixes[] = { "county ", "co " };
    static const char *const kSuffixes[] = { " city and county council", " city and county", " county council",
                                             " city council", " county", " city" };
    for (const char *prefix : kPrefixes) {
        if (name.startsWith(QLatin1String(prefix)))
            name = name.mid(qsizetype(std::strlen(prefix)));
    }
    for (const char *suffix : kSuffixes) {
        if (name.endsWith(QLatin1String(suffix)))
            name.chop(qsizetype(std::strlen(suffix)));
    }
    return name;
}

bool inRing(const std::vector<GeoPoint> &ring, GeoPoint p)
{
    bool inside = false;
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const GeoPoint &a = ring[i], &b = ring[j];
        if ((a.lat > p.lat) != (b.lat > p.lat)
            && p.lng < (b.lng - a.lng) * (p.lat - a.lat) / (b.lat - a.lat) + a.lng)
            inside = !inside;
    }
    return inside;
}

double ringArea(const std::vector<GeoPoint> &ring)
{
    double twice = 0;
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++)
        twice += ring[j].lng * ring[i].lat - ring[i].lng * ring[j].lat;
    return std::abs(twice) / 2.0;
}

} // namespace

QString foldCountyName(const QString &name, const QString &nameEn, const QStringList &counties)
{
    // The councils of the Dublin area carry no county in their names.
    static const char *const kDublinCouncils[] = { "fingal", "south dublin", "dun laoghaire rathdown" };
    for (const QString &candidate : { nameEn, name }) {
        const QString folded = comparable(candidate);
        if (folded.isEmpty())
            continue;
        const QString bare = withoutAffixes(folded);
        for (const char *council : kDublinCouncils) {
            if (bare == QLatin1String(council) || folded == QLatin1String(council))
                return counties.contains(QStringLiteral("Dublin")) ? QStringLiteral("Dublin") : QString();
        }
        for (const QString &county : counties) {
            const QString own = comparable(county);
            if (bare == own || folded == own)
                return county;
        }
    }
    return QString();
}

CountyMap::CountyMap(const std::vector<OsmBoundary> &boundaries, const QStringList &counties)
{
    for (const OsmBoundary &boundary : boundaries) {
        const QString county = foldCountyName(boundary.name, boundary.nameEn, counties);
        if (county.isEmpty())
            continue;
        for (const BoundaryPiece &piece : boundary.pieces) {
            if (piece.outer.size() < 4)
                continue;
            Shape shape { county, piece, 90, -90, 180, -180, ringArea(piece.outer) };
            for (const GeoPoint &p : piece.outer) {
                shape.minLat = std::min(shape.minLat, p.lat);
                shape.maxLat = std::max(shape.maxLat, p.lat);
                shape.minLng = std::min(shape.minLng, p.lng);
                shape.maxLng = std::max(shape.maxLng, p.lng);
            }
            for (const auto &inner : piece.inners)
                shape.area -= ringArea(inner);
            m_shapes.push_back(std::move(shape));
        }
    }
}

QStringList CountyMap::covered() const
{
    QStringList out;
    for (const Shape &shape : m_shapes) {
        if (!out.contains(shape.county))
            out << shape.county;
    }
    return out;
}

QString CountyMap::countyAt(GeoPoint p) const
{
    const Shape *best = nullptr;
    for (const Shape &shape : m_shapes) {
        if (p.lat < shape.minLat || p.lat > shape.maxLat || p.lng < shape.minLng || p.lng > shape.maxLng)
            continue;
        if (best && shape.area >= best->area)
            continue;
        if (!inRing(shape.piece.outer, p))
            continue;
        if (std::any_of(shape.piece.inners.begin(), shape.piece.inners.end(),
                        [&](const auto &inner) { return inner.size() >= 4 && inRing(inner, p); }))
            continue;
        best = &shape;
    }
    return best ? best->county : QString();
}

} // namespace velmora
