#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velvox {

// What the window reports back. Every event arrives on the main thread.
struct WebViewEvents {
    // A page posted to the "orvo" message handler; the body as JSON text.
    std::function<void(const std::string& body)> message;
    // A page finished loading (navigation ended).
    std::function<void()> finishedLoading;
    // The user closed the window; it is only hidden and can be shown again.
    std::function<void()> closed;
    // The desktop switched between its light and dark colour schemes.
    std::function<void()> colorSchemeChanged;
};

enum class ColorScheme { light, dark };

// The Home window: one top-level window holding one web view that shows the
// pages shipped with the application. Navigation stays on those pages; any
// other address goes to the user's browser. The window keeps its size and
// position between runs. Every member is called on the main thread.
class WebView {
  public:
    virtual ~WebView() = default;

    // Replaces the event functions (empty ones report nothing).
    virtual void setEvents(WebViewEvents events) = 0;

    // Shows the window (creating it on first use), restores it when minimised,
    // raises it and gives it the keyboard focus.
    virtual void present() = 0;
    // Hides the window as closing it would, reporting `closed`.
    virtual void hide() = 0;
    virtual bool isVisible() = 0;
    // Whether the window has the keyboard focus.
    virtual bool isKey() = 0;

    // Loads a page file; the page may read the other files of its folder.
    virtual void loadPage(const std::string& path) = 0;
    // Evaluates a script in the page. `onError` runs with a readable
    // description when the script fails.
    virtual void evaluate(const std::string& script,
                          std::function<void(const std::string& error)> onError) = 0;

    // Starts moving the window with the pointer, when the left button is down.
    virtual void beginDrag() = 0;
    // The desktop's setting for a double click on a title bar ("minimize",
    // "none", "toggle-maximize", ...), when it has one.
    virtual std::optional<std::string> titleBarDoubleClickAction() = 0;
    virtual void minimize() = 0;
    // Maximises the window, or restores it when it is maximised.
    virtual void zoom() = 0;
    // The window's own parts (title bar, background before a page paints) in
    // the dark or the light look; the pages draw their own colours.
    virtual void setDarkAppearance(bool dark) = 0;
    // The desktop's colour scheme, which the window follows; answered by the
    // desktop without the web engine. Changes are reported as colorSchemeChanged.
    virtual ColorScheme desktopColorScheme() = 0;
};

namespace Platform {
WebView& webView();
void installWebView(std::shared_ptr<WebView> webView);
}  // namespace Platform

}  // namespace velvox
