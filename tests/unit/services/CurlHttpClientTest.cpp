#include <gtest/gtest.h>

#include "unit/services/ServiceTest.h"

namespace velvox::testing {
namespace {

// Tests in a temporary HOME, where the TLS test makes its certificate.
class CurlHttpClientTest : public TempHomeTest {
  protected:
    // A self-signed certificate for 127.0.0.1 (also the authority a client may trust).
    bool makeCertificate() {
        key = home() + "/key.pem", certificate = home() + "/cert.pem";
        return std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                            " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
                            key + "' -out '" + certificate + "' >/dev/null 2>&1")
                               .c_str()) == 0;
    }
    std::string key, certificate;
};

HttpResult sendNow(HttpClient& client, HttpRequest request) {
    return awaitCompletion<HttpResult>([&](auto done) { client.send(std::move(request), done); },
                                       TransportError{TransportError::Kind::other, "none"});
}

// The kind of failure; nullopt for an answer.
std::optional<TransportError::Kind> failureOf(const HttpResult& result) {
    auto* error = std::get_if<TransportError>(&result);
    return error ? std::optional(error->kind) : std::nullopt;
}

int statusOf(const HttpResult& result) {
    if (auto* error = std::get_if<TransportError>(&result)) {
        ADD_FAILURE() << error->message;
        return -1;
    }
    return std::get<HttpResponse>(result).status;
}

TEST_F(CurlHttpClientTest, SendsExactlyTheGivenHeadersAndBody) {
    LoopbackServer server;
    CurlHttpClient client;
    std::string body(2'400'000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 % 251);
    HttpRequest request{.url = server.base() + "/upload",
                        .headers = {{"Content-Type", "application/octet-stream"},
                                    {"X-Velvox-Vocab", "Redis, SQLite"}},
                        .body = body};
    EXPECT_EQ(statusOf(sendNow(client, request)), 200);
    auto received = server.lastRequest();
    EXPECT_EQ(received.method, "POST");
    EXPECT_EQ(received.path, "/upload");
    EXPECT_TRUE(received.body == body) << "the body arrives byte for byte";
    EXPECT_EQ(received.header("X-Velvox-Vocab"), "Redis, SQLite");
    // Nothing of curl's own: no Accept, no Expect, no User-Agent.
    EXPECT_EQ(received.headerNames(), (std::vector<std::string>{"content-length", "content-type",
                                                                "host", "x-velvox-vocab"}));
    HttpRequest get{"GET", server.base() + "/usage", {{"Authorization", "Bearer ovk_x"}}};
    EXPECT_EQ(statusOf(sendNow(client, get)), 200);
    EXPECT_EQ(server.lastRequest().method, "GET");
    EXPECT_EQ(server.lastRequest().headerNames(),
              (std::vector<std::string>{"authorization", "host"}));
}

TEST_F(CurlHttpClientTest, RefusesRequestsThatWouldBreakTheProtocol) {
    LoopbackServer server;
    CurlHttpClient client;
    std::string url = server.base() + "/transcribe";
    for (const auto& request : {HttpRequest{.url = url, .headers = {{"X-Vocab", "a\r\nX-Evil: 1"}}},
                                HttpRequest{.url = url, .headers = {{"Bad Name", "x"}}},
                                HttpRequest{.url = "file:///etc/passwd"}})
        EXPECT_EQ(failureOf(sendNow(client, request)), TransportError::Kind::invalidRequest);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(CurlHttpClientTest, VerifiesThePeerAndReusesTheTlsSession) {
    ASSERT_TRUE(makeCertificate()) << "openssl could not make a certificate";
    LoopbackServer server(std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str()),
                          "https");
    HttpRequest request{.url = server.base() + "/transcribe"};
    CurlHttpClient untrusting;  // the system's authorities do not know this certificate
    EXPECT_EQ(failureOf(sendNow(untrusting, request)),
              TransportError::Kind::secureConnectionFailed);
    EXPECT_TRUE(server.requests().empty());
    CurlHttpClient trusting(CurlHttpClientOptions{certificate});
    int before = server.acceptedConnections();
    EXPECT_EQ(statusOf(sendNow(trusting, request)), 200);
    EXPECT_EQ(statusOf(sendNow(trusting, request)), 200);
    EXPECT_EQ(server.acceptedConnections() - before, 1);
    EXPECT_EQ(server.requests().size(), 2u);
}

}  // namespace
}  // namespace velvox::testing
