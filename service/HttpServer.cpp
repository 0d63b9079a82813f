#include "HttpServer.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cctype>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace velvox::service {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

struct Route {
    std::string method, path;
    size_t bodyLimit = 0;
    RouteWork work = RouteWork::quick;
    HttpServer::Handler handler;
};

// The address as the routes and the limits name it: an IPv4 client of a
// dual-stack socket by its IPv4 address.
std::string addressText(const tcp::endpoint& endpoint) {
    auto address = endpoint.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

}  // namespace

struct HttpServer::State {
    explicit State(ServerLimits given) : limits(given) {}

    ServerLimits limits;
    std::vector<Route> routes;
    Check check;
    AnswerLog log;
    FailureAnswer failure;
    std::string trustedProxy;

    mutable std::mutex mutex;  // guards what follows
    size_t open = 0;
    std::map<std::string, size_t> perClient;
    std::map<std::string, size_t> refused;

    // Destroyed after the pools: a task left in a pool holds a connection,
    // whose socket needs the I/O context to close.
    asio::io_context io;
    // The acceptor and its pause are used from whichever I/O thread runs
    // their handlers, and closed from stop(): one strand for them all.
    asio::strand<asio::io_context::executor_type> accepting{asio::make_strand(io)};
    tcp::acceptor acceptor{accepting};
    asio::steady_timer acceptPause{accepting};
    asio::signal_set signals{io};
    std::vector<std::thread> ioThreads;
    std::optional<asio::thread_pool> slow;

    const Route* routeFor(const std::string& path, const std::string& method) const {
        for (const auto& route : routes)
            if (route.path == path && route.method == method) return &route;
        return nullptr;
    }
    // Judged before the method matters: the most any route of the path takes.
    size_t bodyLimitFor(const std::string& path) const {
        size_t limit = 0;
        bool known = false;
        for (const auto& route : routes)
            if (route.path == path) limit = std::max(limit, route.bodyLimit), known = true;
        return known ? limit : limits.otherBodies;
    }
    void count(const std::string& reason) {
        std::lock_guard lock(mutex);
        ++refused[reason];
    }
    void accept();
    void admit(tcp::socket socket);
    void closed(const std::string& client) {
        std::lock_guard lock(mutex);
        --open;
        if (--perClient[client] == 0) perClient.erase(client);
    }
};

namespace {

// One client connection: its requests one after another, read without a
// thread of its own; only a route's handler runs on a worker.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(HttpServer::State& state, tcp::socket socket, std::string client)
        : state_(state),
          stream_(std::move(socket)),
          buffer_(state.limits.headerBytes + 64 * 1024),
          client_(std::move(client)) {}
    ~Connection() { state_.closed(client_); }

