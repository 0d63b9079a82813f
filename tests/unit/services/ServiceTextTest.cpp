// Statuses and errors as the messages the user reads, addresses, and logged text.
#include <gtest/gtest.h>

#include "services/API.h"
#include "services/APIError.h"
#include "services/TextPieces.h"
#include "services/Url.h"
#include "services/Wav.h"

namespace velvox {
namespace {

// What a status says from a provider (own key) and from the service, which
// gives 401, 402 and 503 its own meaning.
TEST(APIErrorTest, StatusesSayTheirMessageOnEachRoute) {
    // clang-format off
    const std::tuple<int, const char*, const char*, const char*> cases[] = {
        {401, "", "API key rejected", "Sign in to Velvox to dictate"},
        {403, "", "API key rejected", "API key rejected"},
        {404, "", "Model unavailable", "Model unavailable"},
        {413, "", "Recording too long", "Recording too long"},
        {429, "", "Rate limited, wait a moment", "Rate limited, wait a moment"},
        {499, "", "Request failed (499)", "Request failed (499)"},
        {500, "", "Service unavailable, try again", "Service unavailable, try again"},
        {503, "", "Service unavailable, try again", "Velvox's service is not available"},
        {599, "", "Service unavailable, try again", "Service unavailable, try again"},
        {600, "", "Request failed (600)", "Request failed (600)"},
        // 402 in every shape: never a second error.
        {402, R"({"error":"trial_over"})", "Request failed (402)", "That was your 10 free goes. Sign in to keep going"},
        {402, R"({"error":"trial_over","cap":3})", "Request failed (402)", "That was your 3 free goes. Sign in to keep going"},
        {402, R"({"error":"trial_over","cap":"3"})", "Request failed (402)", "That was your 10 free goes. Sign in to keep going"},
        {402, R"({"error":"trial_over","cap":2.5})", "Request failed (402)", "That was your 10 free goes. Sign in to keep going"},
        {402, R"({"used":2100,"cap":2000})", "Request failed (402)", "Free allowance used, 2000 words a week"},
        {402, R"({"error":"TRIAL_OVER","cap":3})", "Request failed (402)", "Free allowance used, 3 words a week"},
        {402, "", "Request failed (402)", "Free allowance used, 0 words a week"},
        {402, R"({"cap":99999999999999999999})", "Request failed (402)", "Free allowance used, 0 words a week"},
    };
    // clang-format on
    for (const auto& [status, body, provider, service] : cases) {
        APIError error = APIError::http(status, body);
        EXPECT_EQ(error.errorDescription(), provider) << status << " " << body;
        EXPECT_EQ(describe(API::serviceError(error)), service) << status << " " << body;
    }
}

// Errors that are not a status pass through the service's reading unchanged.
TEST(APIErrorTest, OtherErrorsSayTheirOwnMessageOnEveryRoute) {
    for (const APIError& error : {APIError::trialOver(3), APIError::message("Check your inbox")})
        EXPECT_EQ(std::get<APIError>(API::serviceError(error)), error) << error.errorDescription();
    TransportError lost{TransportError::Kind::connectionLost, "The network connection was lost."};
    EXPECT_EQ(describe(API::serviceError(lost)), "The network connection was lost.");
}

TEST(UrlTest, AcceptsHttpAddressesOnlyAndKeepsThePath) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"https://api.velvox.app/v1/transcribe?x=1#top", "https api.velvox.app /v1/transcribe"},
        {"HTTP://127.0.0.1:8080/polish", "http 127.0.0.1 /polish"},
        {"https://[::1]:443", "https [::1] "},
        {"https://host/a%20b", "https host /a%20b"}};
    // clang-format on
    for (const auto& [text, parts] : cases) {
        auto url = parseHttpUrl(text);
        ASSERT_TRUE(url) << text;
        EXPECT_EQ(url->scheme + " " + url->host + " " + url->path, parts) << text;
    }
    for (const char* text :
         {"/transcribe", "https://exa mple.com/x", "https:///transcribe", "file:///etc/passwd",
          "https://user:pw@host/x", "https://host:99999/x", "https://host:8a/x", "https://host/%zz",
          "https://host/\r\nX: y", "https://%zz/x", "https://host/%g4", "https://host/%4g1"})
        EXPECT_FALSE(parseHttpUrl(text)) << text;
}

TEST(UrlTest, LoggedTextIsCutByCharactersAndScrubbedOfSecrets) {
    std::string accented;
    for (int i = 0; i < 300; ++i) accented += "e\xcc\x81";  // e + combining acute: one character
    EXPECT_EQ(TextPieces::prefixCharacters(accented, 200).size(), 200u * 3);
    EXPECT_FALSE(TextPieces::isValidUtf8("caf\xc3"));
    EXPECT_EQ(TextPieces::redact("key sk-1 and sk-1 again", "sk-1"),
              "key [redacted] and [redacted] again");
    EXPECT_EQ(TextPieces::redact("aaaa", "aa"), "[redacted][redacted]");
    EXPECT_EQ(TextPieces::redact("nothing", ""), "nothing");
}

// The header every reader checks: format, rate, sizes of what follows. An
// odd byte at the end would split a sample and is left out.
TEST(WavTest, TheHeaderSaysWhatFollows) {
    const std::string header(
        "RIFF\x28\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\x3e\0\0"
        "\0\x7d\0\0\x02\0\x10\0data\x04\0\0\0",
        44);
    EXPECT_TRUE(Wav::fromPcm16(std::string("\x01\0\xff\x7f\x10", 5), 16000, 1) ==
                header + std::string("\x01\0\xff\x7f", 4));
}

}  // namespace
}  // namespace velvox
