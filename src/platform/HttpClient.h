#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"

namespace velvox {

struct HttpHeader {
    std::string name;
    std::string value;
};

// One request, sent exactly as described: the client adds only what HTTP itself
// needs (Host, Content-Length), never headers of its own.
struct HttpRequest {
    std::string method = "POST";
    std::string url;
    std::vector<HttpHeader> headers;
    std::string body;
    double timeoutSeconds = 60;
    // The most of an answer's body that is read; a larger answer fails
    // ("The answer was too large."). 0 reads any size.
    size_t maxResponseBytes = 0;

    // The value of the first header with this name (compared without regard to case).
    std::optional<std::string> header(const std::string& name) const;
};

// Any answer the server gave, whatever its status.
struct HttpResponse {
    int status = 0;
    std::string body;
};

// Why no answer arrived. The message is meant for a person and never holds a
// host name, a key or a token.
struct TransportError {
    enum class Kind {
        timedOut,
        cannotFindHost,
        cannotConnect,
        connectionLost,
        secureConnectionFailed,
        invalidRequest,
        cancelled,
        other
    };
    Kind kind = Kind::other;
    std::string message;
};

// An answer, whatever its status, or why none came.
using HttpResult = Result<HttpResponse, TransportError>;
using HttpCompletion = std::function<void(HttpResult)>;
using ConnectCompletion = std::function<void(std::optional<TransportError>)>;

// The network. Every completion is called exactly once, on the client's own
// network thread (never on the caller's stack, except when no client is
// installed); whoever touches shared state hops to the main queue itself.
class HttpClient {
  public:
    virtual ~HttpClient() = default;

    virtual void send(HttpRequest request, HttpCompletion completion) = 0;

    // Opens a connection to the origin (scheme, host, port) of the address
    // without sending any request, and keeps it for the next request there.
    virtual void connect(const std::string& url, ConnectCompletion completion) = 0;
};

namespace Platform {
HttpClient& httpClient();
void installHttpClient(std::shared_ptr<HttpClient> client);
}  // namespace Platform

}  // namespace velvox
