#include <sstream>

#include "FakedDesktopTest.h"
#include "app/CommandLine.h"
#include "base/Log.h"
#include "config/Config.h"
#include "platform/curl/CurlHttpClient.h"
#include "support/LoopbackServer.h"

namespace velvox {
namespace {

// `velvox ARGS` with a stand-in for the running application.
class CommandLineTest : public testing::TempHomeTest {
  protected:
    int run(Args args) {
        out.str("");
        err.str("");
        CommandLine::Host host;
        host.launchApplication = [this](const Args& urls) {
            launchedWith.push_back(urls);
            return 0;
        };
        host.handOverDictation = [this](DictationCommand command, bool boost) {
            handedOver.push_back(dictationCommandName(command) + (boost ? " boost" : ""));
            return CommandLine::HandedOver{copyRuns, refusal};
        };
        host.applicationRunning = [this] { return copyRuns; };
        host.handOverRetry = [this] {
            handedOver.push_back("retry");
            return CommandLine::HandedOver{copyRuns, refusal};
        };
        int status = CommandLine::run(args, host, out, err);
        Log::sendToStandardError(false);
        return status;
    }
    bool wroteNothing() const { return !fs::exists(home() + "/.velvox"); }

    std::ostringstream out, err;
    std::vector<Args> launchedWith;
    Args handedOver;
    bool copyRuns = true;
    std::string refusal;
};

TEST_F(CommandLineTest, UsageErrorsAndDispatch) {
    // clang-format off
    std::vector<Args> usageErrors = {
        {"--bogus"}, {"config", "extra"}, {"velvox://auth?token=ovk_x", "stats"}, {"retry", "now"},
        {"stats", "--days"}, {"stats", "--week", "--days", "3"}, {"dictate"},
        {"dictate", "begin"}, {"dictate", "start", "--smart"}, {"dictate", "start", "--boost", "now"},
    };
    // clang-format on
    for (const char* days : {"0", "36501", "3.5", "", "99999999999999999999"})
        usageErrors.push_back({"stats", "--days", days});
    for (const auto& args : usageErrors) {
        EXPECT_EQ(run(args), 2) << args.back();
        EXPECT_TRUE(err.str().starts_with("usage: velvox ")) << args.back();
        EXPECT_TRUE(out.str().empty());
    }
    EXPECT_TRUE(launchedWith.empty() && handedOver.empty()) << "a usage error runs nothing";

    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(run({"velvox://auth?token=ovk_x"}), 0);
    EXPECT_EQ(launchedWith, (std::vector<Args>{{}, {"velvox://auth?token=ovk_x"}}));
}

TEST_F(CommandLineTest, DictateAndRetryHandOverToTheRunningCopyOnly) {
    EXPECT_EQ(run({"dictate", "start"}), 0);
    EXPECT_EQ(run({"dictate", "toggle", "--boost"}), 0);
    EXPECT_EQ(run({"dictate", "stop"}), 0);
    EXPECT_EQ(handedOver, (Args{"start", "toggle boost", "stop"}));
    refusal = "the last dictation is still being made";
    EXPECT_EQ(run({"dictate", "start"}), 1);
    EXPECT_EQ(err.str(), "velvox dictate start: the last dictation is still being made\n");
    copyRuns = false;
    EXPECT_EQ(run({"dictate", "toggle"}), 1);
    EXPECT_EQ(err.str(),
              "Velvox is not running. Start it first, then run \"velvox dictate toggle\" again.\n");
    // {application runs, a take is kept, its refusal} -> exit status, message.
    const std::tuple<bool, bool, std::string, int, std::string> retries[] = {
        {true, true, "", 0, ""},
        {true, false, "", 1, "nothing to retry\n"},
        {true, true, "a dictation is being recorded", 1,
         "velvox retry: a dictation is being recorded\n"},
        {false, true, "", 2,
         "Velvox is not running. Start it first, then run \"velvox retry\" again.\n"},
    };
    for (const auto& [runs, kept, refused, status, error] : retries) {
        copyRuns = runs;
        refusal = refused;
        handedOver.clear();
        fs::remove_all(settingsPath("kept"));
        if (kept) writeFile(settingsPath("kept/take-plain-1500.m4a"), "audio");
        EXPECT_EQ(run({"retry"}), status);
        EXPECT_EQ(err.str(), error);
        EXPECT_EQ(handedOver.size(), status == 0 || !refused.empty() ? 1u : 0u);
    }
    EXPECT_TRUE(launchedWith.empty()) << "a command never starts the application itself";
}

// A shortcut's release can overtake its press: what was sent before the last
// command carried out is refused; a sender that gives no time always counts.
TEST(DictationCommandOrderTest, CommandsSentBeforeTheLastOneCarriedOutAreStale) {
    DictationCommandOrder order;
    const std::pair<std::optional<uint64_t>, bool> arrivals[] = {
        {200, true}, {100, false}, {std::nullopt, true}, {200, false}, {201, true}};
    for (const auto& [sentAt, taken] : arrivals) EXPECT_EQ(order.takes(sentAt), taken);
}

TEST_F(CommandLineTest, ConfigPrintsTheSettingsAsReadWithKeysMaskedAndWritesNothing) {
    ASSERT_EQ(run({"config"}), 0);
    EXPECT_TRUE(wroteNothing()) << "no folder, no install id";
    writeFile(settingsPath("config.json"),
              R"({"groqApiKey": "  gsk_0123456789\n", "anthropicApiKey": "ключ",
                  "transcribeApiKey": "gsk_own", "cleanupApiKey": " gsk_lan ",
                  "hotkeyKeyCode": 50, "boostHotkeyKeyCode": 50, "minHoldSeconds": 0})");
    ASSERT_EQ(run({"config"}), 0);
    Json printed = Json::parse(out.str());
    EXPECT_EQ(printed["groqApiKey"], "set (14 characters)");
    EXPECT_EQ(printed["anthropicApiKey"], "set (4 characters)");
    EXPECT_EQ(printed["transcribeApiKey"], "set (7 characters)");
    EXPECT_EQ(printed["cleanupApiKey"], "set (7 characters)");
    EXPECT_EQ(printed["boostHotkeyKeyCode"], 63) << "as read: the clash resolved";
    EXPECT_EQ(out.str().find("gsk_"), std::string::npos) << "the key itself never shows";
    for (const char* blank : {"", " \n"}) EXPECT_EQ(CommandLine::maskedKey(blank), "");

