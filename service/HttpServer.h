#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "HttpMessage.h"

namespace velvox::service {

struct ServerLimits {
    // From the connection (or the end of the last answer on it) to the end of
    // a request's headers: the keep-alive wait too.
    std::chrono::milliseconds headers{std::chrono::seconds(20)};
    // From the end of the headers to the end of the body (up to 26 MB from a
    // slow line). The handler's own time is not counted.
    std::chrono::milliseconds body{std::chrono::seconds(180)};
    // For an answer to go out.
    std::chrono::milliseconds answer{std::chrono::seconds(30)};
    // The request line and every header line together.
    size_t headerBytes = 16 * 1024;
    // The body of a path no route takes.
    size_t otherBodies = 4 * 1024;
    // Connections open at once, in all and from one address; a waiting
    // connection costs a socket and a few kilobytes, no thread.
    size_t connections = 16384;
    size_t connectionsPerClient = 256;
    // Threads that read the connections and run the quick routes (a store
    // read), and threads for the routes that wait on a provider or a mail
    // server, so that slow transcriptions never hold up an account check.
    size_t workers = 8;
    size_t slowWorkers = 64;
};

// The work of a route: quick ones read the store, slow ones wait on others.
enum class RouteWork { quick, slow };

// An HTTP/1.1 server on its own threads. It enforces its limits before any
// route runs: header size, each path's body size (declared or chunked),
// the time for headers and body, connections per client; a request it
// refuses ends its connection, so that nothing after it is read as another.
class HttpServer {
  public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    // Sees a request once its headers are in (without the body); true when
    // it answered it.
    using Check = std::function<bool(const HttpRequest&, HttpResponse&)>;
    using AnswerLog = std::function<void(const HttpRequest&, const HttpResponse&)>;
    using FailureAnswer = std::function<void(std::exception_ptr, HttpResponse&)>;

    explicit HttpServer(ServerLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    void route(const std::string& method, const std::string& path, size_t bodyLimit,
               RouteWork work, Handler handler);
    void checkHeaders(Check check);
    void logAnswers(AnswerLog log);
    // The answer to a request whose handler threw (after the log line).
    void answerFailures(FailureAnswer answer);
    // A reverse proxy carries many clients on its connections: no per-client limit.
    void trustProxy(const std::string& address);

    // Binds to `port` (0: a free one); the port bound, 0 when that failed.
    int bind(const std::string& host, int port);
    // Serves on threads of its own until stop() or, after stopOnSignals(),
    // SIGINT or SIGTERM.
    void start();
    void stopOnSignals();
    void wait();
    void stop();

    // What the limits refused since the start, by reason; for tests and the log.
    std::map<std::string, size_t> refusals() const;

    // The server's inside, kept in HttpServer.cpp.
    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace velvox::service
