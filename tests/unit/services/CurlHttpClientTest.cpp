#include <gtest/gtest.h>

#include "platform/curl/CurlHttpClient.h"
#include "support/LoopbackServer.h"
#include "unit/services/ServiceTest.h"
#include "unit/services/TestCertificate.h"

namespace velvox::testing {
namespace {

HttpResult sendNow(HttpClient& client, HttpRequest request) {
    Awaited<HttpResult> awaited;
    client.send(std::move(request), awaited.callback());
    return awaited.wait(TransportError{TransportError::Kind::other, "no completion arrived"});
}

int statusOf(const HttpResult& result) {
    if (auto* error = std::get_if<TransportError>(&result)) {
        ADD_FAILURE() << error->message;
        return -1;
    }
    return std::get<HttpResponse>(result).status;
}

TEST(CurlHttpClientTest, SendsExactlyTheGivenHeadersAndBody) {
    LoopbackServer server;
    CurlHttpClient client;
    std::string body(2'400'000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 % 251);
    HttpRequest request;
    request.url = server.base() + "/upload";
    request.headers = {{"Content-Type", "application/octet-stream"},
                       {"X-Velvox-Vocab", "Redis, SQLite"}};
    request.body = body;
    EXPECT_EQ(statusOf(sendNow(client, request)), 200);

    auto received = server.lastRequest();
    EXPECT_EQ(received.method, "POST");
    EXPECT_EQ(received.path, "/upload");
    EXPECT_TRUE(received.body == body) << "the body arrives byte for byte";
    EXPECT_EQ(received.header("X-Velvox-Vocab"), "Redis, SQLite");
    // Nothing of curl's own: no Accept, no Expect, no User-Agent.
    EXPECT_EQ(received.headerNames(), (std::vector<std::string>{"content-length", "content-type",
                                                                "host", "x-velvox-vocab"}));

    HttpRequest get;
    get.method = "GET";
    get.url = server.base() + "/usage";
    get.headers = {{"Authorization", "Bearer ovk_x"}};
    EXPECT_EQ(statusOf(sendNow(client, get)), 200);
    EXPECT_EQ(server.lastRequest().method, "GET");
    EXPECT_EQ(server.lastRequest().headerNames(),
              (std::vector<std::string>{"authorization", "host"}));
}

TEST(CurlHttpClientTest, RefusesRequestsThatWouldBreakTheProtocol) {
    LoopbackServer server;
    CurlHttpClient client;
    HttpRequest injected, badName, otherScheme;
    injected.url = badName.url = server.base() + "/transcribe";
    injected.headers = {{"X-Velvox-Vocab", "a\r\nX-Evil: 1"}};
    badName.headers = {{"Bad Name", "x"}};
    otherScheme.url = "file:///etc/passwd";
    for (const auto& request : {injected, badName, otherScheme}) {
        auto result = sendNow(client, request);
        ASSERT_TRUE(std::holds_alternative<TransportError>(result)) << request.url;
        EXPECT_EQ(std::get<TransportError>(result).kind, TransportError::Kind::invalidRequest);
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(CurlHttpClientTest, VerifiesThePeerAndReusesTheTlsSession) {
    TestCertificate certificate;
    ASSERT_TRUE(certificate.made) << "openssl could not make a certificate";
    LoopbackServer server(std::make_unique<httplib::SSLServer>(certificate.certificate.c_str(),
                                                               certificate.key.c_str()),
                          "https");
    HttpRequest request;
    request.url = server.base() + "/transcribe";

    CurlHttpClient untrusting;  // the system's authorities do not know this certificate
    auto refused = sendNow(untrusting, request);
    ASSERT_TRUE(std::holds_alternative<TransportError>(refused));
    EXPECT_EQ(std::get<TransportError>(refused).kind, TransportError::Kind::secureConnectionFailed);
    EXPECT_TRUE(server.requests().empty());

    CurlHttpClient trusting(CurlHttpClientOptions{certificate.certificate});
    int before = server.acceptedConnections();
    EXPECT_EQ(statusOf(sendNow(trusting, request)), 200);
    EXPECT_EQ(statusOf(sendNow(trusting, request)), 200);
    EXPECT_EQ(server.acceptedConnections() - before, 1);
    EXPECT_EQ(server.requests().size(), 2u);
}

}  // namespace
}  // namespace velvox::testing
