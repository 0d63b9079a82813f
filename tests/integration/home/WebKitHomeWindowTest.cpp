// The real Home window: WebKitGTK under the headless X server, the bundled
// settings page, the page bridge in both directions and the navigation limit.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "HomeSession.h"
#include "StandInPortal.h"
#include "config/Config.h"
#include "platform/Platform.h"
#include "platform/linux/GlibMainQueue.h"
#include "platform/linux/WebKitHomeWindow.h"
#include "support/TempHome.h"

// After gtest: Xlib defines macros (None, Bool) that gtest uses as names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace velvox::testing {
namespace {

using Json = nlohmann::json;

const std::string kPages = VELVOX_SOURCE_DIR "/resources";

std::optional<std::string> evaluateNow(WebKitHomeWindow& window, const std::string& script) {
    bool done = false;
    std::optional<std::string> answer;
    window.evaluateForResult(script, [&](std::optional<std::string> result) {
        answer = std::move(result);
        done = true;
    });
    EXPECT_TRUE(spinUntil([&] { return done; })) << script;
    return answer;
}

// The window manager's frame around the window: left, right, top, bottom.
std::vector<long> frameExtents(GtkWidget* window) {
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    Atom atom = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<long> extents;
    if (XGetWindowProperty(display, gdk_x11_window_get_xid(gtk_widget_get_window(window)), atom, 0,
                           4, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data && format == 32 && count == 4) {
        auto* values = reinterpret_cast<long*>(data);
        extents.assign(values, values + 4);
    }
    if (data) XFree(data);
    return extents;
}

class WebKitHomeWindowTest : public TempHomeTest {
  protected:
    static void SetUpTestSuite() {
        ::setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
        ::setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 1);
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
    }
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
    }
};

TEST_F(WebKitHomeWindowTest, SettingsPageLoadsRendersPushesPostsAndStaysOnItsPages) {
    std::vector<std::string> opened;
    std::vector<Json> messages;
    bool loaded = false;
    WebKitHomeWindow window(kPages, home() + "/geometry.json",
                            [&](const std::string& uri) { opened.push_back(uri); });
    WebViewEvents events;
    events.message = [&](const std::string& body) { messages.push_back(Json::parse(body)); };
    events.finishedLoading = [&] { loaded = true; };
    window.setEvents(events);
    window.present();
    window.loadPage(kPages + "/settings.html");
    ASSERT_TRUE(spinUntil([&] { return loaded; }));
    // The page says it is ready through the "orvo" handler.
    ASSERT_TRUE(spinUntil([&] {
        for (auto& m : messages)
            if (m.value("action", "") == "ready") return true;
        return false;
    }));

    // A pushed state reaches the page's DOM.
    window.evaluate(
        R"(window.orvoLive && window.orvoLive({"status":"Bridge check 4711","mic":true,"ax":true,"tap":true,"hasKey":true,"ready":true}))",
        [](const std::string& error) { ADD_FAILURE() << error; });
    auto shown = evaluateNow(window, "document.body.innerText.includes('Bridge check 4711')");
    EXPECT_EQ(shown, "true");

    // Script errors come back as errors.
    std::string failure;
    window.evaluate("definitelyNotDefined()", [&](const std::string& error) { failure = error; });
    EXPECT_TRUE(spinUntil([&] { return !failure.empty(); }));

    // An action posted by the page arrives as JSON text.
    messages.clear();
    evaluateNow(window, "Velvox.post('saveVocabulary', {list: ['Velvox', 'Zyx']}); true");
    ASSERT_TRUE(spinUntil([&] { return !messages.empty(); }));
    EXPECT_EQ(messages.back(),
              Json::parse(R"({"list":["Velvox","Zyx"],"action":"saveVocabulary"})"));

    // One title bar: the window's header bar, no frame title from the
    // window manager and none of the page's own strip.
    EXPECT_EQ(gtk_window_get_titlebar(GTK_WINDOW(window.window())), window.titleBar());
    EXPECT_TRUE(spinUntil([&] { return frameExtents(window.window()).size() == 4; }));
    EXPECT_EQ(frameExtents(window.window())[2], 0) << "the window manager drew a title bar";
    EXPECT_EQ(evaluateNow(window, "getComputedStyle(document.getElementById('titlebar')).display"),
              "\"none\"");

    spinFor(std::chrono::milliseconds(500));  // let the page paint
    saveScreenshot(window.window(), "settings.png");

    // Another site opens in the browser, not in the window.
    std::string before = window.currentURI();
    evaluateNow(window, "location.href = 'https://example.com/elsewhere'; true");
    ASSERT_TRUE(spinUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened.back(), "https://example.com/elsewhere");
    EXPECT_EQ(window.currentURI(), before);
    EXPECT_NE(before.find("/resources/settings.html"), std::string::npos);

    // Closing hides and reports; the size is kept for the next run.
    bool closed = false;
    events.closed = [&] { closed = true; };
    window.setEvents(events);
    window.hide();
    EXPECT_TRUE(closed);
    EXPECT_FALSE(window.isVisible());
    auto geometry = Json::parse(readFile(home() + "/geometry.json"), nullptr, false);
    EXPECT_GE(geometry.value("width", 0), 900);
}

