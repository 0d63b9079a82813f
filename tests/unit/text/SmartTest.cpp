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
        workspace = std::make_shared<testing::FakeWorkspace>();
        Platform::installWorkspace(workspace);
        Smart::setDemoKind(std::nullopt);
    }
    void TearDown() override {
        Smart::setDemoKind(std::nullopt);
        Platform::installWorkspace(std::make_shared<testing::FakeWorkspace>());
    }

    Kind browserWithTitle(const std::string& title,
                          const std::string& bundle = "com.apple.Safari") {
        workspace->titles[42] = title;
        return Smart::kind(bundle, 42, config);
    }

    std::shared_ptr<testing::FakeWorkspace> workspace;
    Config config;
};

TEST_F(SmartTest, RawValuesAndLabelsRoundTrip) {
    for (Kind kind : {Kind::prompt, Kind::email, Kind::message, Kind::note}) {
        EXPECT_EQ(Smart::fromRawValue(Smart::rawValue(kind)), kind);
    }
    EXPECT_EQ(Smart::rawValue(Kind::note), "note");
    EXPECT_EQ(Smart::label(Kind::note), "Notes");
    EXPECT_EQ(Smart::label(Kind::prompt), "Prompt");
    EXPECT_FALSE(Smart::fromRawValue("plain").has_value());
    EXPECT_FALSE(Smart::fromRawValue("Email").has_value());
    EXPECT_FALSE(Smart::fromRawValue("").has_value());
}

TEST_F(SmartTest, TitleKeywordsAreTestedGroupByGroup) {
    EXPECT_EQ(Smart::fromTitle("Inbox (3) - Gmail"), Kind::email);
    EXPECT_EQ(Smart::fromTitle("ChatGPT"), Kind::prompt);
    EXPECT_EQ(Smart::fromTitle("Claude and Gmail"), Kind::prompt);
    EXPECT_EQ(Smart::fromTitle("Hey there"), Kind::email);
    EXPECT_EQ(Smart::fromTitle("Mailchimp campaign"), Kind::email);
    EXPECT_EQ(Smart::fromTitle("general | Slack"), Kind::message);
    EXPECT_EQ(Smart::fromTitle("Le Chat - Mistral"), Kind::prompt);
    // "teams" is a chat keyword, but "hey" (mail) is tested before it.
    EXPECT_EQ(Smart::fromTitle("They use Teams"), Kind::email);
    EXPECT_EQ(Smart::fromTitle("Wikipedia"), Kind::note);
    EXPECT_EQ(Smart::fromTitle(""), Kind::note);
}

TEST_F(SmartTest, BrowsersAreJudgedByTheFocusedWindowTitle) {
    EXPECT_EQ(browserWithTitle("Inbox (3) - Gmail"), Kind::email);
    EXPECT_EQ(browserWithTitle("DeepSeek - Into the Unknown", "firefox"), Kind::prompt);
    EXPECT_EQ(browserWithTitle("WhatsApp", "Google-chrome"), Kind::message);
    EXPECT_EQ(browserWithTitle("WhatsApp", "org.chromium.Chromium"), Kind::message);
    EXPECT_EQ(workspace->calls.back(), "focusedWindowTitle 42");
}

TEST_F(SmartTest, BrowserWithoutTitleOrPidIsANote) {
    // No title known (no accessibility access, or no focused window).
    EXPECT_EQ(Smart::kind("com.google.Chrome", 7, config), Kind::note);
    workspace->titles[7] = "Gmail";
    EXPECT_EQ(Smart::kind("com.google.Chrome", std::nullopt, config), Kind::note);
    EXPECT_EQ(Smart::windowTitle(std::nullopt), "");
    EXPECT_EQ(Smart::windowTitle(7), "Gmail");
}

