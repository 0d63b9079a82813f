#include <gtest/gtest.h>

#include "services/API.h"
#include "services/APIError.h"

namespace velvox {
namespace {

TEST(APIErrorTest, EveryCaseHasItsMessage) {
    EXPECT_EQ(APIError::noKey("Groq").errorDescription(), "No Groq API key set");
    EXPECT_EQ(APIError::noKey("Anthropic").errorDescription(), "No Anthropic API key set");
    EXPECT_EQ(APIError::allowanceUsed(2100, 2000).errorDescription(),
              "Free allowance used, 2000 words a week");
    EXPECT_EQ(APIError::trialOver(3).errorDescription(),
              "That was your 3 free goes. Sign in to keep going");
    EXPECT_EQ(APIError::message("Check your inbox").errorDescription(), "Check your inbox");
    EXPECT_EQ(APIError::badResponse().errorDescription(), "Unexpected response");
    EXPECT_EQ(APIError::serviceNotReady().errorDescription(), "Velvox's service is not available");
    EXPECT_EQ(APIError::signedOut().errorDescription(), "Sign in to Velvox to dictate");
}

TEST(APIErrorTest, HttpMessagesFollowTheStatus) {
    const std::pair<int, const char*> table[] = {
        {401, "API key rejected"},
        {403, "API key rejected"},
        {404, "Model unavailable"},
        {413, "Recording too long"},
        {429, "Rate limited, wait a moment"},
        {500, "Service unavailable, try again"},
        {503, "Service unavailable, try again"},
        {599, "Service unavailable, try again"},
        {418, "Request failed (418)"},
        {600, "Request failed (600)"},
        {499, "Request failed (499)"},
        {302, "Request failed (302)"},
    };
    for (const auto& [status, message] : table) {
        EXPECT_EQ(APIError::http(status, "body").errorDescription(), message) << status;
    }
}

TEST(APIErrorTest, ServiceErrorGivesTheServiceMeaningOfAStatus) {
    auto mapped = [](int status, const std::string& body) {
        return describe(API::serviceError(APIError::http(status, body)));
    };
    EXPECT_EQ(mapped(401, ""), "Sign in to Velvox to dictate");
    EXPECT_EQ(mapped(503, ""), "Velvox's service is not available");
    EXPECT_EQ(mapped(500, ""), "Service unavailable, try again");
    EXPECT_EQ(mapped(418, ""), "Request failed (418)");
    EXPECT_EQ(mapped(403, ""), "API key rejected");

    // 402 in every shape: never a second error.
    EXPECT_EQ(mapped(402, R"({"error":"trial_over"})"),
              "That was your 10 free goes. Sign in to keep going");
    EXPECT_EQ(mapped(402, R"({"error":"trial_over","cap":3})"),
              "That was your 3 free goes. Sign in to keep going");
    EXPECT_EQ(mapped(402, R"({"error":"trial_over","cap":"3"})"),
              "That was your 10 free goes. Sign in to keep going");
    EXPECT_EQ(mapped(402, R"({"error":"trial_over","cap":2.5})"),
              "That was your 10 free goes. Sign in to keep going");
    EXPECT_EQ(mapped(402, R"({"used":2100,"cap":2000})"), "Free allowance used, 2000 words a week");
    EXPECT_EQ(mapped(402, R"({"error":"TRIAL_OVER","cap":3})"),
              "Free allowance used, 3 words a week");
    EXPECT_EQ(mapped(402, ""), "Free allowance used, 0 words a week");
    EXPECT_EQ(mapped(402, "[1,2]"), "Free allowance used, 0 words a week");
    EXPECT_EQ(mapped(402, R"({"used":)"), "Free allowance used, 0 words a week");
    EXPECT_EQ(mapped(402, "\xff\xfe"), "Free allowance used, 0 words a week");
    EXPECT_EQ(mapped(402, R"({"cap":99999999999999999999})"),
              "Free allowance used, 0 words a week");

    auto allowance = API::serviceError(APIError::http(402, R"({"used":2100,"cap":2000})"));
    EXPECT_EQ(std::get<APIError>(allowance), APIError::allowanceUsed(2100, 2000));
}

TEST(APIErrorTest, ServiceErrorLeavesOtherErrorsAlone) {
    TransportError lost{TransportError::Kind::connectionLost, "The network connection was lost."};
    auto kept = API::serviceError(lost);
    ASSERT_TRUE(std::holds_alternative<TransportError>(kept));
    EXPECT_EQ(describe(kept), "The network connection was lost.");
    EXPECT_EQ(std::get<APIError>(API::serviceError(APIError::badResponse())),
              APIError::badResponse());
    EXPECT_EQ(std::get<APIError>(API::serviceError(APIError::noKey("Groq"))),
              APIError::noKey("Groq"));
}

TEST(APIErrorTest, TheServiceIsUsedOnlyWithoutOwnKeysAndWithABase) {
    Config config;
    config.useOwnKey = false;
    config.apiBase = "https://api.example.com";
    EXPECT_TRUE(API::usesService(config));
    config.useOwnKey = true;
    EXPECT_FALSE(API::usesService(config));
    config.useOwnKey = false;
    config.apiBase = "";
    EXPECT_FALSE(API::usesService(config));
    EXPECT_FALSE(API::needsSignIn(config));
    EXPECT_EQ(API::appSecretForSettings(), "Q7vT2mLw9xKp4RbN8cZd1FhJ6sYg3Ue_");
}

TEST(APIErrorTest, ResultsCarryAValueOrAnError) {
    API::TextResult text = std::string("hello");
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text.value(), "hello");
    EXPECT_EQ(text.apiError(), nullptr);

    API::TextResult failed = APIError::signedOut();
    EXPECT_FALSE(failed.ok());
    ASSERT_NE(failed.apiError(), nullptr);
    EXPECT_EQ(failed.errorDescription(), "Sign in to Velvox to dictate");

    API::TextResult lost = TransportError{TransportError::Kind::timedOut, "The request timed out."};
    EXPECT_EQ(lost.apiError(), nullptr);
    EXPECT_EQ(lost.errorDescription(), "The request timed out.");
}

}  // namespace
}  // namespace velvox
