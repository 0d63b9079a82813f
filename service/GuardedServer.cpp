#include "GuardedServer.h"

#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

#include "ServiceLog.h"

namespace velvox::service {

// The peer as httplib names it in Request::remote_addr and remote_port.
static std::string peerOf(int sock) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return {};
    int port = address.ss_family == AF_INET6
                   ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                   : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return std::string(host) + " " + std::to_string(port);
}

// httplib accepts and closes connections inside its own library and hands
// them to a worker without a hook, so the process's accept and close are
// taken here (below): the one place to learn each connection's socket, and
// to forget it before its number can be reused. Every other socket passes
// straight through.
struct SocketHooks {
    std::mutex lock;
    std::map<int, GuardedServer*> listeners;
    std::set<GuardedServer*> servers;
    std::atomic<bool> inUse{false};

    static SocketHooks& get() {
        static SocketHooks hooks;
        return hooks;
    }
    void accepted(int listener, int sock, const std::string& peer) {
        std::lock_guard guard(lock);
        auto found = listeners.find(listener);
        if (found == listeners.end() || peer.empty()) return;
        GuardedServer& server = *found->second;
        server.connections_[sock] = {peer, GuardedServer::Clock::now() + server.limits_.headers};
        server.byPeer_[peer] = sock;
        server.changed_.notify_all();
    }
    // Called with the lock held, before the socket's number is given back.
    void closing(int sock) {
        listeners.erase(sock);
        for (GuardedServer* server : servers) {
            auto found = server->connections_.find(sock);
            if (found == server->connections_.end()) continue;
            server->byPeer_.erase(found->second.peer);
            server->connections_.erase(found);
        }
    }
};

GuardedServer::GuardedServer(ServerLimits limits) : limits_(limits) {
    set_keep_alive_timeout(limits_.keepAliveSeconds);
    set_keep_alive_max_count(1000);
    set_tcp_nodelay(true);
    new_task_queue = [workers = limits_.workers] { return new httplib::ThreadPool(workers); };
    set_socket_options([this](socket_t sock) {
        httplib::default_socket_options(sock);
        listeningSocket_ = sock;
    });
    checkRequests(
        [](const httplib::Request&, httplib::Response&) { return HandlerResponse::Unhandled; });
    logAnswers([](const httplib::Request&, const httplib::Response&) {});
    auto& hooks = SocketHooks::get();
    {
        std::lock_guard guard(hooks.lock);
        hooks.servers.insert(this);
        hooks.inUse = true;
    }
    watcher_ = std::thread([this] { watch(); });
}

void GuardedServer::checkRequests(HandlerWithResponse check) {
    set_pre_routing_handler([this, check = std::move(check)](const httplib::Request& request,
                                                             httplib::Response& response) {
        headersArrived(request);
        return check(request, response);
    });
}

void GuardedServer::logAnswers(httplib::Logger log) {
    set_logger([this, log = std::move(log)](const httplib::Request& request,
                                            const httplib::Response& response) {
        answered(request, response.get_header_value("Connection") == "close");
        log(request, response);
    });
}

GuardedServer::~GuardedServer() {
    auto& hooks = SocketHooks::get();
    {
        std::lock_guard guard(hooks.lock);
        hooks.servers.erase(this);
        std::erase_if(hooks.listeners, [this](const auto& entry) { return entry.second == this; });
        stopping_ = true;
    }
    changed_.notify_all();
    watcher_.join();
}

bool GuardedServer::deepenQueue(bool bound) {
    // Listening again on a listening socket only changes its queue's length.
    if (!bound || ::listen(listeningSocket_, SOMAXCONN) != 0) return false;
    auto& hooks = SocketHooks::get();
    std::lock_guard guard(hooks.lock);
    hooks.listeners[listeningSocket_] = this;
    return true;
}

bool GuardedServer::bindTo(const std::string& host, int port) {
    return deepenQueue(bind_to_port(host.c_str(), port));
}

int GuardedServer::bindToAnyPort(const std::string& host) {
    int port = bind_to_any_port(host.c_str());
    return deepenQueue(port > 0) ? port : 0;
}

void GuardedServer::setDeadline(const httplib::Request& request, Clock::time_point deadline,
                                bool ending) {
    std::lock_guard guard(SocketHooks::get().lock);
    auto peer = byPeer_.find(request.remote_addr + " " + std::to_string(request.remote_port));
    if (peer == byPeer_.end()) return;
    connections_[peer->second].deadline = deadline;
    connections_[peer->second].ending = ending;
}

void GuardedServer::headersArrived(const httplib::Request& request) {
    setDeadline(request, Clock::now() + limits_.request);
}

void GuardedServer::answered(const httplib::Request& request, bool closing) {
    if (closing) {
        // Whatever the client sends after a refused request (the rest of a
        // body too large to take) is neither read nor taken for a request.
        setDeadline(request, Clock::now(), true);
        changed_.notify_all();
        return;
    }
    setDeadline(request,
                Clock::now() + std::chrono::seconds(limits_.keepAliveSeconds) + limits_.headers);
}

void GuardedServer::watch() {
    auto& hooks = SocketHooks::get();
    std::unique_lock guard(hooks.lock);
    while (!stopping_) {
        auto next = Clock::now() + std::chrono::seconds(1);
        for (auto entry = connections_.begin(); entry != connections_.end();) {
            if (entry->second.deadline > Clock::now()) {
                next = std::min(next, entry->second.deadline);
                ++entry;
                continue;
            }
            // Open and ours (a close would have taken it out under this
            // lock): wakes the worker from its read, and the worker closes it.
            ::shutdown(entry->first, SHUT_RDWR);
            if (!entry->second.ending) ServiceLog::write("closed a connection that was too slow");
            byPeer_.erase(entry->second.peer);
            entry = connections_.erase(entry);
        }
        changed_.wait_until(guard, next);
    }
}

}  // namespace velvox::service

extern "C" int accept(int listener, sockaddr* address, socklen_t* length) {
    using Accept = int (*)(int, sockaddr*, socklen_t*);
    static const auto next = reinterpret_cast<Accept>(::dlsym(RTLD_NEXT, "accept"));
    int sock = next(listener, address, length);
    auto& hooks = velvox::service::SocketHooks::get();
    if (sock >= 0 && hooks.inUse) hooks.accepted(listener, sock, velvox::service::peerOf(sock));
    return sock;
}

extern "C" int close(int fd) {
    using Close = int (*)(int);
    static const auto next = reinterpret_cast<Close>(::dlsym(RTLD_NEXT, "close"));
    auto& hooks = velvox::service::SocketHooks::get();
    if (!hooks.inUse) return next(fd);
    std::lock_guard guard(hooks.lock);
    hooks.closing(fd);
    return next(fd);
}
