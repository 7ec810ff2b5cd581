#include "platform/fonts.h"

#include <fontconfig/fontconfig.h>

#include <thread>

namespace Platform {

namespace {

// Joined at exit if nothing waited for it: an exit() before the window was
// made must not meet a running std::thread.
std::thread &reader()
{
    static struct Holder {
        std::thread thread;
        ~Holder()
        {
            if (thread.joinable())
                thread.join();
        }
    } holder;
    return holder.thread;
}

} // namespace

void startReadingFonts()
{
    if (!reader().joinable())
        reader() = std::thread([] { FcInit(); });
}

void waitForFonts()
{
    if (reader().joinable())
        reader().join();
}

} // namespace Platform
