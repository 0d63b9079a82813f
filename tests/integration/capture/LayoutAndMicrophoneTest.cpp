#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "CaptureSession.h"
#include "capture/KeyNames.h"
#include "platform/KeyboardLayout.h"
#include "platform/linux/GstMicrophoneAccess.h"
#include "platform/linux/x11/XkbKeyboardLayout.h"

namespace velvox {
namespace {

using testing::run;
using testing::ScopedEnvironment;

TEST(XkbKeyboardLayoutTest, CharactersFollowTheLayoutInUse) {
    ASSERT_TRUE(run("setxkbmap us"));
    auto layout = std::make_shared<XkbKeyboardLayout>();
    Platform::installKeyboardLayout(layout);
    EXPECT_EQ(layout->character(0), "a");
    EXPECT_EQ(layout->character(12), "q");
    EXPECT_EQ(layout->character(18), "1");
    EXPECT_EQ(layout->character(96), std::nullopt) << "F5 types nothing";
    EXPECT_EQ(layout->character(36), std::nullopt) << "return types a control character";
    EXPECT_EQ(layout->character(0x34), std::nullopt) << "no key has this code";
    EXPECT_EQ(KeyNames::name(12), "Q");

    // French AZERTY swaps A and Q; the map is read again after the change.
    ASSERT_TRUE(run("setxkbmap fr"));
    EXPECT_EQ(layout->character(12), "a");
    EXPECT_EQ(layout->character(0), "q");
    EXPECT_EQ(KeyNames::name(12), "A");

    ASSERT_TRUE(run("setxkbmap us"));
    EXPECT_EQ(layout->character(12), "q");
    Platform::installKeyboardLayout(nullptr);
}

TEST(XkbKeyboardLayoutTest, NoDisplayMeansNoCharacters) {
    ScopedEnvironment noDisplay("DISPLAY", std::nullopt);
    XkbKeyboardLayout layout;
    EXPECT_EQ(layout.character(0), std::nullopt);
}

TEST(GstMicrophoneAccessTest, AuthorisedWhileAnInputExists) {
    ScopedEnvironment real("VELVOX_AUDIO_SOURCE", std::nullopt);
    GstMicrophoneAccess access;
    EXPECT_EQ(access.status(), MicrophoneAuthorization::authorized);
    std::optional<bool> answer;
    access.requestAccess([&](bool granted) { answer = granted; });
    EXPECT_EQ(answer, std::optional<bool>(true)) << "answered at once";
}

TEST(GstMicrophoneAccessTest, DeniedWithoutAnyInput) {
    ScopedEnvironment real("VELVOX_AUDIO_SOURCE", std::nullopt);
    ScopedEnvironment noServer("PULSE_SERVER", "unix:/nonexistent/velvox-no-server");
    GstMicrophoneAccess access;
    EXPECT_EQ(access.status(), MicrophoneAuthorization::denied);
    std::optional<bool> answer;
    access.requestAccess([&](bool granted) { answer = granted; });
    EXPECT_EQ(answer, std::optional<bool>(false));

    ScopedEnvironment configured("VELVOX_AUDIO_SOURCE", "audiotestsrc is-live=true");
    EXPECT_EQ(access.status(), MicrophoneAuthorization::authorized)
        << "a configured source stands in for a device";
}

// With only the speakers' monitor left there is nothing to record the user
// with; the device monitor learns of the change on its own.
TEST(GstMicrophoneAccessTest, MonitorOfTheSpeakersIsNoMicrophone) {
    ScopedEnvironment real("VELVOX_AUDIO_SOURCE", std::nullopt);
    struct Restore {
        ~Restore() { testing::restoreSessionMicrophone(); }
    } restore;
    GstMicrophoneAccess access;
    ASSERT_EQ(access.status(), MicrophoneAuthorization::authorized);
    ASSERT_TRUE(run("pactl unload-module module-pipe-source"));
    ASSERT_TRUE(run("pactl list short sources | grep -q speakers.monitor"));
    ASSERT_TRUE(testing::runMainLoopUntil(
        [&] { return access.status() == MicrophoneAuthorization::denied; }));
    std::optional<bool> answer;
    access.requestAccess([&](bool granted) { answer = granted; });
    EXPECT_EQ(answer, std::optional<bool>(false));
}

}  // namespace
}  // namespace velvox
