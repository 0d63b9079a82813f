#pragma once

// A real HTTP(S) server on 127.0.0.1 for service tests and benchmarks. It
// records every request (raw body bytes, headers) and answers from canned
// answers set per path.

#include <httplib.h>

#include <algorithm>
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
    std::string name;
    std::string filename;
    std::string contentType;
    std::string content;
};

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string body;  // empty for multipart requests: see parts
    httplib::Headers headers;
    std::vector<RecordedPart> parts;

    std::string header(const std::string& name) const {
        auto found = headers.find(name);
        return found == headers.end() ? std::string("<absent>") : found->second;
    }
    bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
    // Every header name, lower case, sorted.
    std::vector<std::string> headerNames() const {
        std::set<std::string> names;
        for (const auto& header : headers) {
            std::string name = header.first;
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            // httplib adds the addresses itself on the server side.
            if (!name.starts_with("remote_") && !name.starts_with("local_")) names.insert(name);
        }
        return {names.begin(), names.end()};
    }
};

struct CannedAnswer {
    int status = 200;
    std::string body = "{}";
    std::string contentType = "application/json";
    // Sends part of the body, then closes the connection.
    bool cutShort = false;
    // Waits this long before answering (for time-outs).
    std::chrono::milliseconds delay{0};
};

class LoopbackServer {
  public:
    explicit LoopbackServer(std::unique_ptr<httplib::Server> server = nullptr,
                            std::string scheme = "http")
        : server_(server ? std::move(server) : std::make_unique<httplib::Server>()),
          scheme_(std::move(scheme)) {
        // Without it, Nagle and delayed ACKs add 40 ms to every answer.
        server_->set_tcp_nodelay(true);
        server_->set_keep_alive_max_count(1000);
        server_->set_keep_alive_timeout(30);
        server_->new_task_queue = [this] { return new CountingQueue(accepted_); };
        auto reading = [this](const httplib::Request& request, httplib::Response& response,
                              const httplib::ContentReader& reader) {
            std::string body;
            std::vector<RecordedPart> parts;
            if (request.is_multipart_form_data()) {
                // httplib hands multipart bodies over only part by part.
                reader(
                    [&parts](const httplib::MultipartFormData& header) {
                        parts.push_back({header.name, header.filename, header.content_type, {}});
                        return true;
                    },
                    [&parts](const char* data, size_t length) {
                        parts.back().content.append(data, length);
                        return true;
                    });
            } else {
                reader([&body](const char* data, size_t length) {
                    body.append(data, length);
                    return true;
                });
            }
            handle(request, std::move(body), response, std::move(parts));
        };
        server_->Post(".*", reading);
        server_->Put(".*", reading);
        server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            handle(request, request.body, response, {});
        });
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
    }

    ~LoopbackServer() {
        // stop() only works once the accept loop runs.
        while (!server_->is_running()) std::this_thread::yield();
        server_->stop();
        thread_.join();
    }

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    std::string base() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }

    void answer(const std::string& path, CannedAnswer answer) {
        std::lock_guard lock(mutex_);
        answers_[path] = std::move(answer);
    }
    void answer(const std::string& path, int status, std::string body) {
        answer(path, CannedAnswer{.status = status, .body = std::move(body)});
    }

    std::vector<RecordedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    RecordedRequest lastRequest() const {
        std::lock_guard lock(mutex_);
        return requests_.empty() ? RecordedRequest{} : requests_.back();
    }
    // TCP connections the server accepted so far.
    int acceptedConnections() const { return accepted_.load(); }

  private:
    // Each accepted connection becomes one task: counting tasks counts connections.
    class CountingQueue final : public httplib::TaskQueue {
      public:
        explicit CountingQueue(std::atomic<int>& counter) : counter_(counter), pool_(8) {}
        void enqueue(std::function<void()> work) override {
            ++counter_;
            pool_.enqueue(std::move(work));
        }
        void shutdown() override { pool_.shutdown(); }

      private:
        std::atomic<int>& counter_;
        httplib::ThreadPool pool_;
    };

    void handle(const httplib::Request& request, std::string body, httplib::Response& response,
                std::vector<RecordedPart> parts) {
        CannedAnswer canned;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(
                {request.method, request.path, std::move(body), request.headers, std::move(parts)});
            if (auto found = answers_.find(request.path); found != answers_.end())
                canned = found->second;
        }
        if (canned.delay.count() > 0) std::this_thread::sleep_for(canned.delay);
        response.status = canned.status;
        if (canned.cutShort) {
            std::string part = canned.body.substr(0, canned.body.size() / 2);
            response.set_content_provider(canned.body.size(), canned.contentType,
                                          [part](size_t offset, size_t, httplib::DataSink& sink) {
                                              if (offset == 0) sink.write(part.data(), part.size());
                                              return offset == 0;
                                          });
        } else {
            response.set_content(canned.body, canned.contentType);
        }
    }

    std::unique_ptr<httplib::Server> server_;
    std::string scheme_;
    int port_ = -1;
    std::thread thread_;
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;
    std::map<std::string, CannedAnswer> answers_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace velvox::testing
