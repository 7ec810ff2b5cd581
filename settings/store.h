#ifndef VELMORA_SETTINGS_STORE_H
#define VELMORA_SETTINGS_STORE_H

#include <QSettings>

namespace Settings {

// The store the preferences live in, in the platform's native format.
QSettings openStore();

} // namespace Settings

#endif
