#include "platform/Desktop.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

class NoDesktop final : public Desktop {
  public:
    void openURL(const std::string&) override {}
    void openFile(const std::string&) override {}
    void openSettings(SettingsPage) override {}
    void chooseApplication(const std::string&, const std::string&,
                           std::function<void(std::optional<std::string>)>) override {}
    std::optional<std::string> applicationName(const std::string&) override { return std::nullopt; }
    std::optional<std::string> resourceFile(const std::string&) override { return std::nullopt; }
    DisplaySession displaySession() override { return DisplaySession::x11; }
    bool loginItemEnabled() override { return false; }
    std::optional<std::string> setLoginItem(bool) override {
        return std::string("no desktop session");
    }
};

PlatformSlot<Desktop, NoDesktop> slot;

}  // namespace

Desktop& desktop() {
    return slot.get();
}
void installDesktop(std::shared_ptr<Desktop> desktop) {
    slot.install(std::move(desktop));
}

}  // namespace velvox::Platform