TEST_F(SmartTest, ApplicationTablesGiveTheirKinds) {
    struct Case {
        const char* bundle;
        Kind expected;
    } cases[] = {
        {"com.tinyspeck.slackmacgap", Kind::message},
        {"slack", Kind::message},
        {"Slack", Kind::message},
        {"org.telegram.desktop", Kind::message},
        {"signal-desktop", Kind::message},
        {"teams-for-linux", Kind::message},
        {"com.apple.mail", Kind::email},
        {"thunderbird", Kind::email},
        {"org.gnome.Evolution", Kind::email},
        {"org.kde.kmail2", Kind::email},
        {"org.gnome.Geary", Kind::email},
        {"com.apple.TextEdit", Kind::note},
        {"org.gnome.TextEditor", Kind::note},
        {"", Kind::note},
        {"com.microsoft.VSCode", Kind::prompt},
        {"code", Kind::prompt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Smart::kind(c.bundle, 1, config), c.expected) << c.bundle;
    }
    // Only browsers ask for a window title.
    EXPECT_TRUE(workspace->calls.empty());
}

TEST_F(SmartTest, TheUsersListWinsAndIsComparedExactly) {
    config.promptModeApps = {"com.apple.mail", "firefox"};
    EXPECT_EQ(Smart::kind("com.apple.mail", 1, config), Kind::prompt);
    workspace->titles[1] = "Gmail";
    EXPECT_EQ(Smart::kind("firefox", 1, config), Kind::prompt);
    // A different case is not the user's entry; the built-in table still knows it.
    EXPECT_EQ(Smart::kind("Firefox", 1, config), Kind::email);
    EXPECT_EQ(Smart::kind("COM.APPLE.MAIL", 1, config), Kind::email);

    config = Config{};
    workspace->titles[1] = "Gmail";
    EXPECT_EQ(Smart::kind("com.google.Chrome.app.gemini", 1, config), Kind::prompt);
    config.promptModeApps.clear();
    // Not a browser either: exact identifiers, no prefix matching.
    EXPECT_EQ(Smart::kind("com.google.Chrome.app.gemini", 1, config), Kind::note);
    // The list applies whether or not prompt mode is switched on.
    config.promptModeApps = {"x.editor"};
    config.promptModeEnabled = false;
    EXPECT_EQ(Smart::kind("x.editor", 1, config), Kind::prompt);
}

TEST_F(SmartTest, DemoKindAppliesOnlyToThisApplication) {
    Smart::setDemoKind(Kind::email);
    EXPECT_EQ(Smart::demoKind(), Kind::email);
    EXPECT_EQ(Smart::kind(Brand::bundleID, 1, config), Kind::email);
    EXPECT_EQ(Smart::kind("com.tinyspeck.slackmacgap", 1, config), Kind::message);
    EXPECT_EQ(Smart::kind("org.gnome.TextEditor", 1, config), Kind::note);
    Smart::setDemoKind(std::nullopt);
    EXPECT_EQ(Smart::kind(Brand::bundleID, 1, config), Kind::note);
}

TEST_F(SmartTest, TablesKeepEveryMacIdentifier) {
    EXPECT_TRUE(Smart::tableContains(Smart::email(), "ch.protonmail.desktop"));
    EXPECT_TRUE(Smart::tableContains(Smart::chat(), "org.whispersystems.signal-desktop"));
    EXPECT_TRUE(Smart::tableContains(Smart::browsers(), "company.thebrowser.dia"));
    EXPECT_FALSE(Smart::tableContains(Smart::browsers(), "com.google.Chrome.app.gemini"));
    EXPECT_FALSE(Smart::tableContains(Smart::browsers(), "firefo"));
    // No identifier belongs to two tables: the kind would depend on rule order.
    for (const auto& id : Smart::browsers()) {
        EXPECT_FALSE(Smart::tableContains(Smart::email(), id)) << id;
        EXPECT_FALSE(Smart::tableContains(Smart::chat(), id)) << id;
    }
    for (const auto& id : Smart::email())
        EXPECT_FALSE(Smart::tableContains(Smart::chat(), id)) << id;
}

}  // namespace
}  // namespace velvox
