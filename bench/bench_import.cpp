// velmora-service import on a country-sized extract, against osmium
// tags-filter selecting the same objects from the same file in the same run
// (the floor: one tool reading the file and keeping what an import needs).
//
//   bench_import [NODES] [DIR]
//
// writes DIR/extract.osm.pbf (default: 20 million nodes, in a temporary
// folder): 26 county boundaries of four ways each, ~4,000 vertices a county,
// 2,000 stations (nodes, closed ways, multipolygons), 260 places, and
// untagged nodes in ways of ten (roads and buildings) making up the rest.
// Prints wall time and peak resident memory of each program, twice.

#include <osmium/builder/attr.hpp>
#include <osmium/io/pbf_output.hpp>
#include <osmium/io/writer.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <random>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace osmium::builder::attr;
using osmium::object_id_type;

const char *const kCounties[] = { "Carlow", "Cavan", "Clare", "Cork", "Donegal", "Fingal", "Galway", "Kerry",
                                  "Kildare", "Kilkenny", "Laois", "Leitrim", "Limerick", "Longford", "Louth", "Mayo",
                                  "Meath", "Monaghan", "Offaly", "Roscommon", "Sligo", "Tipperary", "Waterford",
                                  "Westmeath", "Wexford", "Wicklow" };
constexpr int kColumns = 6;
constexpr double kLat0 = 51.5, kLng0 = -10.3, kCellLat = 0.76, kCellLng = 0.70;
constexpr int kVerticesPerSide = 1000;
constexpr int kStations = 2000, kWayStations = 200, kAreaStations = 100;
constexpr int kPlacesPerCounty = 10;
constexpr int kNodesPerFillerWay = 10;

struct Cell
{
    double lat0, lng0, lat1, lng1;
};

Cell cellOf(int county)
{
    const int row = county / kColumns, col = county % kColumns;
    return { kLat0 + row * kCellLat + 0.01, kLng0 + col * kCellLng + 0.01, kLat0 + (row + 1) * kCellLat - 0.01,
             kLng0 + (col + 1) * kCellLng - 0.01 };
}

class ExtractWriter
{
public:
    explicit ExtractWriter(const std::string &path)
        : m_writer(path, header(), osmium::io::overwrite::allow)
    {
    }
    osmium::memory::Buffer &buffer()
    {
        if (m_buffer.committed() > 8 * 1024 * 1024) {
            m_writer(std::move(m_buffer));
            m_buffer = osmium::memory::Buffer(16 * 1024 * 1024, osmium::memory::Buffer::auto_grow::yes);
        }
        return m_buffer;
    }
    void close()
    {
        m_writer(std::move(m_buffer));
        m_writer.close();
    }

private:
    static osmium::io::Header header()
    {
        osmium::io::Header h;
        h.set("generator", "bench_import");
        h.set("osmosis_replication_timestamp", "2026-11-30T08:00:00Z");
        return h;
    }
    osmium::io::Writer m_writer;
    osmium::memory::Buffer m_buffer { 16 * 1024 * 1024, osmium::memory::Buffer::auto_grow::yes };
};

