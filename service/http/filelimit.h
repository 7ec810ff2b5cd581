#ifndef VELMORA_SERVICE_FILELIMIT_H
#define VELMORA_SERVICE_FILELIMIT_H

namespace velmora {

// Raises the soft limit on open files to the hard one and returns how many
// connections fit below it with room kept for the database, the log, the
// listener and pipes: at most `wanted`.
int connectionsWithinFileLimit(int wanted);

} // namespace velmora

#endif
