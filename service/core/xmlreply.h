#ifndef VELMORA_SERVICE_XMLREPLY_H
#define VELMORA_SERVICE_XMLREPLY_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace velmora {

// A station as it goes out in a reply. Prices are in cents; a missing
// price or date is written as an empty attribute.
struct StationRecord
{
    qint64 id = 0;
    QString name, brand, addr1, addr2;
    double lat = 0, lng = 0;
    bool hasPetrol = false, hasDiesel = false;
    double petrolPrice = 0, dieselPrice = 0;
    qint64 petrolUpdated = 0, dieselUpdated = 0; // seconds since the epoch, 0 = never
    double distanceKm = -1;                      // written only when >= 0
    bool retired = false;                        // off the map: answered by id, left out of lists
};

// <counties><county Name=".."/>...</counties>
QByteArray countiesDocument(const QStringList &names);
// <areas><area Name=".."/>...</areas>
QByteArray areasDocument(const QStringList &names);
// <stations><station ID=".." name=".." .../>...</stations>
QByteArray stationsDocument(const QList<StationRecord> &stations);

// A stations document is head + elements + tail, or `empty` when there are
// none. Replies put together from elements rendered ahead of time use these
// pieces, so they are the bytes stationsDocument() would write.
struct StationsDocumentParts
{
    QByteArray head, tail, empty;
};
const StationsDocumentParts &stationsDocumentParts();
// Each station's element as stationsDocument() writes it, but without its
// closing "/>" (so a Distance attribute can follow), in the input order. The
// distances of the input are ignored.
QList<QByteArray> renderStationElements(const QList<StationRecord> &stations);

// The credit the map's licence asks for wherever its data is shown.
inline constexpr char kMapCredit[] = "\u00a9 OpenStreetMap contributors, ODbL https://www.openstreetmap.org/copyright";
inline constexpr char kMapCreditHeader[] = "X-Data-Credit";
// The document with the credit as a comment ahead of its root element.
QByteArray withCreditComment(const QByteArray &document);

// "yyyy-MM-dd hh:mm:ss" in local time, or "" for 0. The local time zone is
// looked up once per process, not once per value.
QString formatLocalTime(qint64 secsSinceEpoch);
// Cents with one decimal, e.g. "179.9".
QString formatPrice(double cents);

} // namespace velmora

#endif