long long writeExtract(const std::string &path, long long totalNodes)
{
    std::mt19937_64 random(20261130);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    ExtractWriter out(path);
    object_id_type nextNode = 1;
    auto node = [&](double lat, double lng, std::initializer_list<std::pair<const char *, const char *>> tags = {}) {
        osmium::builder::add_node(out.buffer(), _id(nextNode), _version(1), _location(lng, lat), _tags(tags));
        return nextNode++;
    };

    // Boundaries: four sides per county, wiggling a little so no two
    // vertices line up.
    std::vector<std::vector<object_id_type>> sides;
    for (int c = 0; c < 26; ++c) {
        const Cell cell = cellOf(c);
        const double corners[5][2] = { { cell.lat0, cell.lng0 }, { cell.lat0, cell.lng1 }, { cell.lat1, cell.lng1 },
                                       { cell.lat1, cell.lng0 }, { cell.lat0, cell.lng0 } };
        object_id_type first = 0, last = 0;
        for (int s = 0; s < 4; ++s) {
            std::vector<object_id_type> ids;
            if (s == 0)
                first = last = node(corners[0][0], corners[0][1]);
            ids.push_back(last);
            for (int v = 1; v < kVerticesPerSide; ++v) {
                const double t = double(v) / kVerticesPerSide;
                // Tapering to nothing at the corners keeps the sides from crossing there.
                const double wiggle = 0.004 * std::sin(v * 0.37) * std::sin(M_PI * t);
                // Across the side, never along it: the side stays a simple line.
                const double lat = corners[s][0] + (corners[s + 1][0] - corners[s][0]) * t + (s % 2 ? 0 : wiggle);
                const double lng = corners[s][1] + (corners[s + 1][1] - corners[s][1]) * t + (s % 2 ? wiggle : 0);
                ids.push_back(node(lat, lng));
            }
            last = s == 3 ? first : node(corners[s + 1][0], corners[s + 1][1]);
            ids.push_back(last);
            sides.push_back(std::move(ids));
        }
    }
    // Stations inside the counties, places, and the outlines of the
    // stations drawn as areas.
    std::vector<std::array<object_id_type, 5>> outlines;
    for (int i = 0; i < kStations; ++i) {
        const Cell cell = cellOf(i % 26);
        const double lat = cell.lat0 + 0.05 + unit(random) * (cell.lat1 - cell.lat0 - 0.1);
        const double lng = cell.lng0 + 0.05 + unit(random) * (cell.lng1 - cell.lng0 - 0.1);
        if (i < kStations - kWayStations - kAreaStations) {
            node(lat, lng, { { "amenity", "fuel" }, { "name", "Station" }, { "brand", "Maxol" } });
            continue;
        }
        std::array<object_id_type, 5> ring;
        ring[0] = node(lat, lng);
        ring[1] = node(lat, lng + 0.0004);
        ring[2] = node(lat + 0.0003, lng + 0.0004);
        ring[3] = node(lat + 0.0003, lng);
        ring[4] = ring[0];
        outlines.push_back(ring);
    }
    for (int c = 0; c < 26; ++c) {
        const Cell cell = cellOf(c);
        for (int p = 0; p < kPlacesPerCounty; ++p)
            node(cell.lat0 + unit(random) * (cell.lat1 - cell.lat0), cell.lng0 + unit(random) * (cell.lng1 - cell.lng0),
                 { { "place", p == 0 ? "town" : "village" }, { "name", "Place" } });
    }
    const object_id_type fillerFrom = nextNode;
    while (nextNode <= totalNodes)
        node(kLat0 + unit(random) * 5 * kCellLat, kLng0 + unit(random) * kColumns * kCellLng);

    object_id_type nextWay = 1;
    for (const auto &side : sides)
        osmium::builder::add_way(out.buffer(), _id(nextWay++), _version(1), _nodes(side));
    const object_id_type outlineWays = nextWay;
    for (size_t i = 0; i < outlines.size(); ++i) {
        const bool alone = i < size_t(kWayStations);
        osmium::builder::add_way(out.buffer(), _id(nextWay++), _version(1), _nodes(outlines[i]),
                                 _tag(alone ? "amenity" : "area", alone ? "fuel" : "yes"));
    }
    for (object_id_type n = fillerFrom; n + kNodesPerFillerWay <= nextNode; n += kNodesPerFillerWay) {
        std::vector<object_id_type> ids;
        for (int k = 0; k < kNodesPerFillerWay; ++k)
            ids.push_back(n + k);
        osmium::builder::add_way(out.buffer(), _id(nextWay++), _version(1), _nodes(ids),
                                 _tag((n / kNodesPerFillerWay) % 3 ? "building" : "highway", "yes"));
    }

    object_id_type nextRelation = 1;
    for (int c = 0; c < 26; ++c) {
        std::vector<member_type> members;
        for (int s = 0; s < 4; ++s)
            members.emplace_back(osmium::item_type::way, object_id_type(c * 4 + s + 1), "outer");
        const std::string name = std::string(c == 5 ? "" : "County ") + kCounties[c];
        osmium::builder::add_relation(out.buffer(), _id(nextRelation++), _version(1), _members(members),
                                      _tag("type", "boundary"), _tag("boundary", "administrative"),
                                      _tag("admin_level", "6"), _tag("name", name));
    }
    for (int i = kWayStations; i < int(outlines.size()); ++i) {
        osmium::builder::add_relation(out.buffer(), _id(nextRelation++), _version(1),
                                      _member(osmium::item_type::way, outlineWays + i, "outer"),
                                      _tag("type", "multipolygon"), _tag("amenity", "fuel"));
    }
    out.close();
    return nextNode - 1;
}

struct Measured
{
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

Measured measure(const QStringList &command)
{
    QElapsedTimer clock;
    clock.start();
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::vector<QByteArray> bytes;
        for (const QString &arg : command)
            bytes.push_back(arg.toLocal8Bit());
        std::vector<char *> argv;
        for (QByteArray &b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    wait4(child, &status, 0, &usage);
    return { clock.nsecsElapsed() / 1e9, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1 };
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const long long nodes = argc > 1 ? std::atoll(argv[1]) : 20000000;
    QTemporaryDir temp;
    const QString dir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    const QString osmium = QStandardPaths::findExecutable(QStringLiteral("osmium"));
    if (osmium.isEmpty()) {
        std::fprintf(stderr, "bench_import: osmium (osmium-tool) is needed for the floor\n");
        return 1;
    }
    const QString extract = QDir(dir).filePath(QStringLiteral("extract.osm.pbf"));
    QElapsedTimer clock;
    clock.start();
    const long long written = writeExtract(extract.toStdString(), nodes);
    std::printf("extract: %lld nodes, %.0f MB, written in %.1f s\n", written,
                double(QFileInfo(extract).size()) / 1e6, clock.elapsed() / 1000.0);

    const QString filtered = QDir(dir).filePath(QStringLiteral("filtered.osm.pbf"));
    const QString db = QDir(dir).filePath(QStringLiteral("bench.sqlite"));
    std::printf("%-34s %10s %14s\n", "program", "wall s", "peak RSS MiB");
    for (int round = 0; round < 2; ++round) {
        const Measured floor = measure({ osmium, QStringLiteral("tags-filter"), extract, QStringLiteral("nwr/amenity=fuel"),
                                         QStringLiteral("r/boundary=administrative"),
                                         QStringLiteral("n/place=city,town,village"), QStringLiteral("-O"),
                                         QStringLiteral("-o"), filtered });
        for (const QString &suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-shm") })
            QFile::remove(db + suffix);
        const Measured import = measure({ QStringLiteral(VELMORA_SERVICE_EXECUTABLE), QStringLiteral("import"),
                                          QStringLiteral("--db"), db, extract });
        if (floor.status != 0 || import.status != 0) {
            std::fprintf(stderr, "bench_import: a program failed (floor %d, import %d)\n", floor.status, import.status);
            return 1;
        }
        std::printf("%-34s %10.2f %14.0f\n", "osmium tags-filter (floor)", floor.seconds, floor.peakKiB / 1024.0);
        std::printf("%-34s %10.2f %14.0f   %.2fx the floor's wall time\n", "velmora-service import",
                    import.seconds, import.peakKiB / 1024.0, import.seconds / floor.seconds);
        std::fflush(stdout);
    }
    return 0;
}
