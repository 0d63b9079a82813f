#include <gtest/gtest.h>

#include "fakes/FakeHttpClient.h"
#include "services/API.h"
#include "services/Auth.h"
#include "unit/services/ServiceTest.h"

namespace velvox::testing {
namespace {

class TransportTest : public ServiceTest {
  protected:
    ServiceResult<std::string> sendNow(HttpRequest request) {
        Awaited<ServiceResult<std::string>> awaited;
        API::send(std::move(request), awaited.callback());
        return awaited.wait(ServiceResult<std::string>(APIError::message("no completion arrived")));
    }
    HttpRequest post(const std::string& path) {
        HttpRequest request;
        request.url = server->base() + path;
        request.headers = {{"Content-Type", "application/json"}};
        request.body = "{}";
        return request;
    }
};

TEST_F(TransportTest, ServiceRequestCarriesTheFrame) {
    Config config = serviceConfig();
    auto request = API::serviceRequest("/transcribe", config);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "POST");
    EXPECT_EQ(request->url, server->base() + "/transcribe");
    EXPECT_EQ(request->timeoutSeconds, 60);
    EXPECT_FALSE(request->header("Authorization")) << "no token, no bearer";
    EXPECT_EQ(request->header("X-Velvox-App"), "Q7vT2mLw9xKp4RbN8cZd1FhJ6sYg3Ue_");
    // The install identifier is issued once and stored.
    auto install = request->header("X-Velvox-Install");
    ASSERT_TRUE(install);
    EXPECT_EQ(install->size(), 36u);
    EXPECT_NE(readFile(settingsPath("config.json")).find(*install), std::string::npos);
    EXPECT_EQ(API::serviceRequest("/polish", config)->header("X-Velvox-Install"), install);

    ASSERT_TRUE(Auth::save("ovk_token123"));
    EXPECT_EQ(API::serviceRequest("/polish", config)->header("Authorization"),
              "Bearer ovk_token123");
}

TEST_F(TransportTest, AnInvalidServiceAddressSendsNothing) {
    Config config = serviceConfig();
    for (const char* base : {"not a url", "https://exa mple.com", "file://", "velvox.app"}) {
        config.apiBase = base;
        EXPECT_FALSE(API::serviceRequest("/transcribe", config)) << base;
        auto result = polishNow("text", "system", config);
        EXPECT_EQ(result.errorDescription(), "Unexpected response") << base;
    }
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(TransportTest, SendLogsFailuresWithThePathOnly) {
    server->answer("/openai/v1/audio/transcriptions", 404, R"({"error":"model not found"})");
    std::string longBody;
    for (int i = 0; i < 250; ++i) longBody += "\xc3\xa9";  // 250 characters, two bytes each
    server->answer("/long", 500, longBody);
    server->answer("/binary", 502, "\xff\xfe\x00\x01");

    auto notFound = sendNow(post("/openai/v1/audio/transcriptions?debug=1"));
    ASSERT_NE(notFound.apiError(), nullptr);
    EXPECT_EQ(*notFound.apiError(), APIError::http(404, R"({"error":"model not found"})"));
    EXPECT_EQ(notFound.errorDescription(), "Model unavailable");

    auto long_ = sendNow(post("/long"));
    ASSERT_NE(long_.apiError(), nullptr);
    EXPECT_EQ(long_.apiError()->text, longBody) << "the error keeps the whole body";

    auto binary = sendNow(post("/binary"));
    ASSERT_NE(binary.apiError(), nullptr);
    EXPECT_EQ(*binary.apiError(), APIError::http(502, ""));

    server->answer("/ok", 201, "raw \x01 bytes");  // any 2xx is a success
    auto created = sendNow(post("/ok"));
    ASSERT_TRUE(created.ok()) << created.errorDescription();
    EXPECT_EQ(created.value(), "raw \x01 bytes");

    auto lines = logMessages();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              R"(HTTP 404 from /openai/v1/audio/transcriptions: {"error":"model not found"})");
    std::string firstTwoHundred;
    for (int i = 0; i < 200; ++i) firstTwoHundred += "\xc3\xa9";
    EXPECT_EQ(lines[1], "HTTP 500 from /long: " + firstTwoHundred);
    EXPECT_EQ(lines[2], "HTTP 502 from /binary: ");
    for (const auto& line : lines) EXPECT_EQ(line.find("127.0.0.1"), std::string::npos);
}

TEST_F(TransportTest, KeysEchoedByAServerNeverReachTheLog) {
    server->answer("/openai/v1/chat/completions", 401, "Invalid API key: gsk_test_key");
    server->answer("/v1/messages", 401, "bad key sk-ant-secret");
    Config config = ownKeyConfig();
    EXPECT_EQ(polishNow("a", "s", config).errorDescription(), "API key rejected");
    config.cleanupProvider = "anthropic";
    config.anthropicApiKey = "sk-ant-secret";
    EXPECT_EQ(polishNow("a", "s", config).errorDescription(), "API key rejected");
    auto lines = logMessages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "HTTP 401 from /openai/v1/chat/completions: Invalid API key: [redacted]");
    EXPECT_EQ(lines[1], "HTTP 401 from /v1/messages: bad key [redacted]");
}

