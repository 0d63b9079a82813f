// The real Home window: WebKitGTK under the headless X server, the bundled
// pages, the page bridge in both directions, the navigation limit and the
// desktop's colour scheme.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "platform/Platform.h"
#include "platform/linux/GlibMainQueue.h"
#include "platform/linux/WebKitHomeWindow.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

#include <gdk/gdkx.h>

namespace velvox::testing {
namespace {

using Json = nlohmann::json;
const std::string kPages = VELVOX_SOURCE_DIR "/resources";

// The frame the window manager puts around a window, as xprop shows it.
std::string frameExtents(unsigned long window) {
    gchar* out = nullptr;
    std::string command = "xprop -id " + std::to_string(window) + " _NET_FRAME_EXTENTS";
    g_spawn_command_line_sync(command.c_str(), &out, nullptr, nullptr, nullptr);
    std::string text = out ? out : "";
    g_free(out);
    return text;
}

// The settings portal of GNOME, KDE and other portal desktops on the session
// bus: its "color-scheme" (0 no preference, 1 dark, 2 light) is read with
// ReadOne and its changes are announced with SettingChanged.
class StandInPortal {
  public:
    explicit StandInPortal(guint32 scheme) : scheme_(scheme) {
        bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(R"(<node>
          <interface name="org.freedesktop.portal.Settings">
            <method name="ReadOne"><arg type="s"/><arg type="s"/><arg type="v" direction="out"/></method>
          </interface></node>)",
                                                           nullptr);
        static const GDBusInterfaceVTable vtable = {&StandInPortal::onCall, nullptr, nullptr, {}};
        registration_ = g_dbus_connection_register_object(bus_, kPath, info->interfaces[0], &vtable,
                                                          this, nullptr, nullptr);
        g_dbus_node_info_unref(info);
        owner_ = g_bus_own_name_on_connection(
            bus_, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE,
            +[](GDBusConnection*, const gchar*, gpointer self) {
                static_cast<StandInPortal*>(self)->owned_ = true;
            },
            nullptr, this, nullptr);
        spinUntil([&] { return owned_; });
    }
    ~StandInPortal() {
        g_bus_unown_name(owner_);
        g_dbus_connection_unregister_object(bus_, registration_);
        g_object_unref(bus_);
    }

    void setScheme(guint32 scheme) {
        scheme_ = scheme;
        g_dbus_connection_emit_signal(bus_, nullptr, kPath, "org.freedesktop.portal.Settings",
                                      "SettingChanged",
                                      g_variant_new("(ssv)", "org.freedesktop.appearance",
                                                    "color-scheme", g_variant_new_uint32(scheme)),
                                      nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }

  private:
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
    static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
        const gchar *space = nullptr, *key = nullptr;
        g_variant_get(parameters, "(&s&s)", &space, &key);
        if (g_strcmp0(space, "org.freedesktop.appearance") || g_strcmp0(key, "color-scheme"))
            return g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.portal.Error.NotFound", "no such setting");
        g_dbus_method_invocation_return_value(
            invocation,
            g_variant_new("(v)", g_variant_new_uint32(static_cast<StandInPortal*>(self)->scheme_)));
    }

    GDBusConnection* bus_ = nullptr;
    guint registration_ = 0, owner_ = 0;
    bool owned_ = false;
    guint32 scheme_;
};

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
    void TearDown() override {
        window.reset();
        TempHomeTest::TearDown();
    }

    // A window on a bundled page; messages the page posts are collected.
    void open(const std::string& page) {
        window = std::make_unique<WebKitHomeWindow>(
            kPages, home() + "/geometry.json",
            [&](const std::string& uri) { opened.push_back(uri); });
        events.finishedLoading = [this] { loaded = true; };
        events.message = [this](const std::string& body) { messages.push_back(Json::parse(body)); };
        events.closed = [this] { ++closed; };
        window->setEvents(events);
        window->present();
        window->loadPage(kPages + "/" + page);
        ASSERT_TRUE(spinUntil([&] { return loaded; }));
    }
    std::optional<std::string> evaluate(const std::string& script) {
        bool done = false;
        std::optional<std::string> answer;
        window->evaluateForResult(script, [&](std::optional<std::string> result) {
            answer = std::move(result);
            done = true;
        });
        EXPECT_TRUE(spinUntil([&] { return done; })) << script;
        return answer;
    }

    std::unique_ptr<WebKitHomeWindow> window;
    WebViewEvents events;
    std::vector<std::string> opened;
    std::vector<Json> messages;
    bool loaded = false;
    int closed = 0;
};

