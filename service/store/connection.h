// Shared by the store's files: how database errors are told apart, the
// PostgreSQL connection a URI names, and the notification channel of price
// changes. Not part of the store's interface.

#ifndef VELMORA_SERVICE_STORE_CONNECTION_H
#define VELMORA_SERVICE_STORE_CONNECTION_H

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace velmora {

// Price changes are announced on this channel with the station id as the
// payload; every instance listens and refreshes that station.
inline const QString kStationChannel = QStringLiteral("velmora_station");
// The payload on that channel when the whole catalogue changed (an import).
inline const QString kCatalogueChanged = QStringLiteral("catalogue");

bool isBusy(const QSqlError &error);
// PostgreSQL: the connection is gone.
bool isConnectionLoss(const QSqlError &error);
// PostgreSQL: the transaction lost a race and may simply run again.
bool isSerializationFailure(const QSqlError &error);

// A new (not yet open) QPSQL connection to the database the URI names.
QSqlDatabase addPostgresConnection(const QString &uri, const QString &name);

void logError(const char *what, const QSqlError &error);

} // namespace velmora

#endif