// A saved place is kept when the window's top edge is on the screen (here one
// monitor of 1920 × 1080) and ignored when it would open out of sight.
TEST_F(WebKitHomeWindowTest, OpensWhereItWasUnlessThatIsOffEveryMonitor) {
    struct Case {
        int x, y;
        bool kept;
    };
    for (const auto& c :
         {Case{120, 90, true}, Case{840, 330, true}, Case{5000, 200, false}, Case{300, 3000, false},
          Case{-1100, 100, false}, Case{400, -200, false}}) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        writeFile(home() + "/geometry.json",
                  Json{{"width", 1000}, {"height", 700}, {"x", c.x}, {"y", c.y}}.dump());
        WebKitHomeWindow window(kPages, home() + "/geometry.json", [](const std::string&) {});
        window.present();
        int x = 0, y = 0;
        ASSERT_TRUE(spinUntil([&] {
            if (!gtk_widget_get_mapped(window.window())) return false;
            gtk_window_get_position(GTK_WINDOW(window.window()), &x, &y);
            return true;
        }));
        spinFor(std::chrono::milliseconds(200));  // the window manager places it
        gtk_window_get_position(GTK_WINDOW(window.window()), &x, &y);
        if (c.kept) {
            EXPECT_EQ(x, c.x);
            EXPECT_EQ(y, c.y);
        } else {
            // Centred on the monitor, in full view.
            EXPECT_GE(x, 0);
            EXPECT_GE(y, 0);
            EXPECT_LE(x + 1000, 1920);
            EXPECT_LE(y + 700, 1080);
        }
    }
}

