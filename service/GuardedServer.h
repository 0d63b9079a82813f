#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <string>
#include <thread>

namespace velvox::service {

struct ServerLimits {
    // From the connection (or the end of the last answer on it) to the end of
    // a request's headers. Covers the keep-alive wait too.
    std::chrono::milliseconds headers{std::chrono::seconds(20)};
    // From the end of the headers to the end of the answer: the body's upload
    // (up to 26 MB from a slow line) and the provider's own time.
    std::chrono::milliseconds request{std::chrono::seconds(180)};
    // Every connection holds a worker while it is open, so idle ones go soon.
    int keepAliveSeconds = 5;
    // A worker waits for the provider for seconds: many workers, so that a few
    // slow transcriptions do not hold up everyone's /me.
    size_t workers = 64;
};

// An HTTP server that closes a connection which sends its headers or its
// request too slowly: httplib's own time-outs bound each read, not the whole,
// so a client dribbling a byte at a time would keep a worker forever.
class GuardedServer : public httplib::Server {
  public:
    explicit GuardedServer(ServerLimits limits = {});
    ~GuardedServer() override;
    GuardedServer(const GuardedServer&) = delete;
    GuardedServer& operator=(const GuardedServer&) = delete;

    // Binds with a deep queue of connections waiting to be accepted (the
    // library's own is 5): a burst of clients is queued, not refused.
    bool bindTo(const std::string& host, int port);
    // Binds to a free port and returns it (0 when that failed).
    int bindToAnyPort(const std::string& host);

    // Run once a request's headers are in (may answer it at once) and once
    // its answer went out; the connection's deadline moves with them. An
    // answer with "Connection: close" ends its connection as it goes out.
    void checkRequests(HandlerWithResponse check);
    void logAnswers(httplib::Logger log);

  private:
    friend struct SocketHooks;
    using Clock = std::chrono::steady_clock;
    struct Connection {
        std::string peer;  // as httplib names it in remote_addr and remote_port
        Clock::time_point deadline;
        bool ending = false;  // answered with "Connection: close": ended at once
    };
    void headersArrived(const httplib::Request& request);
    void answered(const httplib::Request& request, bool closing);
    void setDeadline(const httplib::Request& request, Clock::time_point deadline,
                     bool ending = false);
    void watch();
    bool deepenQueue(bool bound);

    ServerLimits limits_;
    int listeningSocket_ = -1;
    // Guarded by the process's socket lock (see GuardedServer.cpp), which the
    // close of any socket takes too: a socket in here is open and ours.
    std::map<int, Connection> connections_;
    std::map<std::string, int> byPeer_;
    bool stopping_ = false;
    std::condition_variable changed_;
    std::thread watcher_;
};

}  // namespace velvox::service
