// The small text pieces the bridge is built from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "base/Strings.h"
#include "home/Home.h"
#include "home/PageFunctions.h"
#include "home/PageMessage.h"
#include "home/PageScript.h"
#include "home/WebText.h"

namespace velvox {
namespace {

TEST(WebText, Base64MatchesTheStandardAlphabetAndPadding) {
    EXPECT_EQ(WebText::base64(""), "");
    EXPECT_EQ(WebText::base64("f"), "Zg==");
    EXPECT_EQ(WebText::base64("fo"), "Zm8=");
    EXPECT_EQ(WebText::base64("foo"), "Zm9v");
    EXPECT_EQ(WebText::base64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(WebText::base64(std::string("\x89PNG\xff\xfe\x00", 7)), "iVBOR//+AA==");
}

TEST(WebText, QueryValuesKeepOnlyWhatCannotChangeTheirMeaning) {
    EXPECT_EQ(WebText::queryValue("ada@example.com"), "ada@example.com");
    EXPECT_EQ(WebText::queryValue("a+b&c=d e#f%"), "a%2Bb%26c%3Dd%20e%23f%25");
    EXPECT_EQ(WebText::queryValue("jos\xC3\xA9@x.io"), "jos%C3%A9@x.io");
}

TEST(WebText, OnlyAbsoluteAddressesWithoutSpacesAreOpened) {
    EXPECT_TRUE(WebText::isOpenableURL("https://velvox.app/upgrade?email=a@b.c"));
    EXPECT_TRUE(WebText::isOpenableURL("mailto:ada@example.com"));
    for (const char* bad :
         {"", "velvox.app/upgrade", "://x", "https://a b", "1http://x", "https:", "https://x\n"})
        EXPECT_FALSE(WebText::isOpenableURL(bad)) << bad;
}

TEST(PageMessage, NeedsAnObjectWithAStringActionAndReadsFieldsByType) {
    EXPECT_FALSE(PageMessage::parse("[]"));
    EXPECT_FALSE(PageMessage::parse("{\"action\":null}"));
    EXPECT_FALSE(PageMessage::parse("not json"));
    auto message = PageMessage::parse(
        R"({"action":"x","text":5,"list":["a","b"],"map":{"k":"v"},"key":"hotkeyKeyCode"})");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->action(), "x");
    EXPECT_EQ(message->text(), "");
    EXPECT_EQ(message->list(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(message->map(), (std::map<std::string, std::string>{{"k", "v"}}));
    EXPECT_EQ(message->string("key"), "hotkeyKeyCode");
}

TEST(PageScript, CallsAreGuardedAndNumbersAreBareDecimals) {
    EXPECT_EQ(PageScript::callRaw("window.orvoUsage", std::string_view("{own:true}")),
              "window.orvoUsage && window.orvoUsage({own:true})");
    nlohmann::ordered_json object;
    object["b"] = 1;
    object["a"] = "</script>\u2028";
    EXPECT_EQ(PageScript::call("window.orvoX", object),
              "window.orvoX && window.orvoX({\"b\":1,\"a\":\"</script>\u2028\"})");
    EXPECT_EQ(Strings::decimal(0.5), "0.5");
    EXPECT_EQ(Strings::decimal(0), "0");
    EXPECT_EQ(Strings::decimal(1), "1");
    EXPECT_EQ(Strings::decimal(std::nan("")), "0");
    EXPECT_EQ(Strings::fixed(2, 1), "2.0");
    EXPECT_EQ(Strings::fixed(1.25, 1), "1.2");
    EXPECT_EQ(Strings::fixed(-0.06, 1), "-0.1");
}

// ---- the page protocol: one list, both sides held against it ----

std::filesystem::path resourcesFolder() {
    const char* data = std::getenv("VELVOX_TEST_DATA");
    return std::filesystem::path(data ? data : "tests/data").parent_path().parent_path() /
           "resources";
}

std::string pagesText() {
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(resourcesFolder())) {
        auto extension = entry.path().extension();
        if (extension != ".js" && extension != ".html") continue;
        std::ifstream in(entry.path());
        text += std::string(std::istreambuf_iterator<char>(in), {}) + "\n";
    }
    return text;
}

std::set<std::string> matches(const std::string& text, const std::string& pattern) {
    std::set<std::string> found;
    std::regex expression(pattern);
    for (std::sregex_iterator it(text.begin(), text.end(), expression), end; it != end; ++it)
        found.insert((*it)[1]);
    return found;
}

TEST(PageProtocol, PagesAndProgramUseTheOneListOfActionsAndFunctions) {
    std::ifstream in(resourcesFolder() / "page-protocol.json");
    auto protocol = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(protocol.is_object()) << resourcesFolder();
    auto actions = protocol["actions"].get<std::set<std::string>>();
    auto functions = protocol["functions"].get<std::set<std::string>>();
    std::string pages = pagesText();

    auto programActions = Home::actionNames();
    EXPECT_EQ(std::set<std::string>(programActions.begin(), programActions.end()), actions);
    std::set<std::string> programFunctions;
    for (auto name : PageFunction::all) programFunctions.insert(std::string(name.substr(7)));
    EXPECT_EQ(programFunctions, functions);

    // What the pages post or define, and each listed action somewhere in them.
    for (const char* pattern : {R"re(post\('([A-Za-z]+)')re", R"re(data-action="([A-Za-z]+)")re",
                                R"re(\['[^']*', '([A-Za-z]+)', (?:true|false)\])re"}) {
        for (const auto& name : matches(pages, pattern)) EXPECT_TRUE(actions.count(name)) << name;
    }
    for (const auto& name : actions) {
        bool used = pages.find("'" + name + "'") != std::string::npos ||
                    pages.find('"' + name + '"') != std::string::npos;
        EXPECT_TRUE(used) << name << " is not used by any page";
    }
    EXPECT_EQ(matches(pages, R"re(window\.(orvo[A-Za-z]+) = function)re"), functions);
}

}  // namespace
}  // namespace velvox