// Every push the page tests send in Chromium, replayed in WebKitGTK as the
// program sends them, on both pages: no script fails, nothing reaches the
// page's error log, nothing leaves the bundled files.
TEST_F(WebKitHomeWindowTest, ThePageTestsPushesRunInWebKitWithoutAScriptError) {
    const std::string fixtures = readFile(VELVOX_SOURCE_DIR "/tests/pages/fixtures.js");
    ASSERT_FALSE(fixtures.empty());
    for (const std::string page : {"onboarding", "settings"}) {
        SCOPED_TRACE(page);
        std::vector<std::string> opened, failures;
        bool loaded = false;
        WebKitHomeWindow window(kPages, home() + "/geometry.json",
                                [&](const std::string& uri) { opened.push_back(uri); });
        WebViewEvents events;
        events.finishedLoading = [&] { loaded = true; };
        window.setEvents(events);
        window.present();
        window.loadPage(kPages + "/" + page + ".html");
        ASSERT_TRUE(spinUntil([&] { return loaded; }));
        // What a view throws is caught by the bridge and written to the console.
        evaluateNow(window, R"(window.__errors = [];
            const report = console.error.bind(console);
            console.error = (...parts) => { window.__errors.push(parts.map(String).join(' ')); report(...parts); };
            window.addEventListener('error', (event) => window.__errors.push(event.message));
            document.addEventListener('securitypolicyviolation',
                (event) => window.__errors.push('refused ' + event.blockedURI));
            true)");
        // The bundled scripts ran under the page's Content-Security-Policy.
        EXPECT_EQ(evaluateNow(window, "typeof window.Velvox + typeof window.Widgets"),
                  "\"objectobject\"");
        auto pushes = evaluateNow(window, "JSON.stringify((function (module) {\n" + fixtures +
                                              "\nreturn module.exports;\n})({}).pushes())");
        ASSERT_TRUE(pushes);
        auto list = Json::parse(Json::parse(*pushes).get<std::string>());
        ASSERT_GE(list.size(), 20u);
        for (const auto& push : list) {
            std::string name = "window." + push[0].get<std::string>();
            std::string argument =
                push[1].is_string() ? push[1].get<std::string>() : push[1].dump();
            window.evaluate(
                name + " && " + name + "(" + argument + ")",
                [&, name](const std::string& error) { failures.push_back(name + ": " + error); });
        }
        EXPECT_EQ(evaluateNow(window, "JSON.stringify(window.__errors)"), "\"[]\"");
        EXPECT_EQ(evaluateNow(window, "String(window.__pwned)"), "\"undefined\"");
        EXPECT_EQ(failures, std::vector<std::string>{});
        EXPECT_EQ(opened, std::vector<std::string>{});
        spinFor(std::chrono::milliseconds(300));  // let the page paint
        saveScreenshot(window.window(), page + "-replayed.png");
    }
}

// The desktop's colour scheme: the settings portal's answer (ReadOne, or Read
// on older portals) and its changes, else the GTK theme's name.
TEST_F(WebKitHomeWindowTest, ColourSchemeFollowsThePortalElseTheThemeName) {
    GtkSettings* settings = gtk_settings_get_default();
    g_object_set(settings, "gtk-theme-name", "Adwaita", nullptr);
    int changes = 0;
    WebViewEvents events;
    events.colorSchemeChanged = [&] { ++changes; };
    {
        WebKitHomeWindow window(kPages, home() + "/geometry.json", [](const std::string&) {});
        window.setEvents(events);
        EXPECT_EQ(window.desktopColorScheme(), ColorScheme::light);
        g_object_set(settings, "gtk-theme-name", "Adwaita-dark", nullptr);
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(window.desktopColorScheme(), ColorScheme::dark);
        g_object_set(settings, "gtk-theme-name", "Adwaita", nullptr);
        EXPECT_EQ(changes, 2);
        spinFor(std::chrono::milliseconds(300));  // no portal: its question fails quietly
        EXPECT_EQ(window.desktopColorScheme(), ColorScheme::light);
    }
    struct Case {
        bool onlyDeprecatedRead;
        guint32 first;
        ColorScheme firstScheme;
        guint32 then;
        ColorScheme thenScheme;
    };
    for (const auto& c : {Case{false, 1, ColorScheme::dark, 2, ColorScheme::light},
                          Case{true, 1, ColorScheme::dark, 0, ColorScheme::light}}) {
        SCOPED_TRACE(c.onlyDeprecatedRead ? "Read" : "ReadOne");
        StandInPortal portal(c.first, c.onlyDeprecatedRead);
        ASSERT_TRUE(portal.owned());
        changes = 0;
        WebKitHomeWindow window(kPages, home() + "/geometry.json", [](const std::string&) {});
        window.setEvents(events);
        window.desktopColorScheme();
        ASSERT_TRUE(spinUntil([&] { return changes == 1; }));
        EXPECT_EQ(window.desktopColorScheme(), c.firstScheme);
        portal.setScheme(c.then);
        ASSERT_TRUE(spinUntil([&] { return changes == 2; }));
        EXPECT_EQ(window.desktopColorScheme(), c.thenScheme);
    }
}

}  // namespace
}  // namespace velvox::testing