TEST_F(TransportTest, NetworkFailuresArePassedOnUnchanged) {
    CannedAnswer cut;
    cut.body = R"({"text":"this answer is cut in the middle"})";
    cut.cutShort = true;
    server->answer("/cut", cut);
    auto lost = sendNow(post("/cut"));
    ASSERT_FALSE(lost.ok());
    ASSERT_TRUE(std::holds_alternative<TransportError>(lost.error()));
    EXPECT_EQ(std::get<TransportError>(lost.error()).kind, TransportError::Kind::connectionLost);
    EXPECT_EQ(lost.errorDescription(), "The network connection was lost.");

    CannedAnswer slow;
    slow.delay = std::chrono::milliseconds(1500);
    server->answer("/slow", slow);
    HttpRequest request = post("/slow");
    request.timeoutSeconds = 0.2;
    auto timedOut = sendNow(request);
    ASSERT_TRUE(std::holds_alternative<TransportError>(timedOut.error()));
    EXPECT_EQ(std::get<TransportError>(timedOut.error()).kind, TransportError::Kind::timedOut);
    EXPECT_EQ(timedOut.errorDescription(), "The request timed out.");

    EXPECT_TRUE(logMessages().empty()) << "transport failures are not HTTP failures";
}

// Each route reads a failed status with its own meaning (the messages
// themselves are APIErrorTest's table), and every failure is logged.
TEST_F(TransportTest, FailuresTakeTheirRouteMeaning) {
    std::string file = writeAudio("audio");
    const std::tuple<const char*, int, std::function<API::TextResult()>, const char*> cases[] = {
        {"/openai/v1/audio/transcriptions", 401,
         [&] { return transcribeNow(file, ownKeyConfig()); }, "API key rejected"},
        {"/transcribe", 401, [&] { return transcribeNow(file, serviceConfig()); },
         "Sign in to Velvox to dictate"},
        {"/openai/v1/chat/completions", 503, [&] { return polishNow("x", "s", ownKeyConfig()); },
         "Service unavailable, try again"},
        {"/polish", 503, [&] { return polishNow("x", "s", serviceConfig()); },
         "Velvox's service is not available"},
    };
    for (const auto& [path, status, call, message] : cases) {
        server->answer(path, status, "");
        EXPECT_EQ(call().errorDescription(), message) << path;
    }
    EXPECT_EQ(logMessages().size(), std::size(cases));
}

class WarmUpTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installHttpClient(client);
        API::resetWarmUpLogForTesting();
        ::setenv("VELVOX_GROQ_BASE", "https://groq.test", 1);
    }
    void TearDown() override {
        ::unsetenv("VELVOX_GROQ_BASE");
        Platform::installHttpClient(nullptr);
        TempHomeTest::TearDown();
    }
    std::shared_ptr<FakeHttpClient> client = std::make_shared<FakeHttpClient>();
};

// A warm-up opens the connection the next transcription takes and sends
// nothing; an unreachable host is logged at most once a minute.
TEST_F(WarmUpTest, OpensTheNextConnectionAndLogsFailuresOnceAMinute) {
    Config config;
    const std::pair<bool, const char*> routes[] = {
        {false, "https://service.test/v1"}, {true, ""}, {false, ""}, {false, "no address"}};
    for (auto [own, base] : routes) {
        config.useOwnKey = own;
        config.apiBase = base;
        API::warmUp(config);
    }
    EXPECT_EQ(client->calls(),
              (std::vector<std::string>{"connect https://service.test/v1",
                                        "connect https://groq.test", "connect https://groq.test"}));
    EXPECT_EQ(client->requests().size(), 0u);
    while (client->finishConnect()) {
    }
    TransportError unreachable{TransportError::Kind::cannotFindHost, "no such host"};
    config.useOwnKey = true;
    for (double wait : {0.0, 59.0, 2.0}) {
        queue->advance(wait);
        API::warmUp(config);
        API::warmUp(config);
        while (client->finishConnect(unreachable)) {
        }
    }
    API::warmUp(config);
    client->finishConnect();  // reached: nothing to say
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>(2, "warm-up: could not connect: no such host")));
}

}  // namespace
}  // namespace velvox::testing
