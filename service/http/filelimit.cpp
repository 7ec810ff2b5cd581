#include "filelimit.h"

#include <algorithm>

#include <sys/resource.h>

namespace velmora {

// Keeping the connection limit below the descriptor limit means the limit is
// reached (and room made by closing a waiting connection) before accept()
// runs out of descriptors.
int connectionsWithinFileLimit(int wanted)
{
    wanted = std::max(1, wanted);
    rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return wanted;
    if (files.rlim_cur < files.rlim_max) {
        rlimit raised = files;
        raised.rlim_cur = files.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            files = raised;
    }
    constexpr rlim_t kReserve = 64; // database, log, listener, pipes
    if (files.rlim_cur == RLIM_INFINITY)
        return wanted;
    const rlim_t room = files.rlim_cur > 2 * kReserve ? files.rlim_cur - kReserve : kReserve;
    return int(std::min<rlim_t>(rlim_t(wanted), room));
}

} // namespace velmora
