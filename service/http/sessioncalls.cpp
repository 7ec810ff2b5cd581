// Handing a session's request to the worker pools: answers from memory on
// the readers' threads, database calls on the database threads under the
// database deadline, password checks on the hashing threads in between.

#include "session.h"

#include <boost/asio/post.hpp>

namespace velmora {

namespace asio = boost::asio;
namespace beast = boost::beast;

void Session::dispatch(Request request, std::string method, std::string target)
{
    using Work = Service::Work;
    const Work work = m_server.service.workFor(request);
    m_callOpen = true;
    const auto call = std::make_shared<Call>(++m_call, std::move(request), std::move(method), std::move(target));
    auto self = shared_from_this();
    const Service &service = m_server.service;
    auto answer = [self, call](const Response &r) { self->answerCall(call, r); };
    switch (work) {
    case Work::Memory:
        if (!m_server.readers.tryPost([self, call, &service] {
                Response r = service.handle(call->request);
                asio::post(self->m_stream.get_executor(), [self, call, r] { self->answerCall(call, r); });
            }))
            answerCall(call, busy());
        break;
    case Work::Database:
        onDatabase(call, [call, &service] { return service.handle(call->request); }, answer);
        break;
    case Work::PasswordCheck:
        // The account is read on a database thread, the password hashed on a
        // hashing thread (fairly by address, untimed: on a machine short of
        // processor time it may take longer than any database deadline), and
        // the rest answered on a database thread again.
        onDatabase(call, [call, &service] { return service.readLogin(call->request); },
                   [self, call](const Service::StoredLogin &stored) {
                       if (stored.decided)
                           self->answerWithLogin(call, *stored.decided);
                       else
                           self->checkPassword(call, stored);
                   });
        break;
    }
}

template<class Work, class Then>
void Session::onDatabase(const CallPtr &call, Work work, Then then)
{
    if (!isOpen(call))
        return;
    auto run = [self = shared_from_this(), call, work, then] {
        if (call->abandoned)
            return; // answered at its deadline while it waited
        auto outcome = work();
        asio::post(self->m_stream.get_executor(), [self, call, then, outcome] {
            if (!self->isOpen(call))
                return;
            self->disarmDeadline(call);
            then(outcome);
        });
    };
    if (m_server.database.tryPost(std::move(run)))
        armDeadline(call);
    else
        answerCall(call, busy());
}

void Session::answerWithLogin(const CallPtr &call, const Service::CheckedLogin &login)
{
    const Service &service = m_server.service;
    onDatabase(call, [call, login, &service] { return service.handle(call->request, login); },
               [self = shared_from_this(), call](const Response &r) { self->answerCall(call, r); });
}

void Session::checkPassword(const CallPtr &call, const Service::StoredLogin &stored)
{
    auto self = shared_from_this();
    auto run = [self, call, stored] {
        const Service::CheckedLogin login = self->m_server.service.checkPassword(call->request, stored);
        asio::post(self->m_stream.get_executor(), [self, call, login] {
            if (self->isOpen(call))
                self->answerWithLogin(call, login);
        });
    };
    // A check turned away counts as a failed login of its address, so a
    // flood cannot keep the queue full at no cost to itself.
    auto refuse = [self, call] {
        self->m_server.service.loginRefused(call->request.peer);
        asio::post(self->m_stream.get_executor(), [self, call] { self->answerCall(call, busy()); });
    };
    m_server.hashers.post({ call->request.peer, std::move(run), std::move(refuse) });
}

// The answer of an unreachable database, given at the deadline; the
// worker's own answer, if it comes later, is dropped.
void Session::armDeadline(const CallPtr &call)
{
    if (!isOpen(call))
        return;
    const std::uint64_t arming = ++m_deadlineArming;
    m_callTimer.expires_after(m_server.limits.databaseDeadline);
    m_callTimer.async_wait([self = shared_from_this(), call, arming](beast::error_code ec) {
        if (ec || arming != self->m_deadlineArming)
            return;
        call->abandoned = true;
        self->answerCall(call, self->m_server.service.unavailable(call->request));
    });
}

void Session::disarmDeadline(const CallPtr &call)
{
    if (!isOpen(call))
        return;
    ++m_deadlineArming;
    m_callTimer.cancel();
}

void Session::answerCall(const CallPtr &call, const Response &r)
{
    if (!isOpen(call))
        return;
    m_callOpen = false;
    ++m_deadlineArming;
    m_callTimer.cancel();
    reply(r, call->method, call->target);
}

} // namespace velmora
