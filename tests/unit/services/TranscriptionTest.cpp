#include <gtest/gtest.h>

#include <regex>

#include "services/API.h"
#include "services/Auth.h"
#include "unit/services/ServiceTest.h"

namespace velvox::testing {
namespace {

const std::string kGroqPath = "/openai/v1/audio/transcriptions";
// Audio bytes with a NUL, CR LF and a byte that is not UTF-8.
const std::string kAudio = std::string("\x00\x01m4a\r\n\xff-audio", 13);

std::string boundaryOf(const RecordedRequest& request) {
    const std::string prefix = "multipart/form-data; boundary=";
    std::string type = request.header("Content-Type");
    return type.starts_with(prefix) ? type.substr(prefix.size()) : std::string();
}

std::string field(const std::string& boundary, const std::string& name, const std::string& value) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
           value + "\r\n";
}

std::string expectedForm(const std::string& boundary, const std::string& model,
                         const std::optional<std::string>& prompt) {
    std::string body = field(boundary, "model", model) +
                       field(boundary, "response_format", "json") +
                       field(boundary, "temperature", "0");
    if (prompt) body += field(boundary, "prompt", *prompt);
    body += "--" + boundary +
            "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.m4a\"\r\n"
            "Content-Type: audio/mp4\r\n\r\n" +
            kAudio + "\r\n--" + boundary + "--\r\n";
    return body;
}

using TranscriptionTest = ServiceTest;

TEST_F(TranscriptionTest, GroqReceivesTheMultipartFormByteForByte) {
    server->answer(kGroqPath, 200, R"({"text":"  hello world\n"})");
    std::string file = writeAudio(kAudio);
    Config config = ownKeyConfig();

    auto plain = transcribeNow(file, config);
    ASSERT_TRUE(plain.ok()) << plain.errorDescription();
    EXPECT_EQ(plain.value(), "hello world");
    auto first = server->lastRequest();
    std::string boundary = boundaryOf(first);
    EXPECT_TRUE(
        std::regex_match(boundary, std::regex("----orvo[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-"
                                              "[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << boundary;
    EXPECT_TRUE(client->lastRequest().body ==
                expectedForm(boundary, "whisper-large-v3-turbo", std::nullopt));
    EXPECT_EQ(first.path, kGroqPath);
    EXPECT_EQ(first.header("Authorization"), "Bearer gsk_test_key");
    EXPECT_EQ(first.headerNames(), (std::vector<std::string>{"authorization", "content-length",
                                                             "content-type", "host"}));

    config.vocabulary = {"Redis", "SQLite"};
    config.transcribeModel = "whisper-large-v3";
    ASSERT_TRUE(transcribeNow(file, config).ok());
    auto second = server->lastRequest();
    EXPECT_NE(boundaryOf(second), boundary) << "every request has its own boundary";
    EXPECT_TRUE(client->lastRequest().body ==
                expectedForm(boundaryOf(second), "whisper-large-v3", "Redis, SQLite"));
    // A real multipart parser finds the parts, the prompt before the file.
    ASSERT_EQ(second.parts.size(), 5u);
    EXPECT_EQ(second.parts[3].name, "prompt");
    EXPECT_EQ(second.parts[4].filename, "audio.m4a");
    EXPECT_TRUE(second.parts[4].content == kAudio);
}

TEST_F(TranscriptionTest, AnswersWithoutAStringTextAreUnexpected) {
    std::string file = writeAudio(kAudio);
    for (const char* body : {"", "not json", "[]", "{}", R"({"text":5})", R"({"text":null})",
                             R"({"text":"cut)", R"({"Text":"a"})", "\xff\xfe"}) {
        server->answer(kGroqPath, 200, body);
        EXPECT_EQ(transcribeNow(file, ownKeyConfig()).errorDescription(), "Unexpected response")
            << body;
        server->answer("/transcribe", 200, body);
        EXPECT_EQ(transcribeNow(file, serviceConfig()).errorDescription(), "Unexpected response")
            << body;
    }
    server->answer(kGroqPath, 200, R"({"text":" \n\t "})");
    auto empty = transcribeNow(file, ownKeyConfig());
    ASSERT_TRUE(empty.ok()) << "an empty transcript is a success";
    EXPECT_EQ(empty.value(), "");
}

TEST_F(TranscriptionTest, TheServiceReceivesTheRawAudioAndTheVocabulary) {
    server->answer("/transcribe", 200, R"({"text":"\nhello\u00a0","used":120,"cap":2000})");
    std::string file = writeAudio(kAudio);
    Config config = serviceConfig();
    config.groqApiKey = "gsk_never_sent";
    config.vocabulary = {"Redis", "SQLite"};
    ASSERT_TRUE(Auth::save("ovk_abc"));

    auto result = transcribeNow(file, config);
    ASSERT_TRUE(result.ok()) << result.errorDescription();
    EXPECT_EQ(result.value(), "hello");
    auto request = server->lastRequest();
    EXPECT_EQ(request.path, "/transcribe");
    EXPECT_TRUE(request.body == kAudio);
    EXPECT_EQ(request.header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(request.header("X-Velvox-Vocab"), "Redis, SQLite");
    EXPECT_EQ(request.header("Authorization"), "Bearer ovk_abc");
    EXPECT_EQ(request.header("X-Velvox-App"), API::appSecretForSettings());
    EXPECT_EQ(request.header("X-Velvox-Install"), Config::installId());
    EXPECT_EQ(request.headerNames(),
              (std::vector<std::string>{"authorization", "content-length", "content-type", "host",
                                        "x-velvox-app", "x-velvox-install", "x-velvox-vocab"}));

    config.vocabulary = {};
    server->answer("/transcribe", 200, R"({"text":"again","used":120})");
    ASSERT_TRUE(transcribeNow(file, config).ok());
    EXPECT_FALSE(server->lastRequest().hasHeader("X-Velvox-Vocab"));
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{"signed in", "allowance 120 of 2000 words this week"}));
}

// Own keys even though apiBase is set, the service without them, own keys
// again without a service. The own key route needs a Groq key before
// anything else; a missing file sends nothing.
TEST_F(TranscriptionTest, TheRouteFollowsTheSettings) {
    server->answer(kGroqPath, 200, R"({"text":"groq"})");
    server->answer("/transcribe", 200, R"({"text":"service"})");
    std::string file = writeAudio(kAudio);
    Config noService = ownKeyConfig();
    noService.useOwnKey = false;
    noService.apiBase = "";
    Config noKey = noService;
    noKey.groqApiKey = "";
    noKey.anthropicApiKey = "sk-ant-key";
    const std::tuple<Config, std::string, const char*> cases[] = {
        {ownKeyConfig(), file, "groq"},
        {serviceConfig(), file, "service"},
        {noService, file, "groq"},
        {noKey, home() + "/tmp/no-such-file.m4a", "No Groq API key set"},
        {ownKeyConfig(), home() + "/tmp/no-such-file.m4a", "Unexpected response"},
        {serviceConfig(), home() + "/tmp/no-such-file.m4a", "Unexpected response"}};
    for (const auto& [config, path, said] : cases) {
        auto result = transcribeNow(path, config);
        EXPECT_EQ(result.ok() ? result.value() : result.errorDescription(), said) << said;
    }
    EXPECT_EQ(server->requests().size(), 3u);
}

}  // namespace
}  // namespace velvox::testing
