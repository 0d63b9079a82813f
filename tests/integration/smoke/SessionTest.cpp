#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// The session the integration tests run in has what they rely on.
TEST(HeadlessSession, ProvidesDisplayBusAndMicrophone) {
    for (const char* name :
         {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER", "VELVOX_TEST_SOURCE_FIFO"}) {
        const char* value = std::getenv(name);
        EXPECT_TRUE(value && *value) << name;
    }
    EXPECT_EQ(std::system("xdpyinfo >/dev/null 2>&1"), 0) << "the X display answers";
    EXPECT_EQ(std::system("pactl list short sources | grep -q virtual_mic"), 0)
        << "the virtual microphone exists";
    EXPECT_EQ(std::system("dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus "
                          "org.freedesktop.DBus.Properties.Get string:org.a11y.Status "
                          "string:IsEnabled | grep -q true"),
              0)
        << "the accessibility bus is on";
}
