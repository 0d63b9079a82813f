#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fakes/CallLog.h"
#include "platform/WebView.h"

namespace velvox::testing {

// A window that shows nothing; requests are kept in `calls` ("evaluate <script>"); the test
// plays the page and the user with post(), finishLoading() and close().
class FakeWebView final : public WebView, public CallLog {
  public:
    void setEvents(WebViewEvents newEvents) override { events = std::move(newEvents); }
    void present() override { visible = key = note("present", true); }
    void hide() override {
        note("hide");
        close();
    }
    bool isVisible() override { return visible; }
    bool isKey() override { return key; }
    void loadPage(const std::string& path) override { note("load " + path); }
    void evaluate(const std::string& script, std::function<void(const std::string&)>) override {
        note("evaluate " + script);
    }
    void beginDrag() override { note("beginDrag"); }
    std::optional<std::string> titleBarDoubleClickAction() override { return doubleClickAction; }
    void minimize() override { note("minimize"); }
    void zoom() override { note("zoom"); }
    void setDarkAppearance(bool isDark) override { dark = isDark; }
    ColorScheme desktopColorScheme() override { return desktopScheme; }
    // ---- the test's side ----
    void post(const std::string& body) {
        if (events.message) events.message(body);
    }
    void finishLoading() {
        if (events.finishedLoading) events.finishedLoading();
    }
    void changeDesktopScheme(ColorScheme scheme) {
        desktopScheme = scheme;
        if (events.colorSchemeChanged) events.colorSchemeChanged();
    }
    void close() {
        visible = key = false;
        if (events.closed) events.closed();
    }
    // The scripts evaluated so far, oldest first.
    std::vector<std::string> scripts() const { return scriptsCalling(""); }
    // Scripts that call the page function (e.g. "window.orvoState"); "" for every script.
    std::vector<std::string> scriptsCalling(const std::string& function) const {
        const std::string prefix = "evaluate " + (function.empty() ? "" : function + " && ");
        std::vector<std::string> found;
        for (const auto& call : calls)
            if (call.starts_with(prefix)) found.push_back(call.substr(9));
        return found;
    }
    // The argument text of a script "f && f(argument)".
    static std::string argumentOf(const std::string& script) {
        auto open = script.find('(');
        if (open == std::string::npos || script.empty() || script.back() != ')') return "";
        return script.substr(open + 1, script.size() - open - 2);
    }
    WebViewEvents events;
    bool visible = false;
    bool key = false;
    bool dark = false;
    ColorScheme desktopScheme = ColorScheme::dark;
    std::optional<std::string> doubleClickAction;
};

}  // namespace velvox::testing
