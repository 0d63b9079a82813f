// What each route sends, byte for byte, and how its answer is read.
#include <gtest/gtest.h>

#include "services/API.h"
#include "services/Auth.h"
#include "unit/services/ServiceTest.h"

namespace velvox::testing {
namespace {

const std::string kAudioPath = "/openai/v1/audio/transcriptions";
// Audio bytes with a NUL, CR LF and a byte that is not UTF-8.
const std::string kAudio = std::string("\x00\x01m4a\r\n\xff-audio", 13);

std::string boundaryOf(const RecordedRequest& request) {
    const std::string prefix = "multipart/form-data; boundary=";
    std::string type = request.header("Content-Type");
    return type.starts_with(prefix) ? type.substr(prefix.size()) : std::string();
}

std::string expectedForm(const std::string& boundary, const std::string& model,
                         const std::string& prompt) {
    std::string body, part = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"";
    for (auto [name, value] : {std::pair{"model", model},
                               {"response_format", "json"},
                               {"temperature", "0"},
                               {"prompt", prompt}})
        if (!value.empty()) body += part + name + "\"\r\n\r\n" + value + "\r\n";
    return body + part + "file\"; filename=\"audio.m4a\"\r\nContent-Type: audio/mp4\r\n\r\n" +
           kAudio + "\r\n--" + boundary + "--\r\n";
}

using TranscriptionTest = ServiceTest;

TEST_F(TranscriptionTest, GroqReceivesTheMultipartFormByteForByte) {
    server->answer(kAudioPath, 200, R"({"text":"  hello world\n"})");
    std::string file = writeAudio(kAudio);
    Config config = ownKeyConfig();
    auto plain = transcribeNow(file, config);
    ASSERT_TRUE(plain.ok()) << plain.errorDescription();
    EXPECT_EQ(plain.value(), "hello world");
    auto first = server->lastRequest();
    std::string boundary = boundaryOf(first);
    EXPECT_TRUE(client->lastRequest().body == expectedForm(boundary, "whisper-large-v3-turbo", ""));
    EXPECT_EQ(headersOf(first),
              "authorization: Bearer gsk_test_key\n"
              "content-type: multipart/form-data; boundary=" +
                  boundary + "\n");
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
    EXPECT_TRUE(request.body == kAudio);
    EXPECT_EQ(headersOf(request),
              "authorization: Bearer ovk_abc\ncontent-type: application/octet-stream\n"
              "x-velvox-app: app\nx-velvox-install: install\nx-velvox-vocab: Redis, SQLite\n");
    config.vocabulary = {};
    server->answer("/transcribe", 200, R"({"text":"again","used":120})");
    ASSERT_TRUE(transcribeNow(file, config).ok());
    EXPECT_FALSE(server->lastRequest().hasHeader("X-Velvox-Vocab"));
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{"signed in", "allowance 120 of 2000 words this week"}));
}

// Without a service address the own key route is taken even when not chosen.
// It needs a Groq key before anything else; a missing file sends nothing.
TEST_F(TranscriptionTest, TheRouteFollowsTheSettings) {
    server->answer(kAudioPath, 200, R"({"text":"groq"})");
    Config noService = ownKeyConfig();
    noService.useOwnKey = false;
    noService.apiBase = "";
    Config noKey = noService;
    noKey.groqApiKey = "";
    noKey.anthropicApiKey = "sk-ant-key";
    const std::tuple<Config, std::string, const char*> cases[] = {
        {noService, writeAudio(kAudio), "groq"},
        {noKey, home() + "/tmp/no-such-file.m4a", "No Groq API key set"},
        {ownKeyConfig(), home() + "/tmp/no-such-file.m4a",
         "Recording could not be read (No such file or directory)"},
        {serviceConfig(), home() + "/tmp/no-such-file.m4a",
         "Recording could not be read (No such file or directory)"}};
    for (const auto& [config, path, said] : cases) {
        auto result = transcribeNow(path, config);
        EXPECT_EQ(result.ok() ? result.value() : result.errorDescription(), said) << said;
    }
    EXPECT_EQ(server->requests().size(), 1u);
}

const std::string kChatPath = "/openai/v1/chat/completions";
const std::string kAnthropicPath = "/v1/messages";

using PolishingTest = ServiceTest;

