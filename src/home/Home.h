#pragma once

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/NotificationCenter.h"
#include "base/WeakSelf.h"
#include "capture/Recorder.h"
#include "config/Config.h"
#include "home/PageMessage.h"
#include "platform/MainQueue.h"
#include "services/Account.h"

namespace velvox {

// The Home window: onboarding, settings, history, statistics, sign-in and
// billing as pages in a web view. The pages ask for things through one
// message channel ("orvo" messages, an action and its fields); the program
// answers by calling the pages' global functions (window.orvoState and the
// rest). One controller lives from the first show to the end of the process;
// closing the window only hides it. Everything runs on the main thread.
class Home {
  public:
    using Json = nlohmann::ordered_json;

    // Builds the controller on first use, then brings the window forward.
    static void show();
    // The controller, once show() has built it.
    static Home* shared();

    // The top-level "onboarded" of config.json when it is a boolean, else false.
    static bool onboarded();
    // The microphone is not granted, or the user's own key is chosen and
    // still empty. Accessibility is no step of it: without it text is pasted.
    static bool setupIncomplete(const Config& config);
    // The top-level "setupReminderShown" of config.json: Home was opened once
    // for a set-up still unfinished.
    static bool setupReminderShown();

    // The names of the interface symbols sent to every page, in order.
    static const std::vector<std::string>& symbolNames();
    // An installed application's icon as a 64 × 64 PNG data URL, looked up
    // once per identifier for the life of the process.
    static std::optional<std::string> icon(const std::string& bundle);

    // Drops the controller and the caches.
    static void resetForTesting();
    // The actions the pages may post, sorted (held against the pages' list by a test).
    static std::vector<std::string> actionNames();

    ~Home();
    Home(const Home&) = delete;
    Home& operator=(const Home&) = delete;

    // ---- the window and the page ----
    void present();
    void load(const std::string& page);
    // Evaluates the script only while a page is loaded; otherwise drops it.
    void run(const std::string& script);
    // The same for an answer a page cannot ask for again (the account's
    // usage and billing, the last dictation): the latest of each kind is
    // kept and given again to every page that says it is ready, so one that
    // came before the page was ready is not lost.
    void runKept(std::string_view function, const std::string& script);
    void replayKept();
    void receive(const std::string& body);
    void didFinishLoading();
    void windowClosed();
    // Gives the window the look the "theme" setting asks for; "system" (or
    // anything unknown) follows the desktop's colour scheme.
    void applyTheme();
    bool loaded() const { return loaded_; }
    const std::string& page() const { return page_; }

    // ---- what the pages are told ----
    void pushAll(const std::optional<std::string>& keyNote = std::nullopt, bool keyBad = false,
                 bool keySaved = false);
    void pushLive();
    void authChanged();
    void fetchUsage();
    void fetchBilling();
    void authNote(const std::string& note, bool bad, bool busy);
    void captureNote(const std::string& note, bool bad);
    void billingNote(const std::string& note);
    // The state, with a note about the Anthropic key.
    void anthropicKeyNote(const std::string& note, bool bad, bool saved);
    // The state, with what a server test found ("transcription" or "polishing").
    void serverTestNote(const std::string& step, const std::string& note, bool bad);
    Json stateObject(const std::optional<std::string>& keyNote, bool keyBad, bool keySaved);
    // The state with these members added, pushed to the page.
    void pushStateWith(const Json& members);
    Json liveDict();

    // ---- settings changes ----
    void apply(const std::string& key, const nlohmann::json& message);
    void validateAndSave(const std::string& key);
    void validateAndSaveAnthropicKey(const std::string& key);
    // Sends a spoken sample (transcription) or one word (polishing) to the
    // user's own server as the settings stand, and tells the page the answer.
    void testServer(const std::string& step);
    void chooseApp();
    void startMicTest();
    void stopMicTest();
    bool micTestRunning() const { return micTest_ != nullptr; }

    const std::optional<std::string>& fetchedEmail() const { return fetchedEmail_; }
    const std::optional<std::string>& fetchedUpgradeUrl() const { return fetchedUpgradeUrl_; }

  private:
    Home();
    void build();
    using ActionTable =
        std::unordered_map<std::string, std::function<void(Home&, const PageMessage&)>>;
    static const ActionTable& actions();
    void perform(const PageMessage& message);
    void dictated(const UserInfo& info);
    bool insertIntoWindow(const std::string& text, const std::string& mode);

    // Actions that take more than a line.
    void captureKey(const PageMessage& message);
    void finishOnboarding(const PageMessage& message);
    void appendContext(const std::string& text);
    void saveContext(const std::string& text);
    void saveList(const std::string& key, const nlohmann::json& value);
    void signIn(const std::string& text);
    void upgrade();
    void manageBilling();
    void pasteToken(const std::string& text);
    void askMic();
    void titleBarDoubleClick();
    void openPrivacy();
    void openURL(const std::string& url);
    // Addresses the service hands out are opened only over https.
    bool openServiceURL(const std::string& url);
    void reveal(const std::string& path);
    void reloadStep();
    static void reloadApplication();

    void receiveUsage(const ServiceResult<Account::Usage>& answer);
    void receiveKeyCheck(const std::string& key, const EmptyResult& answer);

    static std::map<std::string, std::string>& iconCache();
    static std::string themeOfFile();
    WeakSelf<Home>::Ref weak() const { return self_.ref(); }
    // Runs work on the main queue (from any thread), unless the controller is
    // gone by then.
    static void onMain(WeakSelf<Home>::Ref home, std::function<void(Home&)> work);

    bool loaded_ = false;
    std::map<std::string, std::string, std::less<>> kept_;
    std::string page_ = "settings";
    ScheduledWork timer_;
    std::unique_ptr<Recorder> micTest_;
    ScheduledWork micTimer_;
    std::optional<std::string> fetchedEmail_;
    std::optional<std::string> fetchedUpgradeUrl_;
    std::vector<Subscription> observers_;
    WeakSelf<Home> self_;
};

}  // namespace velvox
