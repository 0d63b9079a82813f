#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/HttpClient.h"

namespace velvox::testing {

// An HTTP client that sends nothing: requests are kept, and completions wait for the test's
// answers, oldest first, run on the test's thread or, with answersFromAnotherThread, on a
// thread of their own that has ended when they return.
class FakeHttpClient final : public HttpClient {
  public:
    void send(HttpRequest request, HttpCompletion completion) override {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
        waiting_.push_back(std::move(completion));
    }
    void connect(const std::string&, ConnectCompletion completion) override {
        std::lock_guard lock(mutex_);
        connects_.push_back(std::move(completion));
    }
    std::vector<HttpRequest> requests() const { return locked(requests_); }
    size_t pendingRequests() const { return locked(waiting_).size(); }
    size_t pendingConnects() const { return locked(connects_).size(); }
    // Completes the oldest waiting request. Answers false when none waits.
    bool respond(int status, std::string body) {
        return complete(waiting_, [&](auto& done) { done(HttpResponse{status, std::move(body)}); });
    }
    bool fail(TransportError error) {
        return complete(waiting_, [&](auto& done) { done(std::move(error)); });
    }
    bool answersFromAnotherThread = false;

  private:
    template <typename T>
    T locked(const T& member) const {
        std::lock_guard lock(mutex_);
        return member;
    }
    template <typename Completion, typename Call>
    bool complete(std::deque<Completion>& queue, Call call) {
        Completion done;
        {
            std::lock_guard lock(mutex_);
            if (queue.empty()) return false;
            done = std::move(queue.front());
            queue.pop_front();
        }
        answersFromAnotherThread ? std::thread([&] { call(done); }).join() : call(done);
        return true;
    }
    mutable std::mutex mutex_;
    std::vector<HttpRequest> requests_;
    std::deque<HttpCompletion> waiting_;
    std::deque<ConnectCompletion> connects_;
};

}  // namespace velvox::testing
