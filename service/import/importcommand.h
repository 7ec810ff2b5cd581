#ifndef VELMORA_SERVICE_IMPORTCOMMAND_H
#define VELMORA_SERVICE_IMPORTCOMMAND_H

#include <QStringList>

namespace velmora {

// `velmora-service import [--db PATH|URI] [--replace-demo] FILE...`:
// reads the files, writes their stations to the database and prints what
// changed. arguments starts with "import"; defaultDatabase is used without
// --db. Returns the exit status.
int runImportCommand(const QStringList &arguments, const QString &defaultDatabase);

} // namespace velmora

#endif
