#ifndef VELMORA_SERVICE_SERVERSTATE_H
#define VELMORA_SERVICE_SERVERSTATE_H

#include "admission.h"
#include "httpserver.h"
#include "workerpool.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace velmora {

class Session;

// What the sessions share: the service, the limits, the pools, the
// connection registry and the io_context that runs them all.
struct HttpServer::Impl
{
    Impl(const Service &s, HttpLimits l);

    void accept();
    void admit(boost::asio::ip::tcp::socket socket);
    void beginStop();
    void waitForSessions(std::chrono::steady_clock::time_point since);
    void forget(Admission::Id id);

    // Declared first, destroyed last: sessions leave this registry when
    // they are destroyed, which can happen as late as the io_context's end.
    std::mutex sessionsMutex;
    std::unordered_map<Admission::Id, std::weak_ptr<Session>> sessions;
    Admission admission;

    const Service &service;
    const HttpLimits limits;
    boost::asio::io_context ioc;
    // The acceptor, its retry timer, the stop signals and stopping itself
    // run on this strand: the io_context has several threads.
    boost::asio::strand<boost::asio::io_context::executor_type> control;
    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::signal_set stopSignals;
    boost::asio::steady_timer stopTimer;
    boost::asio::steady_timer retryTimer;
    WorkerPool readers;
    WorkerPool database;
    HashingPool hashers;
    std::atomic<bool> stopping { false };
};

} // namespace velmora

#endif
