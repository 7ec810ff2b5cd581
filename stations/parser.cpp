#include "app/mainwindow.h"

#include "stations/domload.h"
#include "ui_mainwindow.h"

#include <QDomDocument>
#include <QMessageBox>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstring>

namespace {

// Elements of one tag name below the root, at any depth, in document order.
// The node list is walked once into a plain list so that later access does
// not go back to the DOM.
QList<QDomElement> elementsNamed(const QDomElement &root, const QString &tag)
{
    const QDomNodeList nodes = root.elementsByTagName(tag);
    QList<QDomElement> elements;
    const int count = nodes.length();
    elements.reserve(count);
    for (int i = 0; i < count; ++i)
        elements.append(nodes.item(i).toElement());
    return elements;
}

// The service's documents are a root with one level of elements below it; a
// reply nested far deeper, or far larger than any list of stations, is not
// one of them. Both are refused before the DOM parse, whose cost grows
// faster than the nesting depth: a hostile body of a few hundred kilobytes
// would otherwise hold the window for minutes.
constexpr int MaxDocumentDepth = 64;
constexpr qsizetype MaxDocumentBytes = 16 * 1024 * 1024;

// How deep the elements of the body nest, read from its bytes: one pass
// counting start and end tags outside comments, CDATA sections, processing
// instructions and attribute values, about twenty times faster than the XML
// reader. A tag counts as soon as its '>' is found; an empty-element tag
// counts one level too. -1 when the bytes cannot answer: text in an
// encoding that is not a superset of ASCII (UTF-16, UTF-32), or a document
// type declaration, whose entities could add elements the bytes do not
// show. In a well-formed document the count is exact; where a document stops
// being well-formed the count may go wrong, but the DOM parser stops at that
// same point.
int nestingFromBytes(const QByteArray &body)
{
    const char *p = body.constData();
    const char *const end = p + body.size();
    if (std::memchr(p, 0, size_t(std::min<qsizetype>(body.size(), 4))))
        return -1;
    auto find = [&end](const char *from, const char *what) -> const char * {
        const qsizetype length = qsizetype(std::strlen(what));
        for (const char *at = from; end - at >= length; ++at) {
            at = static_cast<const char *>(std::memchr(at, what[0], size_t(end - at)));
            if (!at || end - at < length)
                return end;
            if (std::memcmp(at, what, size_t(length)) == 0)
                return at + length;
        }
        return end;
    };
    auto startsWith = [&end](const char *at, const char *what) {
        const size_t length = std::strlen(what);
        return size_t(end - at) >= length && std::memcmp(at, what, length) == 0;
    };
    int depth = 0;
    int deepest = 0;
    while (p < end && (p = static_cast<const char *>(std::memchr(p, '<', size_t(end - p))))) {
        ++p;
        if (p == end)
            break;
        if (*p == '/') {
            --depth;
            p = find(p, ">");
        } else if (*p == '?') {
            p = find(p, "?>");
        } else if (startsWith(p, "!--")) {
            p = find(p + 3, "-->");
        } else if (startsWith(p, "![CDATA[")) {
            p = find(p + 8, "]]>");
        } else if (*p == '!') {
            return -1;
        } else {
            char quote = 0;
            const char *q = p;
            for (; q < end; ++q) {
                if (quote) {
                    if (*q == quote)
                        quote = 0;
                } else if (*q == '"' || *q == '\'') {
                    quote = *q;
                } else if (*q == '>') {
                    break;
                }
            }
            if (q == end)
                break;
            deepest = std::max(deepest, depth + 1);
            if (q[-1] != '/')
                ++depth;
            p = q + 1;
        }
    }
    return deepest;
}

// Whether the body may go to the DOM parser. The XML reader's scan, used
// when the bytes cannot tell, stops at the first element too deep; a syntax
// error ends it too, and the DOM parser, which stops at the same point, then
// finds the document unreadable.
bool withinDocumentLimits(const QByteArray &body)
{
    if (body.size() > MaxDocumentBytes)
        return false;
    const int nesting = nestingFromBytes(body);
    if (nesting >= 0)
        return nesting <= MaxDocumentDepth;
    QXmlStreamReader reader(body);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > MaxDocumentDepth)
                return false;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    return true;
}

