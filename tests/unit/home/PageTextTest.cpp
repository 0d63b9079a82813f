// The small text pieces the bridge is built from.
#include <gtest/gtest.h>

#include <cmath>

#include "base/Strings.h"
#include "home/PageMessage.h"
#include "home/PageScript.h"
#include "home/WebText.h"

namespace velvox {
namespace {

TEST(WebText, EncodesAndChecksWhatIsSentOrOpened) {
    const std::pair<std::string, std::string> base64[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foobar", "Zm9vYmFy"},
        {std::string("\x89PNG\xff\xfe\x00", 7), "iVBOR//+AA=="}};
    for (const auto& [raw, encoded] : base64) EXPECT_EQ(WebText::base64(raw), encoded) << encoded;

    EXPECT_EQ(WebText::queryValue("ada@example.com"), "ada@example.com");
    EXPECT_EQ(WebText::queryValue("a+b&c=d e#f%"), "a%2Bb%26c%3Dd%20e%23f%25");
    EXPECT_EQ(WebText::queryValue("jos\xC3\xA9@x.io"), "jos%C3%A9@x.io");

    for (const char* good : {"https://velvox.app/upgrade?email=a@b.c", "mailto:ada@example.com"})
        EXPECT_TRUE(WebText::isOpenableURL(good)) << good;
    for (const char* bad :
         {"", "velvox.app/upgrade", "://x", "https://a b", "1http://x", "https:", "https://x\n"})
        EXPECT_FALSE(WebText::isOpenableURL(bad)) << bad;
}

TEST(PageMessage, NeedsAnObjectWithAStringActionAndReadsFieldsByType) {
    for (const char* body : {"[]", "{\"action\":null}", "not json"})
        EXPECT_FALSE(PageMessage::parse(body)) << body;
    auto message = PageMessage::parse(
        R"({"action":"x","text":5,"list":["a","b"],"map":{"k":"v"},"key":"hotkeyKeyCode"})");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->action(), "x");
    EXPECT_EQ(message->text(), "");
    EXPECT_EQ(message->list(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(message->map(), (std::map<std::string, std::string>{{"k", "v"}}));
    EXPECT_EQ(message->string("key"), "hotkeyKeyCode");
}

// Pushes are guarded calls, so a page without the function ignores them.
TEST(PageScript, CallsAreGuardedAndNumbersAreBareDecimals) {
    EXPECT_EQ(PageScript::callRaw("window.orvoUsage", std::string_view("{own:true}")),
              "window.orvoUsage && window.orvoUsage({own:true})");
    nlohmann::ordered_json object;
    object["b"] = 1;
    object["a"] = "</script>\u2028";
    EXPECT_EQ(PageScript::call("window.orvoX", object),
              "window.orvoX && window.orvoX({\"b\":1,\"a\":\"</script>\u2028\"})");
    const std::pair<double, const char*> decimals[] = {
        {0.5, "0.5"}, {0, "0"}, {1, "1"}, {std::nan(""), "0"}};
    for (const auto& [value, text] : decimals) EXPECT_EQ(Strings::decimal(value), text);
    EXPECT_EQ(Strings::fixed(2, 1), "2.0");
    EXPECT_EQ(Strings::fixed(1.25, 1), "1.2");
    EXPECT_EQ(Strings::fixed(-0.06, 1), "-0.1");
}

}  // namespace
}  // namespace velvox
