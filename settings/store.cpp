#include "settings/store.h"

namespace Settings {

QSettings openStore()
{
    return QSettings(QStringLiteral("Orvane Software"), QStringLiteral("Velmora"));
}

} // namespace Settings
