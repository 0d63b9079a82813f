// The Home window as a desktop window: its keys (close, hide, minimise, quit),
// the editing keys in the page's fields, its place in the task switcher, and
// the whole Home controller on the real desktop pieces.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "HomeSession.h"
#include "StandInPortal.h"
#include "TestDesktopFolders.h"
#include "base/Paths.h"
#include "config/Config.h"
#include "home/Home.h"
#include "platform/Desktop.h"
#include "platform/IconImages.h"
#include "platform/Platform.h"
#include "platform/WebView.h"
#include "platform/linux/GlibMainQueue.h"
#include "platform/linux/HomeWindowLoader.h"
#include "platform/linux/LinuxHome.h"
#include "platform/linux/WebKitHomeWindow.h"
#include "support/TempHome.h"

// After gtest: Xlib defines macros (None, Bool) that gtest uses as names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace velvox::testing {
namespace {

std::vector<unsigned long> rootWindowList(const char* property) {
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    Atom atom = XInternAtom(display, property, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> windows;
    if (XGetWindowProperty(display, DefaultRootWindow(display), atom, 0, 4096, False, XA_WINDOW,
                           &type, &format, &count, &after, &data) == Success &&
        data && format == 32) {
        auto* ids = reinterpret_cast<unsigned long*>(data);
        windows.assign(ids, ids + count);
    }
    if (data) XFree(data);
    return windows;
}

bool inTaskList(GtkWidget* window) {
    GdkWindow* gdkWindow = gtk_widget_get_window(window);
    if (!gdkWindow) return false;
    auto list = rootWindowList("_NET_CLIENT_LIST");
    return std::find(list.begin(), list.end(), gdk_x11_window_get_xid(gdkWindow)) != list.end();
}

// The X server sends typed keys to this window (not only GTK thinks so).
bool hasInputFocus(GtkWidget* window) {
    GdkWindow* gdkWindow = gtk_widget_get_window(window);
    if (!gdkWindow || !gtk_widget_get_mapped(window)) return false;
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    // GDK gives each top-level window a small focus window of its own inside it.
    Window ours = gdk_x11_window_get_xid(gdkWindow), root = DefaultRootWindow(display);
    // The focus window can be destroyed while we walk up from it (a window being hidden):
    // that error is an answer ("not ours"), not a reason for GDK to end the test.
    GdkDisplay* gdkDisplay = gdk_display_get_default();
    gdk_x11_display_error_trap_push(gdkDisplay);
    bool found = false;
    while (focus != 0 && focus != PointerRoot && focus != root) {
        if (focus == ours) {
            found = true;
            break;
        }
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, focus, &rootReturn, &parent, &children, &count)) break;
        if (children) XFree(children);
        focus = parent;
    }
    gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
    return found;
}

bool minimised(GtkWidget* window) {
    GdkWindow* gdkWindow = gtk_widget_get_window(window);
    return gdkWindow && (gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_ICONIFIED);
}

class WebKitHomeWindowKeysTest : public TempHomeTest {
  public:
    static void SetUpTestSuite() {
        testDesktopFolders();
        ::setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
        ::setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 1);
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
    }
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
        pages_ = home() + "/pages";
        writeFile(pages_ + "/edit.html",
                  "<!doctype html><meta charset=utf-8><input id=field autofocus>");
        window_ = std::make_unique<WebKitHomeWindow>(pages_, home() + "/geometry.json",
                                                     [](const std::string&) {});
        WebViewEvents events;
        events.finishedLoading = [this] { loaded_ = true; };
        events.closed = [this] { ++closed_; };
        window_->setEvents(events);
    }
    void TearDown() override {
        window_.reset();
        TempHomeTest::TearDown();
    }

    // Shows the page and waits until the window has the keyboard focus.
    void showFocused() {
        window_->present();
        if (!loaded_) {
            window_->loadPage(pages_ + "/edit.html");
            ASSERT_TRUE(spinUntil([&] { return loaded_; }));
        }
        ASSERT_TRUE(
            spinUntil([&] { return window_->isKey() && hasInputFocus(window_->window()); }));
    }
    std::optional<std::string> evaluate(const std::string& script) {
        bool done = false;
        std::optional<std::string> answer;
        window_->evaluateForResult(script, [&](std::optional<std::string> result) {
            answer = std::move(result);
            done = true;
        });
        EXPECT_TRUE(spinUntil([&] { return done; })) << script;
        return answer;
    }
    bool fieldBecomes(const std::string& value) {
        std::string expected = nlohmann::json(value).dump();
        return spinUntil([&] { return evaluate("field.value") == expected; });
    }

    std::string pages_;
    std::unique_ptr<WebKitHomeWindow> window_;
    bool loaded_ = false;
    int closed_ = 0;
};