    void readHeaders() {
        // Until its head is read, a request has no method or path: a refusal
        // is logged without the last request's.
        request_ = {};
        request_.remoteAddress = client_;
        parser_.emplace();
        parser_->header_limit(static_cast<uint32_t>(state_.limits.headerBytes));
        // The path's own limit is set once the headers are in.
        parser_->body_limit(std::numeric_limits<uint64_t>::max());
        stream_.expires_after(state_.limits.headers);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code error, size_t) {
                                    self->headersRead(error);
                                });
    }

  private:
    void headersRead(beast::error_code error) {
        if (error) return readFailed(error);
        const auto& header = parser_->get();
        HeaderLines lines;
        for (const auto& field : header)
            lines.emplace_back(std::string(field.name_string()), std::string(field.value()));
        request_ = requestFromHead(std::string(header.method_string()),
                                   std::string_view(header.target().data(), header.target().size()),
                                   std::move(lines));
        request_.remoteAddress = client_;
        keepAlive_ = header.keep_alive();

        const size_t limit = state_.bodyLimitFor(request_.path);
        if (int status = framingRefusal(request_, limit))
            return refuse(status, status == 413 ? "body too large" : "framing");
        parser_->body_limit(limit);

        HttpResponse early;
        if (state_.check && state_.check(request_, early)) return answer(std::move(early));
        const Route* route = state_.routeFor(request_.path, request_.method);
        if (!route) {
            HttpResponse notFound;
            notFound.status = 404;
            return answer(std::move(notFound));
        }
        route_ = route;
        if (parser_->is_done()) return bodyRead({});
        if (beast::iequals(request_.header("Expect"), "100-continue")) {
            auto going = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                            11);
            return http::async_write(stream_, *going,
                                     [self = shared_from_this(), going](beast::error_code error,
                                                                        size_t) {
                                         if (error) return self->end();
                                         self->readBody();
                                     });
        }
        readBody();
    }

    void readBody() {
        stream_.expires_after(state_.limits.body);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code error, size_t) { self->bodyRead(error); });
    }

    void bodyRead(beast::error_code error) {
        if (error) return readFailed(error);
        request_.body = std::move(parser_->get().body());
        // A quick route runs here, on one of the I/O threads (the others go
        // on reading); one that waits on others gets a worker of its own.
        if (route_->work == RouteWork::quick) return answer(respond());
        asio::post(*state_.slow, [self = shared_from_this()] {
            asio::post(self->stream_.get_executor(),
                       [self, response = self->respond()]() mutable {
                           self->answer(std::move(response));
                       });
        });
    }

    HttpResponse respond() {
        HttpResponse response;
        try {
            route_->handler(request_, response);
        } catch (...) {
            response = {};
            response.status = 503;
            if (state_.failure) state_.failure(std::current_exception(), response);
        }
        return response;
    }

    void readFailed(beast::error_code error) {
        if (error == beast::error::timeout) {
            state_.count("too slow");
            return end();
        }
        if (error == http::error::end_of_stream || error == asio::error::eof ||
            error == asio::error::connection_reset || error == asio::error::operation_aborted)
            return end();
        if (error == http::error::header_limit) return refuse(431, "headers too large");
        if (error == http::error::body_limit) return refuse(413, "body too large");
        refuse(400, "malformed");
    }

    void refuse(int status, const std::string& reason) {
        state_.count(reason);
        HttpResponse response;
        response.status = status;
        const char* code = status == 413   ? "too_large"
                           : status == 431 ? "headers_too_large"
                                           : "bad_request";
        response.setContent(std::string(R"({"error":")") + code + "\"}", "application/json");
        response.setHeader("Connection", "close");
        answer(std::move(response));
    }

    // Sends the answer; the connection goes on only when the whole request
    // was read and neither side asked to close.
    void answer(HttpResponse response) {
        if (state_.log) state_.log(request_, response);
        bool close = !parser_->is_done() || !keepAlive_ ||
                     beast::iequals(response.header("Connection"), "close");
        auto message = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(response.status), 11);
        for (auto& [name, value] : response.headers)
            if (!beast::iequals(name, "Connection")) message->insert(name, value);
        message->body() = std::move(response.body);
        message->keep_alive(!close);
        message->prepare_payload();
        stream_.expires_after(state_.limits.answer);
        http::async_write(stream_, *message,
                          [self = shared_from_this(), message, close](beast::error_code error,
                                                                      size_t) {
                              if (error) return self->end();
                              if (close) return self->drainAndEnd();
                              self->readHeaders();
                          });
    }

    // Says the answer is all, then reads what the client still sends for a
    // moment without looking at it: closing with unread bytes would reset
    // the connection and could take the answer with it.
    void drainAndEnd() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(std::chrono::seconds(2));
        scratch_.resize(4096);
        drain();
    }
    void drain() {
        stream_.async_read_some(asio::buffer(scratch_.data(), scratch_.size()),
                                [self = shared_from_this()](beast::error_code error, size_t got) {
                                    self->drained_ += got;
                                    if (error || self->drained_ > (1u << 20)) return self->end();
                                    self->drain();
                                });
    }
    void end() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    HttpServer::State& state_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    HttpRequest request_;
    const Route* route_ = nullptr;
    bool keepAlive_ = true;
    size_t drained_ = 0;
    std::vector<char> scratch_;  // only while draining: idle connections are many
    std::string client_;
};

}  // namespace

