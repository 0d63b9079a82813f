#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/CommandLine.h"
#include "base/Log.h"
#include "config/Config.h"
#include "platform/HttpClient.h"
#include "platform/curl/CurlHttpClient.h"
#include "support/LoopbackServer.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;

// `velvox transcribe` against a real loopback stand-in for Groq, through the
// real HTTP client.
class TranscribeCommandTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installHttpClient(std::make_shared<CurlHttpClient>());
        ::setenv("VELVOX_GROQ_BASE", server.base().c_str(), 1);
        writeFile(settingsPath("config.json"),
                  Json{{"useOwnKey", true},
                       {"groqApiKey", "gsk_loopback"},
                       {"corrections", {{"reddit for the cache", "Redis for the cache"}}}}
                      .dump());
        audio = home() + "/take.m4a";
        writeFile(audio, std::string(4000, '\x01'));
    }
    void TearDown() override {
        Platform::installHttpClient(nullptr);
        ::unsetenv("VELVOX_GROQ_BASE");
        TempHomeTest::TearDown();
    }

    int run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        args.insert(args.begin(), "transcribe");
        return CommandLine::run(args, {}, out, err);
    }
    void answerTranscript(const std::string& text) {
        server.answer("/openai/v1/audio/transcriptions", 200, Json{{"text", text}}.dump());
    }
    void answerPolish(int status, const std::string& text) {
        server.answer("/openai/v1/chat/completions", status,
                      Json{{"choices", {{{"message", {{"content", text}}}}}}}.dump());
    }
    std::string systemPromptSent() {
        return Json::parse(server.lastRequest().body)["messages"][0]["content"];
    }

    testing::LoopbackServer server;
    std::string audio;
    std::ostringstream out, err;
};

TEST_F(TranscribeCommandTest, PlainAndBoostDictationsOfAFile) {
    answerTranscript(" reddit for the cache is fast");
    answerPolish(200, "Redis for the cache is fast.Really ?");
    ASSERT_EQ(run({audio}), 0) << err.str();
    EXPECT_EQ(out.str(), "Redis for the cache is fast. Really?\n");
    EXPECT_EQ(systemPromptSent(), Config::defaultPrompt());

    ASSERT_EQ(run({audio, "--kind", "email"}), 0);
    EXPECT_EQ(systemPromptSent(), Config::defaultEmailPrompt());
    EXPECT_TRUE(std::filesystem::exists(audio)) << "the file is never deleted";
    EXPECT_FALSE(std::filesystem::exists(settingsPath("history.md")));
    EXPECT_FALSE(std::filesystem::exists(settingsPath("stats.jsonl")));
}

TEST_F(TranscribeCommandTest, FailuresGoToStandardError) {
    server.answer("/openai/v1/audio/transcriptions", 500, "{}");
    EXPECT_EQ(run({audio}), 1);
    EXPECT_EQ(err.str(), "Service unavailable, try again\n");
    EXPECT_EQ(out.str(), "");

    answerTranscript("  ");
    EXPECT_EQ(run({audio}), 1);
    EXPECT_EQ(err.str(), "Heard nothing, check the input device\n");

    answerTranscript("raw words");
    answerPolish(429, "");
    EXPECT_EQ(run({audio}), 0);
    EXPECT_EQ(out.str(), "raw words\n");
    EXPECT_EQ(err.str(), "polish failed, using raw transcript: Rate limited, wait a moment\n");
}

TEST_F(TranscribeCommandTest, TheLogHoldsTheFailureWhenTheCommandReturns) {
    // The line is queued by the network thread just before the answer, behind
    // a backlog that keeps the writer busy; the file is read straight after
    // each run, without waiting for the writer.
    server.answer("/openai/v1/audio/transcriptions", 500, R"({"error":"busy"})");
    for (int run = 1; run <= 5; ++run) {
        for (int line = 0; line < 1000; ++line) Log::write("x");
        ASSERT_EQ(this->run({audio}), 1);
        std::string log = readFile(settingsPath("app.log"));
        size_t lines = 0;
        for (size_t at = log.find("HTTP 500 from "); at != std::string::npos;
             at = log.find("HTTP 500 from ", at + 1))
            ++lines;
        ASSERT_EQ(lines, static_cast<size_t>(run)) << log;
    }
}

TEST_F(TranscribeCommandTest, BadArgumentsAndUnreadableFiles) {
    EXPECT_EQ(run({home() + "/missing.m4a"}), 2);
    EXPECT_EQ(err.str(), "cannot read " + home() + "/missing.m4a: No such file or directory\n");
    EXPECT_EQ(run({home()}), 2) << "a folder is not an audio file";
    EXPECT_EQ(run({}), 2);
    EXPECT_EQ(run({audio, "--kind", "poem"}), 2);
    EXPECT_EQ(run({audio, "--kind"}), 2);
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace velvox
