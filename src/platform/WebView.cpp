#include "platform/WebView.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

// Until a real window is installed nothing is shown and nothing loads.
class NoWebView final : public WebView {
  public:
    void setEvents(WebViewEvents) override {}
    void present() override {}
    void hide() override {}
    bool isVisible() override { return false; }
    bool isKey() override { return false; }
    void loadPage(const std::string&) override {}
    void evaluate(const std::string&, std::function<void(const std::string&)>) override {}
    void beginDrag() override {}
    std::optional<std::string> titleBarDoubleClickAction() override { return std::nullopt; }
    void minimize() override {}
    void zoom() override {}
    void setDarkAppearance(bool) override {}
    ColorScheme desktopColorScheme() override { return ColorScheme::dark; }
};

PlatformSlot<WebView, NoWebView> slot;

}  // namespace

WebView& webView() {
    return slot.get();
}
void installWebView(std::shared_ptr<WebView> webView) {
    slot.install(std::move(webView));
}

}  // namespace velvox::Platform