QString ageLabelText(MainWindow *window, const QDomElement &station, const QString &fuel, bool known)
{
    if (!known)
        return QStringLiteral("age unknown");
    return QString::number(window->priceAgeDays(station, fuel)) + QStringLiteral(" days old");
}

} // namespace

// Turns the body of one reply into what the user sees. Documents are read
// leniently: a missing attribute is empty text, a malformed document simply
// contains nothing.
void MainWindow::parseReply(const QByteArray &body, int kind)
{
    if (kind == KindWatchlistChange) {
        // A bare status word, not a document; compared exactly up to the
        // first zero byte, so a trailing line break matches nothing.
        const QByteArray word(body.constData());
        if (word == "SUCCESS")
            QMessageBox::information(this, QStringLiteral("Watch List"), QStringLiteral("Added to watch list."),
                                     QMessageBox::Ok);
        else if (word == "FAILURE")
            QMessageBox::information(this, QStringLiteral("Watch List"), QStringLiteral("Already in watch list."),
                                     QMessageBox::Ok);
        else if (word == "BADLOGIN")
            QMessageBox::warning(this, QStringLiteral("Authentication failed"),
                                 QStringLiteral("Bad username and/or password. Please check them on the Settings tab."),
                                 QMessageBox::Ok);
        return;
    }
    if (kind == KindWatchlistStations && QByteArray(body.constData()) == "BADLOGIN") {
        // The service refused the credentials: an empty list would look like
        // an empty watch list.
        ui->favsTable->setRowCount(0);
        setStatus(ui->favStatus, QStringLiteral("Bad username and/or password"));
        return;
    }

    QDomDocument document(QStringLiteral("velmoradoc"));
    // A document that fails to load holds nothing: without this, the part
    // read before the error would still be found.
    if (!withinDocumentLimits(body) || !loadDomDocument(document, body))
        document.clear();
    const QDomElement root = document.documentElement();

    switch (kind) {
    case KindCounties: {
        ui->areaStatus->hide();
        ui->countyList->clear();
        // Server order is kept, and so are entries without a name.
        for (const QDomElement &county : elementsNamed(root, QStringLiteral("county")))
            ui->countyList->addItem(county.attribute(QStringLiteral("Name")));
        break;
    }
    case KindAreas: {
        // Added to what the list holds: it is cleared when a county is chosen,
        // and every area reply that arrives after that adds its names.
        const QList<QDomElement> areas = elementsNamed(root, QStringLiteral("area"));
        for (const QDomElement &area : areas) {
            const QString name = area.attribute(QStringLiteral("Name"));
            if (!name.isEmpty())
                ui->areaList->addItem(name);
        }
        if (!areas.isEmpty())
            ui->areaList->sortItems(Qt::AscendingOrder);
        break;
    }
    case KindAreaStations:
        fillStationTable(root, ui->areaStationTable);
        break;
    case KindNearbyStations:
        ui->gpsStatus->hide();
        fillStationTable(root, ui->gpsTable);
        break;
    case KindWatchlistStations:
        ui->favStatus->hide();
        fillStationTable(root, ui->favsTable);
        break;
    case KindStation: {
        // A later station element overwrites what an earlier one set; with
        // none the page keeps what it showed and the save buttons their state.
        for (const QDomElement &station : elementsNamed(root, QStringLiteral("station"))) {
            const QString petrol = QStringLiteral("petrol");
            const QString diesel = QStringLiteral("diesel");
            ui->updateStationLabel->setText(station.attribute(QStringLiteral("name")));
            ui->updateStationLabel2->setText(station.attribute(QStringLiteral("addr1")) + QLatin1Char(' ')
                                             + station.attribute(QStringLiteral("addr2")));
            ui->petrolLCD->display(double(station.attribute(QStringLiteral("petrolPrice")).toFloat()));
            ui->dieselLCD->display(double(station.attribute(QStringLiteral("dieselPrice")).toFloat()));
            ui->petrolAgeLabel->setText(ageLabelText(this, station, petrol, priceDateKnown(station, petrol)));
            ui->dieselAgeLabel->setText(ageLabelText(this, station, diesel, priceDateKnown(station, diesel)));
            ui->savePetrolButton->setEnabled(true);
            ui->saveDieselButton->setEnabled(true);
        }
        break;
    }
    default:
        break;
    }
}
