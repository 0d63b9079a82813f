#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/DictationController.h"
#include "base/Handle.h"
#include "base/WeakSelf.h"

namespace velvox {

// The application controller: prepares the settings at launch, builds the
// status menu, connects the hotkeys and the recorder to the dictation
// controller, waits for the permissions the hotkeys need, opens the Home
// window when set-up is not finished, and answers the desktop's open,
// reopen and quit events. One lives for the whole process; main thread only.
class AppDelegate {
  public:
    // `quit` ends the application (the menu's last item).
    explicit AppDelegate(std::function<void()> quit);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void didFinishLaunching();
    // Addresses opened with the program (the sign-in callback).
    void openURLs(const std::vector<std::string>& urls);
    // The program was launched again while it runs.
    void reopen();
    void willTerminate();

    // Starts the hotkeys once the desktop lets us watch keys; until then a
    // poll every two seconds tries again. It never asks for permissions.
    void startTapWhenTrusted();
    void syncMenu();

    // Menu actions.
    void toggleCleanup();
    void togglePaste();
    void toggleLoginItem();
    void openHome();
    // A portal answered: what the desktop session offers may have changed.
    void sessionOfferChanged();

    DictationController& controller() { return *controller_; }
    bool isPolling() const { return permTimer_.active(); }

    // Positions of the status menu's items.
    enum MenuIndex : std::size_t {
        statusLineItem = 0,
        openItem = 2,
        cleanupItem = 4,
        pasteItem = 5,
        loginItem = 6,
        copyLastItem = 8,
        // "Retry last dictation" follows while a failed take is kept, and the
        // quit item moves down by one.
        quitItem = 10,
    };

  private:
    void buildStatusMenu();
    void connectCallbacks();
    // Opens Home on the first launch, and once while set-up is unfinished.
    void openHomeWhenSetupUnfinished();
    // Logs the session's capabilities that changed since they were last logged.
    void logSessionCapabilities();
    void reloadSettings();
    // Says once when another application holds an ordinary-key hotkey, and
    // tries to take it back every two seconds without restarting the hook
    // (a modifier hotkey may be held meanwhile).
    void watchTakenKeys();
    void retryTakenKeys();
    // Flips a boolean setting, writes it to config.json and shows it in the menu.
    void toggleSetting(const std::string& key, bool Config::*field);
    std::function<void()> weakly(std::function<void(AppDelegate&)> action);

    std::function<void()> quit_;
    std::unique_ptr<DictationController> controller_;
    ScheduledWork permTimer_;
    ScheduledWork takenKeysTimer_;
    std::vector<int64_t> takenKeys_;
    std::vector<std::string> loggedCapabilities_;
    WeakSelf<AppDelegate> self_;
};

}  // namespace velvox
