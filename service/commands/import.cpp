// velmora-service import FILE...: the filling stations of OpenStreetMap
// files into the database.

#include "commands.h"
#include "console.h"
#include "database.h"
#include "demodata.h"
#include "osmextract.h"
#include "progress.h"
#include "service.h"
#include "stationplan.h"
#include "store.h"

#include <QCommandLineParser>
#include <QDateTime>

#include <cstdio>

namespace velmora::commands {

namespace {

QString dataAge(qint64 timestamp)
{
    if (timestamp <= 0)
        return QStringLiteral("of unknown date");
    return QStringLiteral("as of %1")
            .arg(QDateTime::fromSecsSinceEpoch(timestamp, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'")));
}

} // namespace

int import(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Loads the filling stations (amenity=fuel) of OpenStreetMap files into the database: OSM XML "
            "(.osm, .osm.gz, .osm.bz2), PBF (.osm.pbf) or an Overpass API reply in JSON. Each file must also "
            "hold the county boundaries (boundary=administrative, admin_level=6) and the places "
            "(place=city|town|village). Stations are matched by their OpenStreetMap element, so a newer "
            "file updates them and keeps their prices, reports and watch lists; stations no longer in the "
            "files are retired. Map data \u00a9 OpenStreetMap contributors, under the ODbL "
            "(https://www.openstreetmap.org/copyright); the service credits it in every reply."));
    parser.addHelpOption();
    const QCommandLineOption dbOpt = databaseOption();
    const QCommandLineOption replaceOpt(QStringLiteral("replace-demo"),
                                        QStringLiteral("Delete the demo stations, their prices and the demo account "
                                                       "first (an import refuses while they are there)."));
    parser.addOptions({ dbOpt, replaceOpt });
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("OpenStreetMap or Overpass JSON file."),
                                 QStringLiteral("FILE..."));
    parser.process(arguments);
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        return fail(QStringLiteral("no file named; see --help"));

    QString location, error;
    if (!resolveDatabase(parser.value(dbOpt), &location, &error))
        return fail(error);
    Store store(location);
    if (!store.open(&error))
        return fail(error);
    // A new database gets the counties (and no demo stations or account).
    const Service service(store, ServiceConfig {});
    if (!populateDemoData(store, service, 0, kDemoSeed, &error))
        return fail(error);

    OsmExtract extract;
    ImportProgress progress;
    for (const QString &file : files) {
        const bool read = isOverpassJson(file) ? readOverpassJson(file, extract, progress, &error)
                                               : readOsmFile(file, extract, progress, &error);
        progress.finish();
        if (!read)
            return fail(error);
    }
    const QStringList counties = store.counties();
    if (extract.counties.empty())
        return fail(QStringLiteral("no county boundaries (boundary=administrative, admin_level=6) in the files"));
    const StationPlan plan = planStations(extract, counties);

    ImportCounts counts;
    switch (store.importStations(plan.stations, extract.timestamp, parser.isSet(replaceOpt), counts, &error)) {
    case ImportOutcome::Done:
        break;
    case ImportOutcome::DemoPresent:
        return fail(QStringLiteral("%1 holds the demo stations; real and demo stations do not mix. Run again "
                                   "with --replace-demo to delete them, their prices and the demo account.")
                            .arg(store.displayName()));
    case ImportOutcome::UnknownCounty:
        return fail(QStringLiteral("%1 lacks a county the stations are in").arg(store.displayName()));
    case ImportOutcome::Failed:
        return fail(error);
    }

    std::printf("Imported %lld stations %s into %s\n", static_cast<long long>(plan.stations.size()),
                qPrintable(dataAge(extract.timestamp)), qPrintable(store.displayName()));
    if (counts.demoRemoved > 0)
        std::printf("Demo stations removed: %d\n", counts.demoRemoved);
    std::printf("Added %d, updated %d (%d back on the map), unchanged %d, retired %d\n", counts.added,
                counts.updated, counts.returned, counts.unchanged, counts.retired);
    std::printf("Skipped %d: %d outside the State, %d repeated in another file\n",
                plan.outsideState + plan.repeated, plan.outsideState, plan.repeated);
    // A boundary missing from the files (a clipped extract, a broken
    // relation) would otherwise pass for stations across the border.
    if (!plan.withoutBoundary.isEmpty())
        std::printf("No boundary in the files for %lld counties: %s\n",
                    static_cast<long long>(plan.withoutBoundary.size()),
                    qPrintable(plan.withoutBoundary.join(QStringLiteral(", "))));
    return 0;
}

} // namespace velmora::commands
