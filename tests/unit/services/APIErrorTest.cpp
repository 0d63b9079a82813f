// The one place where statuses and errors become the messages the user reads.
#include <gtest/gtest.h>

#include "services/API.h"
#include "services/APIError.h"

namespace velvox {
namespace {

// What a status says from a provider (own key) and from the service, which
// gives 401, 402 and 503 its own meaning.
TEST(APIErrorTest, StatusesSayTheirMessageOnEachRoute) {
    struct Case {
        int status;
        const char* body;
        const char* provider;
        const char* service;
    };
    const Case cases[] = {
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
        {402, R"({"error":"trial_over"})", "Request failed (402)",
         "That was your 10 free goes. Sign in to keep going"},
        {402, R"({"error":"trial_over","cap":3})", "Request failed (402)",
         "That was your 3 free goes. Sign in to keep going"},
        {402, R"({"error":"trial_over","cap":"3"})", "Request failed (402)",
         "That was your 10 free goes. Sign in to keep going"},
        {402, R"({"error":"trial_over","cap":2.5})", "Request failed (402)",
         "That was your 10 free goes. Sign in to keep going"},
        {402, R"({"used":2100,"cap":2000})", "Request failed (402)",
         "Free allowance used, 2000 words a week"},
        {402, R"({"error":"TRIAL_OVER","cap":3})", "Request failed (402)",
         "Free allowance used, 3 words a week"},
        {402, "", "Request failed (402)", "Free allowance used, 0 words a week"},
        {402, "[1,2]", "Request failed (402)", "Free allowance used, 0 words a week"},
        {402, R"({"used":)", "Request failed (402)", "Free allowance used, 0 words a week"},
        {402, "\xff\xfe", "Request failed (402)", "Free allowance used, 0 words a week"},
        {402, R"({"cap":99999999999999999999})", "Request failed (402)",
         "Free allowance used, 0 words a week"},
    };
    for (const auto& c : cases) {
        APIError error = APIError::http(c.status, c.body);
        EXPECT_EQ(error.errorDescription(), c.provider) << c.status << " " << c.body;
        EXPECT_EQ(describe(API::serviceError(error)), c.service) << c.status << " " << c.body;
    }
    EXPECT_EQ(
        std::get<APIError>(API::serviceError(APIError::http(402, R"({"used":2100,"cap":2000})"))),
        APIError::allowanceUsed(2100, 2000));
}

TEST(APIErrorTest, OtherErrorsSayTheirOwnMessageOnEveryRoute) {
    const std::pair<APIError, const char*> cases[] = {
        {APIError::noKey("Groq"), "No Groq API key set"},
        {APIError::noKey("Anthropic"), "No Anthropic API key set"},
        {APIError::allowanceUsed(2100, 2000), "Free allowance used, 2000 words a week"},
        {APIError::trialOver(3), "That was your 3 free goes. Sign in to keep going"},
        {APIError::message("Check your inbox"), "Check your inbox"},
        {APIError::badResponse(), "Unexpected response"},
        {APIError::serviceNotReady(), "Velvox's service is not available"},
        {APIError::signedOut(), "Sign in to Velvox to dictate"},
    };
    for (const auto& [error, message] : cases) {
        EXPECT_EQ(error.errorDescription(), message);
        EXPECT_EQ(std::get<APIError>(API::serviceError(error)), error) << message;
    }
    TransportError lost{TransportError::Kind::connectionLost, "The network connection was lost."};
    EXPECT_EQ(describe(API::serviceError(lost)), "The network connection was lost.");
    API::TextResult timedOut = TransportError{TransportError::Kind::timedOut, "timed out"};
    EXPECT_EQ(timedOut.apiError(), nullptr);
    EXPECT_EQ(timedOut.errorDescription(), "timed out");
}

}  // namespace
}  // namespace velvox
