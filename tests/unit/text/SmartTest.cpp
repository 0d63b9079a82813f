#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/Brand.h"
#include "config/Config.h"
#include "fakes/FakeWorkspace.h"
#include "text/Smart.h"

namespace velvox {
namespace {

using Smart::Kind;

class SmartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Platform::installWorkspace(workspace);
        Smart::setDemoKind(std::nullopt);
    }
    void TearDown() override {
        Smart::setDemoKind(std::nullopt);
        Platform::installWorkspace(std::make_shared<testing::FakeWorkspace>());
    }
    std::shared_ptr<testing::FakeWorkspace> workspace = std::make_shared<testing::FakeWorkspace>();
    Config config;
};

TEST_F(SmartTest, NamesAndWindowTitleKeywords) {
    EXPECT_EQ(Smart::fromRawValue("email"), Kind::email);
    for (const char* raw : {"plain", "Email", ""}) EXPECT_FALSE(Smart::fromRawValue(raw)) << raw;
    const std::pair<const char*, Kind> titles[] = {
        {"Inbox (3) - Gmail", Kind::email}, {"ChatGPT", Kind::prompt},
        {"Claude and Gmail", Kind::prompt}, {"Hey there", Kind::email},
        {"general | Slack", Kind::message}, {"Le Chat - Mistral", Kind::prompt},
        {"They use Teams", Kind::email},  // mail keywords are tried before chat ones
        {"Wikipedia", Kind::note},          {"", Kind::note},
    };
    for (const auto& [title, kind] : titles) EXPECT_EQ(Smart::fromTitle(title), kind) << title;
}

TEST_F(SmartTest, ApplicationsAndBrowsersGiveTheirKinds) {
    workspace->titles = {{42, "Inbox (3) - Gmail"}, {43, "DeepSeek"}, {44, "WhatsApp"}};
    const std::tuple<const char*, std::optional<int32_t>, Kind> cases[] = {
        // clang-format off
        {"Slack", 1, Kind::message}, {"thunderbird", 1, Kind::email},
        {"org.gnome.TextEditor", 1, Kind::note}, {"", 1, Kind::note}, {"code", 1, Kind::prompt},
        {"com.google.Chrome.app.gemini", 42, Kind::prompt},  // the built-in prompt list
        {"com.apple.Safari", 42, Kind::email}, {"firefox", 43, Kind::prompt},
        {"Google-chrome", 44, Kind::message}, {"org.chromium.Chromium", 44, Kind::message},
        {"com.google.Chrome", 7, Kind::note},  // no title known
        {"com.google.Chrome", std::nullopt, Kind::note},
        // clang-format on
    };
    for (const auto& [bundle, pid, kind] : cases)
        EXPECT_EQ(Smart::kind(bundle, pid, config), kind) << bundle;
    EXPECT_EQ(workspace->calls.size(), 5u) << "only browsers ask for a window title";
    EXPECT_EQ(workspace->calls.back(), "focusedWindowTitle 7");
    EXPECT_EQ(Smart::windowTitle(std::nullopt), "");
}

TEST_F(SmartTest, TheUsersListWinsExactlyAndTheDemoKindOnlyHere) {
    workspace->titles[1] = "Gmail";
    config.promptModeApps = {"com.apple.mail", "firefox"};
    config.promptModeEnabled = false;  // the list applies either way
    EXPECT_EQ(Smart::kind("com.apple.mail", 1, config), Kind::prompt);
    EXPECT_EQ(Smart::kind("firefox", 1, config), Kind::prompt);
    EXPECT_EQ(Smart::kind("Firefox", 1, config), Kind::email) << "compared exactly";
    EXPECT_EQ(Smart::kind("COM.APPLE.MAIL", 1, config), Kind::email);
    config.promptModeApps.clear();
    EXPECT_EQ(Smart::kind("com.google.Chrome.app.gemini", 1, config), Kind::note)
        << "an emptied list; no prefix matching of browsers";

    Smart::setDemoKind(Kind::email);
    EXPECT_EQ(Smart::kind(Brand::bundleID, 1, config), Kind::email);
    EXPECT_EQ(Smart::kind("org.gnome.TextEditor", 1, config), Kind::note);
    Smart::setDemoKind(std::nullopt);
    EXPECT_EQ(Smart::kind(Brand::bundleID, 1, config), Kind::note);
}

}  // namespace
}  // namespace velvox
