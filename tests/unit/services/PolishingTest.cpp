#include <gtest/gtest.h>

#include "services/API.h"
#include "services/Auth.h"
#include "unit/services/ServiceTest.h"

namespace velvox::testing {
namespace {

const std::string kGroqPath = "/openai/v1/chat/completions";
const std::string kAnthropicPath = "/v1/messages";

class PolishingTest : public ServiceTest {
  protected:
    Config anthropicConfig() const {
        Config config = ownKeyConfig();
        config.cleanupProvider = "anthropic";
        config.anthropicApiKey = "sk-ant-key";
        config.cleanupModel = "claude-test";
        return config;
    }
    // The service route, with own keys set that must not be sent.
    Config serviceWithKeys() const {
        Config config = serviceConfig();
        config.groqApiKey = "gsk_own";
        config.anthropicApiKey = "sk-ant-own";
        config.cleanupProvider = "anthropic";
        return config;
    }
};

// Each route's request, byte for byte, with exactly its own headers; the
// answer's text is trimmed.
TEST_F(PolishingTest, EachRouteReceivesItsOwnBody) {
    ASSERT_TRUE(Auth::save("ovk_abc"));
    struct Case {
        Config config;
        std::string path, answer, body;
        std::vector<std::pair<std::string, std::string>> headers;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {ownKeyConfig(),
         kGroqPath,
         R"({"choices":[{"message":{"role":"assistant","content":"\n  Polished \"text\". \n"}}]})",
         R"({"max_tokens":2048,"messages":[{"content":"Be \"exact\".","role":"system"},)"
         R"({"content":"<transcript>\na b\n</transcript>","role":"user"}],)"
         R"("model":"openai/gpt-oss-120b","temperature":0.2})",
         {{"Authorization", "Bearer gsk_test_key"}, {"Content-Type", "application/json"}},
         {"authorization", "content-length", "content-type", "host"}},
        {anthropicConfig(),
         kAnthropicPath,
         R"({"content":[{"type":"thinking"},{"type":"text","text":"Polished "},)"
         R"({"type":"text","text":"\"text\"."}]})",
         R"({"max_tokens":2048,"messages":[{"content":"<transcript>\na b\n</transcript>",)"
         R"("role":"user"}],"model":"claude-test","system":"Be \"exact\".","temperature":0.2})",
         {{"x-api-key", "sk-ant-key"}, {"anthropic-version", "2023-06-01"}},
         {"anthropic-version", "content-length", "content-type", "host", "x-api-key"}},
        {serviceWithKeys(),
         "/polish",
         R"({"text":" Polished \"text\". "})",
         R"({"system":"Be \"exact\".","text":"<transcript>\na b\n</transcript>"})",
         {{"Authorization", "Bearer ovk_abc"}, {"X-Velvox-App", API::appSecretForSettings()}},
         {"authorization", "content-length", "content-type", "host", "x-velvox-app",
          "x-velvox-install"}},
    };
    for (const auto& c : cases) {
        server->answer(c.path, 200, c.answer);
        auto result = polishNow("a b", "Be \"exact\".", c.config);
        ASSERT_TRUE(result.ok()) << c.path << ": " << result.errorDescription();
        EXPECT_EQ(result.value(), "Polished \"text\".") << c.path;
        auto request = server->lastRequest();
        EXPECT_EQ(request.path, c.path);
        EXPECT_EQ(request.body, c.body) << c.path;
        for (const auto& [name, value] : c.headers) EXPECT_EQ(request.header(name), value) << name;
        EXPECT_EQ(request.headerNames(), c.names) << c.path;
    }
}

// Only "anthropic" exactly picks Anthropic; a missing key sends nothing.
TEST_F(PolishingTest, TheProviderChoiceIsExactAndNeedsItsKey) {
    server->answer(kGroqPath, 200, R"({"choices":[{"message":{"content":"from groq"}}]})");
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
    const std::tuple<std::string, Config, std::vector<const char*>> cases[] = {
        {kGroqPath,
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
            EXPECT_EQ(polishNow("x", "s", config).errorDescription(), "Unexpected response")
                << body;
        }
    }
}

}  // namespace
}  // namespace velvox::testing
