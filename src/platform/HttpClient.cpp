#include "platform/HttpClient.h"

#include <algorithm>
#include <cctype>

#include "platform/PlatformSlot.h"

namespace velvox {

namespace {

bool sameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// Until the application installs the real client, nothing leaves the machine.
class NoHttpClient final : public HttpClient {
  public:
    void send(HttpRequest, HttpCompletion completion) override {
        completion(TransportError{TransportError::Kind::other, "No network connection available"});
    }
    void connect(const std::string&, ConnectCompletion completion) override {
        completion(TransportError{TransportError::Kind::other, "No network connection available"});
    }
};

PlatformSlot<HttpClient, NoHttpClient> slot;

}  // namespace

std::optional<std::string> HttpRequest::header(const std::string& name) const {
    for (const auto& header : headers) {
        if (sameName(header.name, name)) return header.value;
    }
    return std::nullopt;
}

namespace Platform {
HttpClient& httpClient() {
    return slot.get();
}
void installHttpClient(std::shared_ptr<HttpClient> client) {
    slot.install(std::move(client));
}
}  // namespace Platform

}  // namespace velvox