TEST_F(WebKitHomeWindowKeysTest, CtrlWAndCtrlHHideAndCtrlMMinimises) {
    showFocused();
    ASSERT_TRUE(pressKeys("ctrl+w"));
    ASSERT_TRUE(spinUntil([&] { return closed_ == 1; }));
    EXPECT_FALSE(window_->isVisible());

    showFocused();
    ASSERT_TRUE(pressKeys("ctrl+h"));
    ASSERT_TRUE(spinUntil([&] { return closed_ == 2; }));
    EXPECT_FALSE(window_->isVisible());

    showFocused();
    ASSERT_TRUE(pressKeys("ctrl+m"));
    ASSERT_TRUE(spinUntil([&] { return minimised(window_->window()); }));
    EXPECT_EQ(closed_, 2) << "minimising is not closing";
    window_->present();
    EXPECT_TRUE(spinUntil([&] { return !minimised(window_->window()); }));
}

TEST_F(WebKitHomeWindowKeysTest, EditingKeysWorkInThePagesFields) {
    showFocused();
    evaluate("field.focus(); true");
    ASSERT_TRUE(typeText("hello world"));
    ASSERT_TRUE(fieldBecomes("hello world"));

    ASSERT_TRUE(pressKeys("ctrl+a"));
    ASSERT_TRUE(spinUntil(
        [&] { return evaluate("field.selectionStart + '-' + field.selectionEnd") == "\"0-11\""; }));
    ASSERT_TRUE(pressKeys("ctrl+x"));
    ASSERT_TRUE(fieldBecomes(""));
    ASSERT_TRUE(pressKeys("ctrl+v"));
    ASSERT_TRUE(fieldBecomes("hello world"));
    ASSERT_TRUE(pressKeys("ctrl+z"));
    ASSERT_TRUE(fieldBecomes(""));
    ASSERT_TRUE(pressKeys("ctrl+shift+z"));
    ASSERT_TRUE(fieldBecomes("hello world"));
    ASSERT_TRUE(pressKeys("ctrl+z"));
    ASSERT_TRUE(fieldBecomes(""));
    ASSERT_TRUE(pressKeys("ctrl+y"));
    ASSERT_TRUE(fieldBecomes("hello world"));

    // Copy leaves the field alone and fills the clipboard with the selection.
    evaluate("field.value = 'copied text'; field.select(); true");
    ASSERT_TRUE(pressKeys("ctrl+c"));
    ASSERT_TRUE(spinUntil([&] {
        GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
        gchar* text = gtk_clipboard_wait_for_text(clipboard);
        bool copied = text && std::string(text) == "copied text";
        g_free(text);
        return copied;
    }));
    EXPECT_TRUE(fieldBecomes("copied text"));
    evaluate("field.value = 'x '; field.setSelectionRange(2, 2); true");
    ASSERT_TRUE(pressKeys("ctrl+v"));
    EXPECT_TRUE(fieldBecomes("x copied text"));
    EXPECT_EQ(closed_, 0);
}

TEST_F(WebKitHomeWindowKeysTest, ShownInTheTaskSwitcherOnlyWhileShown) {
    showFocused();
    EXPECT_TRUE(spinUntil([&] { return inTaskList(window_->window()); }));
    EXPECT_FALSE(gtk_window_get_skip_taskbar_hint(GTK_WINDOW(window_->window())));
    window_->hide();
    EXPECT_TRUE(spinUntil([&] { return !inTaskList(window_->window()); }));
    showFocused();
    EXPECT_TRUE(spinUntil([&] { return inTaskList(window_->window()); }));
}

