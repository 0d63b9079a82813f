#pragma once

// A real HTTP(S) server on 127.0.0.1 for service tests and benchmarks: it
// records every request (raw body bytes, headers, multipart parts) and answers
// from canned answers set per path.

#include <httplib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace velvox::testing {

struct RecordedPart {
    std::string name, filename, contentType, content;
};

struct RecordedRequest {
    std::string method, path, body;  // body: empty for multipart requests (see parts)
    httplib::Headers headers;
    std::vector<RecordedPart> parts;

    std::string header(const std::string& name) const {
        auto found = headers.find(name);
        return found == headers.end() ? std::string("<absent>") : found->second;
    }
    bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
    // Every header name the client sent, lower case, sorted (httplib adds the
    // remote_ and local_ addresses itself).
    std::vector<std::string> headerNames() const {
        std::set<std::string> names;
        for (const auto& header : headers) {
            std::string name = header.first;
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (!name.starts_with("remote_") && !name.starts_with("local_")) names.insert(name);
        }
        return {names.begin(), names.end()};
    }
};

struct CannedAnswer {
    int status = 200;
    std::string body = "{}";
    std::string contentType = "application/json";
    bool cutShort = false;               // sends half the body, then closes the connection
    std::chrono::milliseconds delay{0};  // waits before answering (for time-outs)
    std::string location;                // sent as the Location header when set
};

class LoopbackServer {
  public:
    explicit LoopbackServer(std::unique_ptr<httplib::Server> server = nullptr,
                            std::string scheme = "http")
        : server_(server ? std::move(server) : std::make_unique<httplib::Server>()),
          scheme_(std::move(scheme)) {
        server_->set_tcp_nodelay(true);  // else Nagle and delayed ACKs add 40 ms per answer
        server_->set_keep_alive_max_count(1000);
        server_->set_keep_alive_timeout(30);
        server_->new_task_queue = [this] { return new CountingQueue(accepted_); };
        server_->Post(".*", [this](const httplib::Request& request, httplib::Response& response,
                                   const httplib::ContentReader& reader) {
            RecordedRequest recorded{request.method, request.path, {}, request.headers, {}};
            auto& parts = recorded.parts;
            if (request.is_multipart_form_data()) {  // httplib hands these over part by part
                reader(
                    [&](const httplib::MultipartFormData& part) {
                        parts.push_back({part.name, part.filename, part.content_type, {}});
                        return true;
                    },
                    [&](const char* data, size_t size) {
                        return parts.back().content.append(data, size), true;
                    });
            } else {
                reader([&](const char* data, size_t size) {
                    return recorded.body.append(data, size), true;
                });
            }
            handle(std::move(recorded), response);
        });
        server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            handle({request.method, request.path, request.body, request.headers, {}}, response);
        });
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
    }
    ~LoopbackServer() {
        while (!server_->is_running()) std::this_thread::yield();  // stop() needs the accept loop
        server_->stop();
        thread_.join();
    }

    std::string base() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }
    void answer(const std::string& path, CannedAnswer answer) {
        std::lock_guard lock(mutex_);
        answers_[path] = std::move(answer);
    }
    void answer(const std::string& path, int status, std::string body) {
        answer(path, CannedAnswer{.status = status, .body = std::move(body)});
    }
    // An answer for the next request to the path only; later ones get the path's usual answer.
    void answerOnce(const std::string& path, CannedAnswer answer) {
        std::lock_guard lock(mutex_);
        once_[path] = std::move(answer);
    }
    std::vector<RecordedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    RecordedRequest lastRequest() const {
        auto all = requests();
        return all.empty() ? RecordedRequest{} : all.back();
    }
    int acceptedConnections() const { return accepted_.load(); }  // TCP connections so far

  private:
    // Each accepted connection is one task: counting tasks counts connections.
    struct CountingQueue final : httplib::TaskQueue {
        explicit CountingQueue(std::atomic<int>& counter) : counter(counter), pool(8) {}
        void enqueue(std::function<void()> work) override {
            ++counter, pool.enqueue(std::move(work));
        }
        void shutdown() override { pool.shutdown(); }
        std::atomic<int>& counter;
        httplib::ThreadPool pool;
    };

    void handle(RecordedRequest request, httplib::Response& response) {
        std::unique_lock lock(mutex_);
        CannedAnswer canned =
            answers_.count(request.path) ? answers_[request.path] : CannedAnswer{};
        if (auto once = once_.find(request.path); once != once_.end()) {
            canned = std::move(once->second);
            once_.erase(once);
        }
        requests_.push_back(std::move(request));
        lock.unlock();
        std::this_thread::sleep_for(canned.delay);
        response.status = canned.status;
        if (!canned.location.empty()) response.set_header("Location", canned.location);
        if (!canned.cutShort) return response.set_content(canned.body, canned.contentType);
        std::string half = canned.body.substr(0, canned.body.size() / 2);
        response.set_content_provider(canned.body.size(), canned.contentType,
                                      [half](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset == 0) sink.write(half.data(), half.size());
                                          return offset == 0;
                                      });
    }

    std::unique_ptr<httplib::Server> server_;
    std::string scheme_;
    int port_ = -1;
    std::thread thread_;
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;
    std::map<std::string, CannedAnswer> answers_, once_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace velvox::testing
