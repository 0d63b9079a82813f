// The one call the application makes to get its tray icon.
#include <cstdlib>
#include <filesystem>

#include "TrayTestSupport.h"
#include "platform/StatusItem.h"
#include "platform/linux/AyatanaStatusItem.h"
#include "platform/linux/LinuxStatusItem.h"

namespace velvox::testing {
namespace {

using LinuxStatusItemTest = TrayTest;

TEST_F(LinuxStatusItemTest, InstallPutsTheTrayItemIntoTheRegistry) {
    std::string runtime = home() + "/runtime";
    std::filesystem::create_directories(runtime);
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    std::string savedRuntime = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

    installLinuxStatusItem();
    auto* item = dynamic_cast<AyatanaStatusItem*>(&Platform::statusItem());
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->iconFolder(), runtime + "/velvox-icons");

    // Without a runtime folder the icons go to the cache folder instead.
    ::unsetenv("XDG_RUNTIME_DIR");
    std::string fallback = AyatanaStatusItem::defaultIconFolder();
    EXPECT_TRUE(fallback.ends_with("/velvox-icons")) << fallback;
    EXPECT_FALSE(fallback.starts_with(runtime)) << fallback;

    if (saved) ::setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    Platform::installStatusItem(nullptr);
}

}  // namespace
}  // namespace velvox::testing