TEST_F(WebKitHomeWindowTest, SettingsPageRendersPushesPostsAndStaysOnItsPages) {
    open("settings.html");
    // The page says it is ready through the "orvo" handler.
    ASSERT_TRUE(spinUntil([&] {
        return std::any_of(messages.begin(), messages.end(),
                           [](const Json& m) { return m.value("action", "") == "ready"; });
    }));
    // A pushed state reaches the page's DOM; script errors come back as errors.
    window->evaluate(
        R"(window.orvoLive && window.orvoLive({"status":"Bridge check 4711","mic":true,"ax":true,"tap":true,"hasKey":true,"ready":true}))",
        [](const std::string& error) { ADD_FAILURE() << error; });
    EXPECT_EQ(evaluate("document.body.innerText.includes('Bridge check 4711')"), "true");
    std::string failure;
    window->evaluate("definitelyNotDefined()", [&](const std::string& error) { failure = error; });
    EXPECT_TRUE(spinUntil([&] { return !failure.empty(); }));
    // An action posted by the page arrives as JSON text.
    messages.clear();
    evaluate("Velvox.post('saveVocabulary', {list: ['Velvox', 'Zyx']}); true");
    ASSERT_TRUE(spinUntil([&] { return !messages.empty(); }));
    EXPECT_EQ(messages.back(),
              Json::parse(R"({"list":["Velvox","Zyx"],"action":"saveVocabulary"})"));
    // One title bar: the window's header bar, no frame title from the window
    // manager and none of the page's own strip.
    EXPECT_EQ(gtk_window_get_titlebar(GTK_WINDOW(window->window())), window->titleBar());
    auto xid = gdk_x11_window_get_xid(gtk_widget_get_window(window->window()));
    EXPECT_TRUE(spinUntil([&] { return frameExtents(xid).find(" = ") != std::string::npos; }));
    EXPECT_TRUE(std::regex_search(frameExtents(xid), std::regex("= \\d+, \\d+, 0, \\d+")))
        << "a window manager title: " << frameExtents(xid);
    EXPECT_EQ(evaluate("getComputedStyle(document.getElementById('titlebar')).display"),
              "\"none\"");
    // Another site opens in the browser, not in the window.
    std::string before = window->currentURI();
    evaluate("location.href = 'https://example.com/elsewhere'; true");
    ASSERT_TRUE(spinUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened.back(), "https://example.com/elsewhere");
    EXPECT_EQ(window->currentURI(), before);
    // Closing hides and reports; the size is kept for the next run.
    window->hide();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_GE(Json::parse(readFile(home() + "/geometry.json"), nullptr, false).value("width", 0),
              900);
}

// Every push the page tests send in Chromium, replayed in WebKitGTK as the
// program sends them, on both pages: no script fails, nothing reaches the
// page's error log, no pushed text runs as script, nothing leaves the bundled files.
TEST_F(WebKitHomeWindowTest, ThePageTestsPushesRunInWebKitWithoutAScriptError) {
    const std::string fixtures = readFile(VELVOX_SOURCE_DIR "/tests/pages/fixtures.js");
    const std::string recorded = readFile(VELVOX_SOURCE_DIR "/tests/pages/pushes.json");
    ASSERT_FALSE(fixtures.empty() || recorded.empty());
    for (const std::string page : {"onboarding", "settings"}) {
        SCOPED_TRACE(page);
        loaded = false;
        opened.clear();
        open(page + ".html");
        std::vector<std::string> failures;
        // What a view throws is caught by the bridge and written to the console.
        evaluate(R"(window.__errors = [];
            const report = console.error.bind(console);
            console.error = (...parts) => { window.__errors.push(parts.map(String).join(' ')); report(...parts); };
            window.addEventListener('error', (event) => window.__errors.push(event.message));
            document.addEventListener('securitypolicyviolation',
                (event) => window.__errors.push('refused ' + event.blockedURI));
            true)");
        // The bundled scripts ran under the page's Content-Security-Policy.
        EXPECT_EQ(evaluate("typeof window.Velvox + typeof window.Widgets"), "\"objectobject\"");
        // fixtures.js is a Node module that requires the recorded pushes.
        auto pushes =
            evaluate("JSON.stringify((function (module, require) {\n" + fixtures +
                     "\nreturn module.exports;\n})({}, () => (" + recorded + ")).pushes())");
        ASSERT_TRUE(pushes);
        auto list = Json::parse(Json::parse(*pushes).get<std::string>());
        ASSERT_GE(list.size(), 20u);
        for (const auto& push : list) {
            std::string name = "window." + push[0].get<std::string>();
            std::string argument =
                push[1].is_string() ? push[1].get<std::string>() : push[1].dump();
            window->evaluate(
                name + " && " + name + "(" + argument + ")",
                [&, name](const std::string& error) { failures.push_back(name + ": " + error); });
        }
        EXPECT_EQ(evaluate("JSON.stringify(window.__errors)"), "\"[]\"");
        EXPECT_EQ(evaluate("String(window.__pwned)"), "\"undefined\"");
        EXPECT_EQ(failures, std::vector<std::string>{});
        EXPECT_EQ(opened, std::vector<std::string>{});
    }
}

// The desktop's colour scheme: the settings portal's answer and its changes,
// else the GTK theme's name.
TEST_F(WebKitHomeWindowTest, ColourSchemeFollowsThePortalElseTheThemeName) {
    int changes = 0;
    events.colorSchemeChanged = [&] { ++changes; };
    auto follow = [&] {
        auto window = std::make_unique<WebKitHomeWindow>(kPages, home() + "/geometry.json",
                                                         [](const std::string&) {});
        window->setEvents(events);
        return window;
    };
    g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita", nullptr);
    auto themed = follow();
    EXPECT_EQ(themed->desktopColorScheme(), ColorScheme::light);
    for (auto [theme, scheme] :
         {std::pair{"Adwaita-dark", ColorScheme::dark}, {"Adwaita", ColorScheme::light}}) {
        g_object_set(gtk_settings_get_default(), "gtk-theme-name", theme, nullptr);
        EXPECT_EQ(themed->desktopColorScheme(), scheme) << theme;
    }
    EXPECT_EQ(changes, 2);
    spinFor(std::chrono::milliseconds(300));  // no portal: its question fails quietly
    EXPECT_EQ(themed->desktopColorScheme(), ColorScheme::light);
    themed.reset();

    StandInPortal portal(1);
    changes = 0;
    auto followed = follow();
    followed->desktopColorScheme();
    ASSERT_TRUE(spinUntil([&] { return changes == 1; }));
    EXPECT_EQ(followed->desktopColorScheme(), ColorScheme::dark);
    portal.setScheme(2);
    ASSERT_TRUE(spinUntil([&] { return changes == 2; }));
    EXPECT_EQ(followed->desktopColorScheme(), ColorScheme::light);
}

}  // namespace
}  // namespace velvox::testing
