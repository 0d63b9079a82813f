#include "GuardedServer.h"

#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ServiceLog.h"

namespace velvox::service {

namespace {

// The peer as httplib names it in Request::remote_addr and remote_port.
std::string peerOf(int sock) {
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

std::mutex listenersMutex;
std::map<int, velvox::service::GuardedServer*> listeners;

}  // namespace

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
        answered(request);
        log(request, response);
    });
}

GuardedServer::~GuardedServer() {
    {
        std::lock_guard lock(listenersMutex);
        if (auto found = listeners.find(listeningSocket_);
            found != listeners.end() && found->second == this)
            listeners.erase(found);
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    watcher_.join();
}

bool GuardedServer::deepenQueue(bool bound) {
    // Listening again on a listening socket only changes its queue's length.
    if (!bound || ::listen(listeningSocket_, SOMAXCONN) != 0) return false;
    std::lock_guard lock(listenersMutex);
    listeners[listeningSocket_] = this;
    return true;
}

bool GuardedServer::bindTo(const std::string& host, int port) {
    return deepenQueue(bind_to_port(host.c_str(), port));
}

int GuardedServer::bindToAnyPort(const std::string& host) {
    int port = bind_to_any_port(host.c_str());
    return deepenQueue(port > 0) ? port : 0;
}

void GuardedServer::accepted(int listener, int sock) {
    std::lock_guard lock(listenersMutex);
    if (auto found = listeners.find(listener); found != listeners.end())
        found->second->watchConnection(sock);
}

void GuardedServer::watchConnection(int sock) {
    std::string peer = peerOf(sock);
    struct stat info {};
    if (peer.empty() || ::fstat(sock, &info) != 0) return;
    std::lock_guard lock(mutex_);
    connections_[peer] = {sock, info.st_ino, Clock::now() + limits_.headers};
    changed_.notify_all();
}

void GuardedServer::setDeadline(const httplib::Request& request, Clock::time_point deadline) {
    std::lock_guard lock(mutex_);
    auto found = connections_.find(request.remote_addr + " " + std::to_string(request.remote_port));
    if (found != connections_.end()) found->second.deadline = deadline;
}

void GuardedServer::headersArrived(const httplib::Request& request) {
    setDeadline(request, Clock::now() + limits_.request);
}

void GuardedServer::answered(const httplib::Request& request) {
    setDeadline(request,
                Clock::now() + std::chrono::seconds(limits_.keepAliveSeconds) + limits_.headers);
}

void GuardedServer::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        auto next = Clock::now() + std::chrono::seconds(1);
        for (auto entry = connections_.begin(); entry != connections_.end();) {
            Connection& connection = entry->second;
            struct stat info {};
            // The worker closed it (and the number may belong to something else now).
            bool gone = ::fstat(connection.sock, &info) != 0 || info.st_ino != connection.inode;
            if (!gone && connection.deadline <= Clock::now()) {
                // Wakes the worker from its read; it then closes the connection.
                ::shutdown(connection.sock, SHUT_RDWR);
                ServiceLog::write("closed a connection that was too slow");
                gone = true;
            }
            if (gone) {
                entry = connections_.erase(entry);
            } else {
                next = std::min(next, connection.deadline);
                ++entry;
            }
        }
        changed_.wait_until(lock, next);
    }
}

}  // namespace velvox::service

// httplib accepts connections inside its own library and hands them to a
// worker without a hook; taking the symbol here is the one place to learn
// each connection's socket. Every other caller goes straight through.
extern "C" int accept(int listener, sockaddr* address, socklen_t* length) {
    using Accept = int (*)(int, sockaddr*, socklen_t*);
    static const auto next = reinterpret_cast<Accept>(::dlsym(RTLD_NEXT, "accept"));
    int sock = next(listener, address, length);
    if (sock >= 0) velvox::service::GuardedServer::accepted(listener, sock);
    return sock;
}
