#include "fakes/FakeHttpClient.h"

namespace velvox::testing {

void FakeHttpClient::send(HttpRequest request, HttpCompletion completion) {
    std::lock_guard lock(mutex_);
    calls_.push_back("send " + request.method + " " + request.url);
    requests_.push_back(std::move(request));
    waiting_.push_back(std::move(completion));
}

void FakeHttpClient::connect(const std::string& url, ConnectCompletion completion) {
    std::lock_guard lock(mutex_);
    calls_.push_back("connect " + url);
    connects_.push_back(std::move(completion));
}

std::vector<std::string> FakeHttpClient::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<HttpRequest> FakeHttpClient::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

size_t FakeHttpClient::pendingRequests() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

size_t FakeHttpClient::pendingConnects() const {
    std::lock_guard lock(mutex_);
    return connects_.size();
}

std::optional<HttpCompletion> FakeHttpClient::takeRequest() {
    std::lock_guard lock(mutex_);
    if (waiting_.empty()) return std::nullopt;
    HttpCompletion completion = std::move(waiting_.front());
    waiting_.pop_front();
    return completion;
}

bool FakeHttpClient::respond(int status, std::string body) {
    auto completion = takeRequest();
    if (!completion) return false;
    (*completion)(HttpResponse{status, std::move(body)});
    return true;
}

bool FakeHttpClient::fail(TransportError error) {
    auto completion = takeRequest();
    if (!completion) return false;
    (*completion)(std::move(error));
    return true;
}

bool FakeHttpClient::finishConnect(std::optional<TransportError> error) {
    ConnectCompletion completion;
    {
        std::lock_guard lock(mutex_);
        if (connects_.empty()) return false;
        completion = std::move(connects_.front());
        connects_.pop_front();
    }
    completion(std::move(error));
    return true;
}

}  // namespace velvox::testing
