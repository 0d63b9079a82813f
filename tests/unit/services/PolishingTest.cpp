#include <gtest/gtest.h>

#include "services/API.h"
#include "services/Auth.h"
#include "unit/services/ServiceTest.h"

namespace velvox::testing {
namespace {

const std::string kGroqPath = "/openai/v1/chat/completions";
const std::string kAnthropicPath = "/v1/messages";

std::string groqAnswer(const std::string& content) {
    return nlohmann::json{
        {"choices", {{{"message", {{"role", "assistant"}, {"content", content}}}}}}}
        .dump();
}

class PolishingTest : public ServiceTest {
  protected:
    Config anthropicConfig() const {
        Config config = ownKeyConfig();
        config.cleanupProvider = "anthropic";
        config.anthropicApiKey = "sk-ant-key";
        config.cleanupModel = "claude-test";
        return config;
    }
};

TEST_F(PolishingTest, GroqReceivesTheChatBody) {
    server->answer(kGroqPath, 200, groqAnswer("\n  Polished text. \n"));
    auto result = polishNow("a b", "Be brief.", ownKeyConfig());
    ASSERT_TRUE(result.ok()) << result.errorDescription();
    EXPECT_EQ(result.value(), "Polished text.");
    auto request = server->lastRequest();
    EXPECT_EQ(request.path, kGroqPath);
    EXPECT_EQ(request.body,
              R"({"max_tokens":2048,"messages":[{"content":"Be brief.","role":"system"},)"
              R"({"content":"<transcript>\na b\n</transcript>","role":"user"}],)"
              R"("model":"openai/gpt-oss-120b","temperature":0.2})");
    EXPECT_EQ(request.header("Authorization"), "Bearer gsk_test_key");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.headerNames(), (std::vector<std::string>{"authorization", "content-length",
                                                               "content-type", "host"}));
}

TEST_F(PolishingTest, AnthropicReceivesTheMessagesBody) {
    server->answer(kAnthropicPath, 200,
                   R"({"content":[{"type":"thinking"},{"type":"text","text":"Hello "},)"
                   R"({"type":"text","text":"world"}]})");
    auto result = polishNow("a b", "Be \"exact\".", anthropicConfig());
    ASSERT_TRUE(result.ok()) << result.errorDescription();
    EXPECT_EQ(result.value(), "Hello world");
    auto request = server->lastRequest();
    EXPECT_EQ(request.path, kAnthropicPath);
    EXPECT_EQ(
        request.body,
        R"({"max_tokens":2048,"messages":[{"content":"<transcript>\na b\n</transcript>",)"
        R"("role":"user"}],"model":"claude-test","system":"Be \"exact\".","temperature":0.2})");
    EXPECT_EQ(request.header("x-api-key"), "sk-ant-key");
    EXPECT_EQ(request.header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(request.headerNames(),
              (std::vector<std::string>{"anthropic-version", "content-length", "content-type",
                                        "host", "x-api-key"}));
}

TEST_F(PolishingTest, TheServiceReceivesSystemAndTextInItsFrame) {
    server->answer("/polish", 200, R"({"text":" Done. "})");
    ASSERT_TRUE(Auth::save("ovk_abc"));
    Config config = serviceConfig();
    config.groqApiKey = "gsk_own";
    config.anthropicApiKey = "sk-ant-own";
    config.cleanupProvider = "anthropic";
    auto result = polishNow("a b", "System.", config);
    ASSERT_TRUE(result.ok()) << result.errorDescription();
    EXPECT_EQ(result.value(), "Done.");
    auto request = server->lastRequest();
    EXPECT_EQ(request.path, "/polish");
    EXPECT_EQ(request.body, R"({"system":"System.","text":"<transcript>\na b\n</transcript>"})");
    EXPECT_EQ(request.header("Authorization"), "Bearer ovk_abc");
    EXPECT_EQ(request.header("X-Velvox-App"), API::appSecretForSettings());
    EXPECT_EQ(request.headerNames(),
              (std::vector<std::string>{"authorization", "content-length", "content-type", "host",
                                        "x-velvox-app", "x-velvox-install"}));
}

// Only "anthropic" exactly picks Anthropic; a missing key sends nothing.
TEST_F(PolishingTest, TheProviderChoiceIsExactAndNeedsItsKey) {
    server->answer(kGroqPath, 200, groqAnswer("from groq"));
    server->answer(kAnthropicPath, 200, R"({"content":[{"text":"from anthropic"}]})");
    Config config = anthropicConfig();
    const std::pair<const char*, const char*> choices[] = {
        {"anthropic", "from anthropic"}, {"Anthropic", "from groq"}, {"anthropic ", "from groq"}};
    for (const auto& [provider, answer] : choices) {
        config.cleanupProvider = provider;
        EXPECT_EQ(polishNow("x", "s", config).value(), answer) << provider;
    }
    size_t sent = server->requests().size();
    config.groqApiKey = "";
    EXPECT_EQ(polishNow("x", "s", config).errorDescription(), "No Groq API key set");
    config = anthropicConfig();
    config.anthropicApiKey = "";
    EXPECT_EQ(polishNow("x", "s", config).errorDescription(), "No Anthropic API key set");
    EXPECT_EQ(server->requests().size(), sent);
}

TEST_F(PolishingTest, AnswersWithoutTextAreUnexpected) {
    struct Case {
        std::string path;
        Config config;
        std::vector<const char*> bodies;
    };
    const Case cases[] = {
        {kGroqPath,
         ownKeyConfig(),
         {R"({"choices":[]})", R"({"choices":{}})", R"({"choices":[{"message":{}}]})",
          R"({"choices":[{"message":{"content":7}}]})", R"({"choices":[{"message":"hi"}]})",
          R"({"choices":[5]})", R"({"choices":[{"message":{"content":" \n "}}]})", "[]", "oops"}},
        {kAnthropicPath,
         anthropicConfig(),
         {R"({"content":[]})", R"({"content":"text"})", R"({})", R"({"content":[{"type":"text"}]})",
          R"({"content":[{"text":"  "}]})", R"({"content":["loose",{"text":"a"}]})",
          R"({"content":[{"text":1}]})"}},
        {"/polish",
         serviceConfig(),
         {R"({"text":""})", R"({"text":" \n"})", R"({"result":"a"})", R"({"text":["a"]})", "null"}},
    };
    for (const auto& c : cases) {
        for (const char* body : c.bodies) {
            server->answer(c.path, 200, body);
            EXPECT_EQ(polishNow("x", "s", c.config).errorDescription(), "Unexpected response")
                << body;
        }
    }
}

}  // namespace
}  // namespace velvox::testing