// Each route's request, byte for byte, with exactly its own headers; the
// answer's text is trimmed.
TEST_F(PolishingTest, EachRouteReceivesItsOwnBody) {
    ASSERT_TRUE(Auth::save("ovk_abc"));
    Config service = serviceConfig();  // with own keys set, which must not be sent
    service.groqApiKey = "gsk_own";
    service.anthropicApiKey = "sk-ant-own";
    service.cleanupProvider = "anthropic";
    // The route, its path, its answer, then the body and headers it must receive.
    const std::tuple<Config, std::string, const char*, std::string, std::string> cases[] = {
        {ownKeyConfig(), kChatPath,
         R"({"choices":[{"message":{"role":"assistant","content":"\n  Polished \"text\". \n"}}]})",
         R"({"max_tokens":2048,"messages":[{"content":"Be \"exact\".","role":"system"},)"
         R"({"content":"<transcript>\na b\n</transcript>","role":"user"}],)"
         R"("model":"openai/gpt-oss-120b","temperature":0.2})",
         "authorization: Bearer gsk_test_key\ncontent-type: application/json\n"},
        {anthropicConfig(), kAnthropicPath,
         R"({"content":[{"type":"thinking"},{"type":"text","text":"Polished "},)"
         R"({"type":"text","text":"\"text\"."}]})",
         R"({"max_tokens":2048,"messages":[{"content":"<transcript>\na b\n</transcript>",)"
         R"("role":"user"}],"model":"claude-test","system":"Be \"exact\".","temperature":0.2})",
         "anthropic-version: 2023-06-01\ncontent-type: application/json\nx-api-key: sk-ant-key\n"},
        {service, "/polish", R"({"text":" Polished \"text\". "})",
         R"({"system":"Be \"exact\".","text":"<transcript>\na b\n</transcript>"})",
         "authorization: Bearer ovk_abc\ncontent-type: application/json\nx-velvox-app: app\n"
         "x-velvox-install: install\n"},
    };
    for (const auto& [config, path, answer, body, headers] : cases) {
        server->answer(path, 200, answer);
        auto result = polishNow("a b", "Be \"exact\".", config);
        ASSERT_TRUE(result.ok()) << path << ": " << result.errorDescription();
        EXPECT_EQ(result.value(), "Polished \"text\".") << path;
        auto request = server->lastRequest();
        EXPECT_EQ(request.body, body) << path;
        EXPECT_EQ(headersOf(request), headers) << path;
    }
}

// Only "anthropic" exactly picks Anthropic (as each route's own test does); a missing key
// sends nothing.
TEST_F(PolishingTest, TheProviderChoiceIsExactAndNeedsItsKey) {
    server->answer(kChatPath, 200, R"({"choices":[{"message":{"content":"from groq"}}]})");
    Config config = anthropicConfig();
    for (const char* provider : {"Anthropic", "anthropic "}) {
        config.cleanupProvider = provider;
        EXPECT_EQ(polishNow("x", "s", config).value(), "from groq") << provider;
    }
    size_t sent = server->requests().size();
    config.groqApiKey = "";
    EXPECT_EQ(polishNow("x", "s", config).errorDescription(), "No Groq API key set");
    config = anthropicConfig();
    config.anthropicApiKey = "";
    EXPECT_EQ(polishNow("x", "s", config).errorDescription(), "No Anthropic API key set");
    EXPECT_EQ(server->requests().size(), sent);
}

// Answers without a text are unexpected on every route.
TEST_F(PolishingTest, AnswersWithoutTextAreUnexpected) {
    std::string file = writeAudio(kAudio);
    // clang-format off
    const std::vector<const char*> transcripts = {"", "not json", "[]", "{}", R"({"text":5})",
        R"({"text":null})", R"({"text":"cut)", R"({"Text":"a"})", "\xff\xfe"};
    // clang-format on
    const std::tuple<std::string, Config, std::vector<const char*>> cases[] = {
        {kAudioPath, ownKeyConfig(), transcripts},
        {"/transcribe", serviceConfig(), transcripts},
        {kChatPath,
         ownKeyConfig(),
         {R"({"choices":[]})", R"({"choices":{}})", R"({"choices":[{"message":{"content":7}}]})",
          R"({"choices":[{"message":"hi"}]})", R"({"choices":[{"message":{"content":" \n "}}]})",
          "oops"}},
        {kAnthropicPath,
         anthropicConfig(),
         {R"({"content":[]})", R"({"content":"text"})", R"({"content":[{"type":"text"}]})",
          R"({"content":[{"text":"  "}]})", R"({"content":["loose",{"text":"a"}]})"}},
        {"/polish", serviceConfig(), {R"({"text":" \n"})", R"({"text":["a"]})", "null"}},
    };
    for (const auto& [path, config, bodies] : cases) {
        for (const char* body : bodies) {
            server->answer(path, 200, body);
            auto result = path.find("transcri") != path.npos ? transcribeNow(file, config)
                                                             : polishNow("x", "s", config);
            EXPECT_EQ(result.errorDescription(), "Unexpected response") << path << body;
        }
    }
}

}  // namespace
}  // namespace velvox::testing