TEST_F(WebKitHomeWindowKeysTest, CtrlQQuitsTheApplication) {
    GApplication* application = g_application_new("app.velvox.KeysTest", G_APPLICATION_NON_UNIQUE);
    struct Run {
        WebKitHomeWindowKeysTest* test;
        bool pressed = false;
        bool gaveUp = false;
    } run{this};
    g_signal_connect(application, "activate", G_CALLBACK(+[](GApplication* app, gpointer data) {
                         auto* run = static_cast<Run*>(data);
                         g_application_hold(app);
                         run->test->showFocused();
                         run->pressed = pressKeys("ctrl+q");
                     }),
                     &run);
    // Only so that a broken key cannot hang the test run.
    guint guard = g_timeout_add_seconds(
        30,
        +[](gpointer data) {
            auto* run = static_cast<Run*>(data);
            run->gaveUp = true;
            g_application_quit(g_application_get_default());
            return G_SOURCE_REMOVE;
        },
        &run);
    g_application_set_default(application);
    g_application_run(application, 0, nullptr);
    if (!run.gaveUp) g_source_remove(guard);
    g_application_set_default(nullptr);
    g_object_unref(application);
    EXPECT_TRUE(run.pressed);
    EXPECT_FALSE(run.gaveUp) << "Ctrl+Q did not end the application";
}

TEST_F(WebKitHomeWindowKeysTest, HomeControllerRunsOnTheDesktopPieces) {
    StandInPortal portal(2);  // a light desktop
    installLinuxHome();
    ASSERT_TRUE(Platform::desktop().resourceFile("settings.html").has_value());
    ASSERT_TRUE(Platform::iconImages().symbolPNG("mic", 60).has_value());
    Home::show();
    Home* home = Home::shared();
    ASSERT_NE(home, nullptr);
    ASSERT_TRUE(spinUntil([&] { return home->loaded(); }));
    EXPECT_EQ(home->page(), "onboarding");  // not onboarded yet
    EXPECT_TRUE(Platform::webView().isVisible());
    // The window came from the module (here linked in) on first use.
    auto* loaded = static_cast<HomeWindowLoader&>(Platform::webView()).loadedForTesting();
    ASSERT_NE(loaded, nullptr);
    // The page has its symbols from the icon theme once it asks for its state.
    auto& window = static_cast<WebKitHomeWindow&>(*loaded);
    ASSERT_TRUE(spinUntil([&] {
        bool done = false;
        std::optional<std::string> painted;
        window.evaluateForResult("document.querySelectorAll('.symbol.has-image').length > 0",
                                 [&](std::optional<std::string> result) {
                                     painted = std::move(result);
                                     done = true;
                                 });
        return spinUntil([&] { return done; }) && painted == "true";
    }));
    auto pageAnswer = [&](const std::string& script) {
        bool done = false;
        std::optional<std::string> answer;
        window.evaluateForResult(script, [&](std::optional<std::string> result) {
            answer = std::move(result);
            done = true;
        });
        spinUntil([&] { return done; });
        return answer.value_or("");
    };
    auto preferDark = [] {
        gboolean dark = FALSE;
        g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark,
                     nullptr);
        return dark == TRUE;
    };
    // "Match the system" (no theme saved) follows the desktop, and its changes.
    const std::string shownTheme = "document.documentElement.dataset.theme";
    EXPECT_TRUE(spinUntil([&] { return pageAnswer(shownTheme) == "\"light\""; }));
    EXPECT_FALSE(preferDark());
    portal.setScheme(1);
    EXPECT_TRUE(spinUntil([&] { return pageAnswer(shownTheme) == "\"dark\""; }));
    EXPECT_TRUE(preferDark());
    spinFor(std::chrono::milliseconds(500));  // let the page paint
    saveScreenshot(window.window(), "onboarding-desktop.png");
    Platform::webView().hide();
    EXPECT_FALSE(Platform::webView().isVisible());
    // The window's size and place are kept in the settings folder.
    EXPECT_TRUE(std::filesystem::exists(Paths::dir() + "/home-window.json"));
    Home::resetForTesting();
    Platform::installWebView(nullptr);
    Platform::installDesktop(nullptr);
    Platform::installIconImages(nullptr);
}

}  // namespace
}  // namespace velvox::testing
