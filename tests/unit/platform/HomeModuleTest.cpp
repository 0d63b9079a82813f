#include <gtest/gtest.h>

#include <string>

#include "linux/home/HomeWindowLoader.h"

namespace velvox {
namespace {

// The module is opened by its path, as the installed program opens it: the
// one this build made is taken; one from another build, or from before
// modules said their version, is refused with the reason, never called.
TEST(HomeModuleTest, OnlyTheModuleOfThisBuildIsTaken) {
    struct Case {
        const char* path;
        bool taken;
        std::string reason;
    } cases[] = {
        {VELVOX_HOME_MODULE, true, ""},
        {VELVOX_STALE_HOME_MODULE, false,
         "is version 0/0.0.0, this program needs " + homeWindowModuleVersion()},
        {VELVOX_UNVERSIONED_HOME_MODULE, false, "says no version"},
        {"/nonexistent/libvelvox-home.so", false, "cannot open shared object file"},
    };
    for (const auto& test : cases) {
        std::string reason;
        HomeWindowFactory factory = openHomeWindowModule(test.path, reason);
        EXPECT_EQ(factory != nullptr, test.taken) << test.path;
        if (test.reason.empty())
            EXPECT_EQ(reason, "") << test.path;
        else
            EXPECT_NE(reason.find(test.reason), std::string::npos) << reason;
    }
}

}  // namespace
}  // namespace velvox
