#include <gtest/gtest.h>

#include <thread>

#include "base/NotificationCenter.h"
#include "services/Auth.h"
#include "unit/services/ServiceTest.h"

namespace velvox::testing {
namespace {

class AuthTest : public ServiceTest {
  protected:
    nlohmann::json configFile() const {
        return nlohmann::json::parse(readFile(settingsPath("config.json")), nullptr, false);
    }
    // Runs requestLink; `done` must run on the main queue, not on the network thread.
    std::optional<EmptyResult> requestLinkNow(const std::string& email, const Config& config) {
        std::optional<EmptyResult> received;
        Auth::requestLink(email, config, [&received](EmptyResult result) { received = result; });
        if (received) return received;  // answered at once
        for (int i = 0; i < 6000 && !queue->hasPendingWork(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_FALSE(received) << "done runs on the main queue, not the network thread";
        queue->runUntilIdle();
        return received;
    }
    int posts = 0;
    Subscription subscription = NotificationCenter::defaultCenter().observe(
        Auth::changed, [this](const UserInfo& info) { posts += info.is_null() ? 1 : 100; });
};

TEST_F(AuthTest, TheTokenIsReadAfreshSavedOnlyWithItsPrefixAndSignedOut) {
    EXPECT_FALSE(Auth::token());
    writeFile(settingsPath("config.json"), R"({"deviceToken":"  ovk_abc \n"})");
    EXPECT_EQ(Auth::token(), "ovk_abc");
    for (const char* content :
         {R"({"deviceToken":"OVK_abc"})", R"({"deviceToken":"xovk_abc"})", R"({"deviceToken":""})",
          R"({"deviceToken":7})", R"(["ovk_abc"])", R"({"deviceToken":"ovk_abc")", ""}) {
        writeFile(settingsPath("config.json"), content);
        EXPECT_FALSE(Auth::token()) << content;
    }
    std::filesystem::remove(settingsPath("config.json"));
    EXPECT_FALSE(Auth::token());
    writeFile(settingsPath("config.json"), "{}");  // saving and signing out store, log and announce
    EXPECT_TRUE(Auth::save("  ovk_pasted_token\n"));
    EXPECT_EQ(configFile()["deviceToken"], "ovk_pasted_token");
    EXPECT_EQ(posts, 1);
    std::string before = readFile(settingsPath("config.json"));
    // Not a token, one that would break every request's header, one far too long.
    for (const std::string& refused :
         {std::string("OVK_pasted_token"), std::string(""), std::string("token ovk_x"),
          std::string("ovk_a\r\nX: 1"), "ovk_" + std::string(509, 'a')})
        EXPECT_FALSE(Auth::save(refused)) << refused;
    EXPECT_EQ(readFile(settingsPath("config.json")), before);  // a refused token writes nothing
    EXPECT_EQ(posts, 1);
    EXPECT_TRUE(Auth::save("ovk_" + std::string(508, 'a')));  // the longest a token may be
    EXPECT_EQ(posts, 2);
    Auth::signOut();
    EXPECT_EQ(configFile()["deviceToken"], "");
    EXPECT_FALSE(Auth::signedIn());
    EXPECT_EQ(posts, 3);
    EXPECT_EQ(logMessages(),  // no token
              (std::vector<std::string>{
                  "signed in",
                  "sign-in refused: the token holds control characters, the sign-in stays as it "
                  "was",
                  "sign-in refused: the token is too long, the sign-in stays as it was",
                  "signed in", "signed out"}));
}

TEST_F(AuthTest, TheCallbackAddressSavesItsToken) {
    for (const char* address : {"velvox://auth?token=", "velvox://auth?token", "velvox://auth",
                                "velvox://auth?other=ovk_x", "velvox://login?token=ovk_x",
                                "Velvox://auth?token=ovk_x", "velvox://auth?token=abc"})
        EXPECT_FALSE(Auth::handle(address)) << address;
    EXPECT_EQ(posts, 0) << "nothing saved";
    EXPECT_TRUE(Auth::handle("velvox://auth?from=mail&token=ovk_first&token=ovk_second#x"));
    EXPECT_EQ(Auth::token(), "ovk_first");
    EXPECT_TRUE(Auth::handle("velvox://auth/?token=%20ovk_encoded%2Dvalue%0A"));
    EXPECT_EQ(Auth::token(), "ovk_encoded-value");
    EXPECT_EQ(posts, 2);
}

// What the service said, else the status's message; an address that is no
// address answers at once and sends nothing. Link failures are not logged.
// The request is outside the service frame: no bearer, no install identifier.
TEST_F(AuthTest, RequestingALinkSendsItsOwnRequestAndSaysWhatTheServiceSaid) {
    ASSERT_TRUE(Auth::save("ovk_signed_in"));
    const std::tuple<const char*, int, const char*, const char*> table[] = {
        {"", 200, "not even json", ""},
        {"", 400, R"({"message":"That address cannot get mail."})",
         "That address cannot get mail."},
        {"", 400, R"({"message":"","error":"bad_email"})", "Request failed (400)"},
        {"", 201, "{}", "Request failed (201)"},
        {"no address", 200, "{}", "Unexpected response"},
        {"http://127.0.0.1:1", 200, "{}", "Could not connect to the server."},
    };
    for (const auto& [base, status, body, message] : table) {
        server->answer("/auth/start", status, body);
        Config config = serviceConfig();
        if (*base) config.apiBase = base;
        auto result = requestLinkNow("ada@example.com", config);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->ok() ? "" : result->errorDescription(), message) << status << body;
    }
    ASSERT_EQ(server->requests().size(), 4u);
    EXPECT_EQ(logMessages(), std::vector<std::string>{"signed in"});
    auto request = server->requests().front();
    EXPECT_EQ(request.method + " " + request.path + " " + request.body,
              R"(POST /auth/start {"email":"ada@example.com"})");
    EXPECT_EQ(headersOf(request), "content-type: application/json\nx-velvox-app: app\n");
    EXPECT_EQ(configFile().count("installId"), 0u);
}

}  // namespace
}  // namespace velvox::testing
