#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/HttpClient.h"

namespace velvox::testing {

// An HTTP client that sends nothing: it records each call as a readable
// string ("send POST https://host/path", "connect https://host") and keeps the
// completions until the test answers them, oldest first. Answers run on the
// test's thread, standing in for the network thread.
class FakeHttpClient final : public HttpClient {
  public:
    void send(HttpRequest request, HttpCompletion completion) override;
    void connect(const std::string& url, ConnectCompletion completion) override;

    std::vector<std::string> calls() const;
    std::vector<HttpRequest> requests() const;
    size_t pendingRequests() const;
    size_t pendingConnects() const;

    // Completes the oldest waiting request. Answers false when none waits.
    bool respond(int status, std::string body);
    bool fail(TransportError error);
    bool finishConnect(std::optional<TransportError> error = std::nullopt);

  private:
    std::optional<HttpCompletion> takeRequest();

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<HttpRequest> requests_;
    std::deque<HttpCompletion> waiting_;
    std::deque<ConnectCompletion> connects_;
};

}  // namespace velvox::testing
