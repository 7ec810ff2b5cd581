// The thread that follows other instances' price changes (PostgreSQL).

#ifndef VELMORA_SERVICE_STORE_CHANGEFEED_H
#define VELMORA_SERVICE_STORE_CHANGEFEED_H

#include "store.h"

#include <QThread>

namespace velmora {

class Store::Follower
{
public:
    QThread *thread = nullptr;
    ~Follower()
    {
        thread->quit();
        thread->wait();
        delete thread;
    }
};

} // namespace velmora

#endif