    writeFile(settingsPath("config.json"), "{oops");
    ASSERT_EQ(run({"config"}), 0);
    EXPECT_EQ(Json::parse(out.str())["cleanup"], true);
    EXPECT_EQ(std::distance(fs::directory_iterator(settingsPath("")), fs::directory_iterator()), 1)
        << "only config.json: the log line went elsewhere";
}

TEST_F(CommandLineTest, StatsPrintsTheSummaryOfTheChosenSpanAndWritesNothing) {
    setEnv("TZ", "UTC");
    ::tzset();
    ASSERT_EQ(run({"stats"}), 0);
    EXPECT_TRUE(wroteNothing());
    // The clock stands at Monday 09:00 UTC: the week began 9 hours ago.
    std::string events;
    for (auto [secondsAgo, spoken] : {std::pair{60, 5}, {10 * 3600, 7}, {3 * 86400, 11}})
        events += Json{{"at", 1772442000 - secondsAgo}, {"spoken", spoken}}.dump() + "\n";
    writeFile(settingsPath("stats.jsonl"), events);
    const std::tuple<Args, int, int> spans[] = {
        {{"stats"}, 30, 23}, {{"stats", "--days", "2"}, 2, 12}, {{"stats", "--week"}, 7, 5}};
    for (const auto& [args, days, words] : spans) {
        ASSERT_EQ(run(args), 0);
        EXPECT_EQ(Json::parse(out.str())["words"], words) << days;
        EXPECT_EQ(Json::parse(out.str())["perDay"].size(), size_t(days));
    }
    setEnv("TZ", std::nullopt);
    ::tzset();
}

// `velvox transcribe` against a real loopback stand-in for Groq, through the
// real HTTP client.
using TranscribeCommandTest = CommandLineTest;
TEST_F(TranscribeCommandTest, RunsTheDictationPipelineOnAFile) {
    testing::LoopbackServer server;
    Platform::installHttpClient(std::make_shared<CurlHttpClient>());
    setEnv("VELVOX_GROQ_BASE", server.base());
    writeFile(settingsPath("config.json"), R"({"useOwnKey": true, "groqApiKey": "gsk_loopback"})");
    const std::string audio = home() + "/take.m4a";
    writeFile(audio, std::string(4000, '\x01'));
    auto answer = [&](int status, std::string said, int polishStatus = 200, std::string out = "") {
        server.answer("/openai/v1/audio/transcriptions", status, Json{{"text", said}}.dump());
        server.answer("/openai/v1/chat/completions", polishStatus,
                      Json{{"choices", {{{"message", {{"content", out}}}}}}}.dump());
    };

    answer(200, " reddit for the cache is fast", 200, "Redis for the cache is fast.Really ?");
    ASSERT_EQ(run({"transcribe", audio}), 0) << err.str();
    EXPECT_EQ(out.str(), "Redis for the cache is fast. Really?\n");
    ASSERT_EQ(run({"transcribe", audio, "--kind", "email"}), 0);
    EXPECT_EQ(Json::parse(server.lastRequest().body)["messages"][0]["content"],
              Config::defaultEmailPrompt());
    EXPECT_TRUE(fs::exists(audio)) << "the file is never deleted";
    for (const char* record : {"history.md", "stats.jsonl"})
        EXPECT_FALSE(fs::exists(settingsPath(record))) << record;
    // A failed polish still prints the transcript, and says why on the error stream.
    answer(200, "raw words", 429);
    EXPECT_EQ(run({"transcribe", audio}), 0);
    EXPECT_EQ(out.str(), "raw words\n");
    EXPECT_EQ(err.str(), "polish failed, using raw transcript: Rate limited, wait a moment\n");
    answer(500, "");
    EXPECT_EQ(run({"transcribe", audio}), 1);
    EXPECT_EQ(err.str(), "Service unavailable, try again\n");
    size_t requests = server.requests().size();
    for (const Args& args : std::vector<Args>{{"transcribe", home()},  // a folder is no audio file
                                              {"transcribe"},
                                              {"transcribe", audio, "--kind", "poem"},
                                              {"transcribe", audio, "--kind"},
                                              {"transcribe", home() + "/missing.m4a"}})
        EXPECT_EQ(run(args), 2) << args.back();
    EXPECT_EQ(err.str(), "cannot read " + home() + "/missing.m4a: No such file or directory\n");
    EXPECT_EQ(server.requests().size(), requests);
    // The client's kept-alive connections close first, or the stand-in waits them out.
    Platform::installHttpClient(nullptr);
    setEnv("VELVOX_GROQ_BASE", std::nullopt);
}

}  // namespace
}  // namespace velvox
