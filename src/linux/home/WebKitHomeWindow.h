#pragma once

#include <functional>
#include <string>

#include "linux/home/WindowGeometry.h"
#include "platform/WebView.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace velvox {

// The Home window on GTK 3 and WebKitGTK 4.1: a top-level window of
// 1120 × 760 (at least 900 × 600) with a header bar in the pages' colours as
// its only title bar, holding one web view. Pages talk back
// through the "orvo" script message handler. Only files of the pages folder
// are shown; every other address opens in the user's browser. Closing hides
// the window; its size and position are kept in a small JSON file.
class WebKitHomeWindow final : public WebView {
  public:
    // Hands an address that may not be shown in the window to the desktop.
    using ExternalOpener = std::function<void(const std::string& uri)>;

    WebKitHomeWindow(std::string pagesFolder, std::string geometryFile,
                     ExternalOpener openExternal = defaultOpener());
    ~WebKitHomeWindow() override;
    WebKitHomeWindow(const WebKitHomeWindow&) = delete;
    WebKitHomeWindow& operator=(const WebKitHomeWindow&) = delete;

    static ExternalOpener defaultOpener();

    void setEvents(WebViewEvents events) override;
    void present() override;
    void hide() override;
    bool isVisible() override;
    bool isKey() override;
    void loadPage(const std::string& path) override;
    void evaluate(const std::string& script,
                  std::function<void(const std::string& error)> onError) override;
    void beginDrag() override;
    std::optional<std::string> titleBarDoubleClickAction() override;
    void minimize() override;
    void zoom() override;
    void setDarkAppearance(bool dark) override;
    // The window does not follow the desktop's scheme: the loader asks the
    // desktop, so that asking needs no web engine. Answers as the null window does.
    ColorScheme desktopColorScheme() override;

    // The address the web view shows now (empty before the first load).
    std::string currentURI() const;
    // Evaluates a script and hands its result, as JSON text, to `done`
    // (nothing on failure). For tests and diagnostics.
    void evaluateForResult(const std::string& script,
                           std::function<void(std::optional<std::string>)> done);
    GtkWidget* window() const { return window_; }
    GtkWidget* titleBar() const { return titleBar_; }

    // Whether the address is a file inside the pages folder.
    bool isPageAddress(const std::string& uri) const;

  private:
    void ensureBuilt();

    static int onDeleteEvent(GtkWidget*, void*, void* self);
    static int onKeyPress(GtkWidget*, void* event, void* self);
    static void onLoadChanged(WebKitWebView*, int event, void* self);
    static int onDecidePolicy(WebKitWebView*, void* decision, int type, void* self);
    static void onScriptMessage(void* manager, void* result, void* self);

    std::string pagesFolder_;
    WindowGeometry geometry_;
    ExternalOpener openExternal_;
    WebViewEvents events_;
    GtkWidget* window_ = nullptr;
    WebKitWebView* web_ = nullptr;
    GtkWidget* titleBar_ = nullptr;
};

}  // namespace velvox
