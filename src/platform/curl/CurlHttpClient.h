#pragma once

#include <memory>
#include <string>

#include "platform/HttpClient.h"

namespace velvox {

struct CurlHttpClientOptions {
    // A PEM file of certificate authorities to trust instead of the system's
    // (tests against a local TLS server). Peer and host verification stay on.
    std::string caFile;
};

// The HTTP client on libcurl. One network thread drives every transfer
// through one multi handle, so connections, TLS sessions and DNS answers are
// shared: a second request to the same host reuses the open connection, and
// HTTP/2 is used where the server offers it. Completions run on that thread.
// Destroying the client cancels what is still in flight (each completion is
// still called, with a cancellation error); do not destroy it from a completion.
class CurlHttpClient final : public HttpClient {
  public:
    explicit CurlHttpClient(CurlHttpClientOptions options = {});
    ~CurlHttpClient() override;

    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    void send(HttpRequest request, HttpCompletion completion) override;
    void connect(const std::string& url, ConnectCompletion completion) override;

    class Worker;

  private:
    std::unique_ptr<Worker> worker_;
};

}  // namespace velvox
