// The curl client against a real server, and how the transport reads answers.
#include <gtest/gtest.h>

#include "services/API.h"
#include "support/TestCertificate.h"
#include "unit/services/ServiceTest.h"

namespace velvox::testing {
namespace {

class TransportTest : public ServiceTest {
  protected:
    ServiceResult<std::string> sendNow(HttpRequest request) {
        return awaitCompletion<ServiceResult<std::string>>(
            [&](auto done) { API::send(std::move(request), done); }, noCompletion());
    }
};

// The bearer and the install identifier show in every route's request bytes.
TEST_F(TransportTest, ServiceRequestIsAPostWaitingAMinuteWithNoBearerWithoutAToken) {
    auto request = API::serviceRequest("/transcribe", serviceConfig());
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method + " " + request->url, "POST " + server->base() + "/transcribe");
    EXPECT_EQ(request->timeoutSeconds, 60);
    EXPECT_FALSE(request->header("Authorization"));
}

// A status outside 2xx keeps the whole body (text only) in the error and
// logs the path (no host, no query) with the body's first 200 characters;
// any 2xx is a success; network failures are passed on and not logged.
TEST_F(TransportTest, FailuresAreLoggedWithThePathOnly) {
    std::string longBody, firstTwoHundred;
    for (int i = 0; i < 250; ++i) (i < 200 ? firstTwoHundred : longBody) += "\xc3\xa9";
    longBody = firstTwoHundred + longBody;  // two bytes a character
    server->answer("/cut",
                   CannedAnswer{.body = R"({"text":"cut in the middle"})", .cutShort = true});
    server->answer("/slow", CannedAnswer{.delay = std::chrono::milliseconds(1500)});
    server->answer("/v1/models", 404, R"({"error":"model not found"})");
    server->answer("/long", 500, longBody);
    server->answer("/binary", 502, std::string("\xff\xfe\x00\x01", 4));
    server->answer("/ok", 201, "raw \x01 bytes");
    // path, what the error or answer says, the body it keeps
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"/v1/models?debug=1", "Model unavailable", R"({"error":"model not found"})"},
        {"/long", "Service unavailable, try again", longBody},
        {"/binary", "Service unavailable, try again", ""},
        {"/ok", "", "raw \x01 bytes"},
        {"/cut", "The network connection was lost.", ""},
        {"/slow", "The request timed out.", ""},
    };
    for (const auto& [path, says, body] : cases) {
        auto result = sendNow({.url = server->base() + path,
                               .timeoutSeconds = std::string(path) == "/slow" ? 0.2 : 60});
        EXPECT_EQ(result.ok() ? "" : result.errorDescription(), says) << path;
        EXPECT_EQ(result.ok()         ? result.value()
                  : result.apiError() ? result.apiError()->text
                                      : "",
                  body)
            << path;
    }
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{R"(HTTP 404 from /v1/models: {"error":"model not found"})",
                                        "HTTP 500 from /long: " + firstTwoHundred,
                                        "HTTP 502 from /binary: "}));
}

// Each route reads a failed status with its own meaning (the messages themselves
// are APIErrorTest's table); every failure is logged, never with a key a server echoes.
TEST_F(TransportTest, FailuresTakeTheirRouteMeaningAndEchoedKeysNeverReachTheLog) {
    server->answer("/openai/v1/chat/completions", 401, "Invalid API key: gsk_test_key");
    server->answer("/v1/messages", 401, "bad key sk-ant-key");
    server->answer("/polish", 503, "");
    server->answer("/transcribe", 401, "");
    for (const Config& config : {ownKeyConfig(), anthropicConfig()})
        EXPECT_EQ(polishNow("a", "s", config).errorDescription(), "API key rejected");
    EXPECT_EQ(polishNow("x", "s", serviceConfig()).errorDescription(),
              "Velvox's service is not available");
    EXPECT_EQ(transcribeNow(writeAudio("audio"), serviceConfig()).errorDescription(),
              "Sign in to Velvox to dictate");
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{
                  "HTTP 401 from /openai/v1/chat/completions: Invalid API key: [redacted]",
                  "HTTP 401 from /v1/messages: bad key [redacted]",
                  "HTTP 503 from /polish: ", "HTTP 401 from /transcribe: "}));
}

// Tests in a temporary HOME, where the TLS test makes its certificate.
using CurlHttpClientTest = TempHomeTest;

HttpResult sendNow(HttpClient& client, HttpRequest request) {
    return awaitCompletion<HttpResult>([&](auto done) { client.send(std::move(request), done); },
                                       TransportError{TransportError::Kind::other, "none"});
}

std::optional<TransportError::Kind> failureOf(const HttpResult& result) {
    auto* error = std::get_if<TransportError>(&result);
    return error ? std::optional(error->kind) : std::nullopt;
}

int statusOf(const HttpResult& result) {
    if (auto* error = std::get_if<TransportError>(&result)) ADD_FAILURE() << error->message;
    auto* response = std::get_if<HttpResponse>(&result);
    return response ? response->status : -1;
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
    // Nothing of curl's own: no Accept, no Expect, no User-Agent.
    EXPECT_EQ(headersOf(received),
              "content-type: application/octet-stream\nx-velvox-vocab: Redis, SQLite\n");
    HttpRequest get{"GET", server.base() + "/usage", {{"Authorization", "Bearer ovk_x"}}};
    EXPECT_EQ(statusOf(sendNow(client, get)), 200);
    EXPECT_EQ(server.lastRequest().method, "GET");
    EXPECT_EQ(headersOf(server.lastRequest()), "authorization: Bearer ovk_x\n");
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
    TestCertificate tls(home());
    ASSERT_TRUE(tls.made) << "openssl could not make a certificate";
    LoopbackServer server(
        std::make_unique<httplib::SSLServer>(tls.certificate.c_str(), tls.key.c_str()), "https");
    HttpRequest request{.url = server.base() + "/transcribe"};
    CurlHttpClient untrusting;  // the system's authorities do not know this certificate
    EXPECT_EQ(failureOf(sendNow(untrusting, request)),
              TransportError::Kind::secureConnectionFailed);
    EXPECT_TRUE(server.requests().empty());
    CurlHttpClient trusting(CurlHttpClientOptions{tls.certificate});
    int before = server.acceptedConnections();
    EXPECT_EQ(statusOf(sendNow(trusting, request)), 200);
    EXPECT_EQ(statusOf(sendNow(trusting, request)), 200);
    EXPECT_EQ(server.acceptedConnections() - before, 1);
    EXPECT_EQ(server.requests().size(), 2u);
}

}  // namespace
}  // namespace velvox::testing
