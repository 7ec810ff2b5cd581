#ifndef VELMORA_SERVICE_COMMANDS_H
#define VELMORA_SERVICE_COMMANDS_H

#include <QStringList>

namespace velmora::commands {

// Each command of `velmora-service COMMAND ...` takes its arguments with the
// program and command names as the first one ("velmora-service user") and
// returns the process's exit status. The QCoreApplication exists already.
int serve(const QStringList &arguments);
int user(const QStringList &arguments);
// Loads the filling stations of OpenStreetMap files into the database.
int import(const QStringList &arguments);
// Lists and moderates the price reports.
int reports(const QStringList &arguments);

} // namespace velmora::commands

#endif