void HttpServer::State::accept() {
    acceptor.async_accept(asio::make_strand(io), [this](beast::error_code error,
                                                        tcp::socket socket) {
        if (error == asio::error::operation_aborted || !acceptor.is_open()) return;
        if (error) {
            // Out of descriptors, most likely: wait for some to close
            // rather than spin on the same failure.
            count("accept failed");
            acceptPause.expires_after(std::chrono::milliseconds(100));
            return acceptPause.async_wait([this](beast::error_code) { accept(); });
        }
        admit(std::move(socket));
        accept();
    });
}

void HttpServer::State::admit(tcp::socket socket) {
    beast::error_code error;
    auto peer = socket.remote_endpoint(error);
    if (error) return;
    std::string client = addressText(peer);
    // An answer goes out in one write; waiting to fill a segment only delays it.
    socket.set_option(tcp::no_delay(true), error);
    {
        std::lock_guard lock(mutex);
        auto held = perClient.find(client);
        const size_t fromClient = held == perClient.end() ? 0 : held->second;
        if (open >= limits.connections ||
            (client != trustedProxy && fromClient >= limits.connectionsPerClient)) {
            ++refused["too many connections"];
            return;  // the socket closes as it goes
        }
        ++open;
        ++perClient[client];
    }
    std::make_shared<Connection>(*this, std::move(socket), std::move(client))->readHeaders();
}

HttpServer::HttpServer(ServerLimits limits) : state_(std::make_shared<State>(limits)) {}

HttpServer::~HttpServer() {
    stop();
    wait();
}

void HttpServer::route(const std::string& method, const std::string& path, size_t bodyLimit,
                       RouteWork work, Handler handler) {
    state_->routes.push_back({method, path, bodyLimit, work, std::move(handler)});
}

void HttpServer::checkHeaders(Check check) {
    state_->check = std::move(check);
}
void HttpServer::logAnswers(AnswerLog log) {
    state_->log = std::move(log);
}
void HttpServer::answerFailures(FailureAnswer answer) {
    state_->failure = std::move(answer);
}
void HttpServer::trustProxy(const std::string& address) {
    state_->trustedProxy = address;
}

int HttpServer::bind(const std::string& host, int port) {
    beast::error_code error;
    auto address = asio::ip::make_address(host, error);
    if (error) return 0;
    tcp::endpoint endpoint(address, static_cast<uint16_t>(port));
    auto& acceptor = state_->acceptor;
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
    if (!error) acceptor.bind(endpoint, error);
    // A deep queue: a burst of clients waits to be accepted instead of being refused.
    if (!error) acceptor.listen(4096, error);
    if (error) {
        acceptor.close(error);
        return 0;
    }
    return acceptor.local_endpoint().port();
}

void HttpServer::start() {
    State& state = *state_;
    state.slow.emplace(state.limits.slowWorkers);
    state.accept();
    for (size_t i = 0; i < state.limits.workers; ++i)
        state.ioThreads.emplace_back([&state] { state.io.run(); });
}

void HttpServer::stopOnSignals() {
    state_->signals.add(SIGINT);
    state_->signals.add(SIGTERM);
    state_->signals.async_wait([this](beast::error_code error, int) {
        if (!error) stop();
    });
}

void HttpServer::stop() {
    asio::post(state_->accepting, [state = state_.get()] {
        beast::error_code ignored;
        state->acceptor.close(ignored);
        state->acceptPause.cancel();
        state->signals.cancel(ignored);
        state->io.stop();
    });
}

void HttpServer::wait() {
    State& state = *state_;
    for (auto& thread : state.ioThreads)
        if (thread.joinable()) thread.join();
    state.ioThreads.clear();
    if (state.slow) {
        state.slow->stop();
        state.slow->join();
        state.slow.reset();
    }
}

std::map<std::string, size_t> HttpServer::refusals() const {
    std::lock_guard lock(state_->mutex);
    return state_->refused;
}

}  // namespace velvox::service
