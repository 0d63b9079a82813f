#include "linux/home/WebKitHomeWindow.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/Files.h"

namespace velvox {

namespace {

constexpr int kWidth = 1120;
constexpr int kHeight = 760;
constexpr int kMinimumWidth = 900;
constexpr int kMinimumHeight = 600;
constexpr GdkRGBA kDarkBackground{0.039, 0.039, 0.047, 1.0};
constexpr GdkRGBA kLightBackground{0.965, 0.965, 0.973, 1.0};

// One title bar: the window's own header bar, drawn in the pages' colours,
// and the pages' own strip left out. A header bar, unlike an undecorated
// window, keeps the desktop's buttons, their order, resizing at the edges and
// the window menu on GNOME, KDE and Openbox alike.
constexpr const char* kTitleBarStyle = R"(
headerbar.velvox { min-height: 38px; padding: 0 6px; border: none; box-shadow: none;
  background-image: none; background-color: #0a0a0c; color: #a3a3b0; }
headerbar.velvox.light { background-color: #f6f6f8; color: #55555f; }
headerbar.velvox .title { font-size: 12px; font-weight: normal; }
headerbar.velvox button { color: inherit; background-image: none; background-color: transparent;
  border-color: transparent; box-shadow: none; }
headerbar.velvox button:hover { background-color: alpha(currentColor, 0.15); }
)";
constexpr const char* kHidePageStrip = ".titlebar { display: none !important; }";

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return path;
    return resolved;
}

}  // namespace

WebKitHomeWindow::WebKitHomeWindow(std::string pagesFolder, std::string geometryFile,
                                   ExternalOpener openExternal)
    : pagesFolder_(canonical(pagesFolder)),
      geometryFile_(std::move(geometryFile)),
      openExternal_(std::move(openExternal)) {}

WebKitHomeWindow::~WebKitHomeWindow() {
    *alive_ = false;
    if (bus_) {
        if (settingSubscription_) g_dbus_connection_signal_unsubscribe(bus_, settingSubscription_);
        g_object_unref(bus_);
    }
    if (themeNameHandler_)
        if (GtkSettings* settings = gtk_settings_get_default())
            g_signal_handler_disconnect(settings, themeNameHandler_);
    if (!window_) return;
    saveGeometry();
    g_signal_handlers_disconnect_by_data(window_, this);
    g_signal_handlers_disconnect_by_data(web_, this);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(web_), this);
    gtk_widget_destroy(window_);
}

WebKitHomeWindow::ExternalOpener WebKitHomeWindow::defaultOpener() {
    // Started in the background: the window never waits for the browser.
    return [](const std::string& uri) {
        g_app_info_launch_default_for_uri_async(uri.c_str(), nullptr, nullptr, nullptr, nullptr);
    };
}

void WebKitHomeWindow::setEvents(WebViewEvents events) {
    events_ = std::move(events);
}

void WebKitHomeWindow::ensureBuilt() {
    if (window_) return;
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), "Velvox");
    gtk_window_set_default_size(GTK_WINDOW(window_), kWidth, kHeight);
    GdkGeometry minimum{};
    minimum.min_width = kMinimumWidth;
    minimum.min_height = kMinimumHeight;
    gtk_window_set_geometry_hints(GTK_WINDOW(window_), nullptr, &minimum, GDK_HINT_MIN_SIZE);
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    titleBar_ = gtk_header_bar_new();
    gtk_header_bar_set_title(GTK_HEADER_BAR(titleBar_), "Velvox");
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(titleBar_), TRUE);
    GtkStyleContext* titleStyle = gtk_widget_get_style_context(titleBar_);
    gtk_style_context_add_class(titleStyle, "velvox");
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kTitleBarStyle, -1, nullptr);
    // On the screen, so that the header bar's title and buttons match too.
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window_),
                                              GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    gtk_window_set_titlebar(GTK_WINDOW(window_), titleBar_);
    gtk_widget_show(titleBar_);

    WebKitUserContentManager* manager = webkit_user_content_manager_new();
    // The signal must be connected before the handler is registered.
    g_signal_connect(manager, "script-message-received::orvo", G_CALLBACK(onScriptMessage), this);
    webkit_user_content_manager_register_script_message_handler(manager, "orvo");
    WebKitUserStyleSheet* hideStrip =
        webkit_user_style_sheet_new(kHidePageStrip, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                    WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
    webkit_user_content_manager_add_style_sheet(manager, hideStrip);
    webkit_user_style_sheet_unref(hideStrip);
    web_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(manager));
    g_object_unref(manager);
    WebKitSettings* settings = webkit_web_view_get_settings(web_);
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_enable_developer_extras(settings, TRUE);
    gboolean dark = FALSE;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
    GdkRGBA background = dark ? kDarkBackground : kLightBackground;
    webkit_web_view_set_background_color(web_, &background);
    if (!dark) gtk_style_context_add_class(gtk_widget_get_style_context(titleBar_), "light");
    gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(web_));

    g_signal_connect(window_, "delete-event", G_CALLBACK(onDeleteEvent), this);
    // Connected handlers run before the window's own, so these keys are the
    // window's and never reach the page.
    g_signal_connect(window_, "key-press-event", G_CALLBACK(onKeyPress), this);
    g_signal_connect(web_, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(web_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
    gtk_widget_show(GTK_WIDGET(web_));
    gtk_widget_grab_focus(GTK_WIDGET(web_));  // typing goes to the page at once
    restoreGeometry();
}

void WebKitHomeWindow::present() {
    ensureBuilt();
    // Shown, the window belongs in the task switcher; hidden, it does not.
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), FALSE);
    gtk_window_set_skip_pager_hint(GTK_WINDOW(window_), FALSE);
    gtk_window_deiconify(GTK_WINDOW(window_));
    gtk_window_present(GTK_WINDOW(window_));
}

void WebKitHomeWindow::hide() {
    if (!window_ || !gtk_widget_get_visible(window_)) return;
    saveGeometry();
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), TRUE);
    gtk_window_set_skip_pager_hint(GTK_WINDOW(window_), TRUE);
    gtk_widget_hide(window_);
    if (events_.closed) events_.closed();
}

bool WebKitHomeWindow::isVisible() {
    return window_ && gtk_widget_get_visible(window_);
}

bool WebKitHomeWindow::isKey() {
    return window_ && gtk_window_is_active(GTK_WINDOW(window_));
}

void WebKitHomeWindow::loadPage(const std::string& path) {
    ensureBuilt();
    gchar* uri = g_filename_to_uri(canonical(path).c_str(), nullptr, nullptr);
    if (!uri) return;
    webkit_web_view_load_uri(web_, uri);
    g_free(uri);
}

namespace {

struct Evaluation {
    std::function<void(const std::string&)> onError;
    std::function<void(std::optional<std::string>)> onResult;
};

void evaluated(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Evaluation> evaluation(static_cast<Evaluation*>(data));
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (!value) {
        std::string message = error && error->message ? error->message : "script failed";
        if (error) g_error_free(error);
        if (evaluation->onError) evaluation->onError(message);
        if (evaluation->onResult) evaluation->onResult(std::nullopt);
        return;
    }
    if (evaluation->onResult) {
        std::optional<std::string> text;
        if (!jsc_value_is_undefined(value)) {
            if (gchar* json = jsc_value_to_json(value, 0)) {
                text = json;
                g_free(json);
            }
        }
        evaluation->onResult(std::move(text));
    }
    g_object_unref(value);
}

}  // namespace

void WebKitHomeWindow::evaluate(const std::string& script,
                                std::function<void(const std::string& error)> onError) {
    if (!web_) return;
    auto* evaluation = new Evaluation{std::move(onError), nullptr};
    webkit_web_view_evaluate_javascript(web_, script.c_str(), static_cast<gssize>(script.size()),
                                        nullptr, nullptr, nullptr, evaluated, evaluation);
}

void WebKitHomeWindow::evaluateForResult(const std::string& script,
                                         std::function<void(std::optional<std::string>)> done) {
    if (!web_) return done(std::nullopt);
    auto* evaluation = new Evaluation{nullptr, std::move(done)};
    webkit_web_view_evaluate_javascript(web_, script.c_str(), static_cast<gssize>(script.size()),
                                        nullptr, nullptr, nullptr, evaluated, evaluation);
}

void WebKitHomeWindow::beginDrag() {
    if (!window_ || !gtk_widget_get_visible(window_)) return;
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(gdkWindow));
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return;
    // Only while the left button is still down: the message may arrive after release.
    double x = 0, y = 0;
    GdkModifierType mask{};
    gdk_window_get_device_position_double(gdk_get_default_root_window(), pointer, &x, &y, &mask);
    if (!(mask & GDK_BUTTON1_MASK)) return;
    gtk_window_begin_move_drag(GTK_WINDOW(window_), 1, static_cast<int>(x), static_cast<int>(y),
                               gtk_get_current_event_time());
}

std::optional<std::string> WebKitHomeWindow::titleBarDoubleClickAction() {
    static const char* schemaId = "org.gnome.desktop.wm.preferences";
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return std::nullopt;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, schemaId, TRUE);
    if (!schema) return std::nullopt;
    bool hasKey = g_settings_schema_has_key(schema, "action-double-click-titlebar");
    g_settings_schema_unref(schema);
    if (!hasKey) return std::nullopt;
    GSettings* settings = g_settings_new(schemaId);
    gchar* value = g_settings_get_string(settings, "action-double-click-titlebar");
    std::string action = value ? value : "";
    g_free(value);
    g_object_unref(settings);
    return action;
}

void WebKitHomeWindow::minimize() {
    if (window_) gtk_window_iconify(GTK_WINDOW(window_));
}

void WebKitHomeWindow::zoom() {
    if (!window_) return;
    if (gtk_window_is_maximized(GTK_WINDOW(window_))) {
        gtk_window_unmaximize(GTK_WINDOW(window_));
    } else {
        gtk_window_maximize(GTK_WINDOW(window_));
    }
}

void WebKitHomeWindow::setDarkAppearance(bool dark) {
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_set(settings, "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE, nullptr);
    if (titleBar_) {
        GtkStyleContext* style = gtk_widget_get_style_context(titleBar_);
        if (dark)
            gtk_style_context_remove_class(style, "light");
        else
            gtk_style_context_add_class(style, "light");
    }
    // The colour shown before a page paints: the pages' own background.
    if (web_) {
        GdkRGBA background = dark ? kDarkBackground : kLightBackground;
        webkit_web_view_set_background_color(web_, &background);
    }
}

// ---- the desktop's colour scheme ----

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kPortalSettings = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";
constexpr const char* kColorSchemeKey = "color-scheme";
constexpr int kPortalTimeoutMs = 2000;

struct PortalCall {
    std::weak_ptr<bool> alive;
    WebKitHomeWindow* window;
    bool deprecatedRead;
};

}  // namespace

void WebKitHomeWindow::watchDesktopScheme() {
    if (schemeWatched_) return;
    schemeWatched_ = true;
    if (GtkSettings* settings = gtk_settings_get_default())
        themeNameHandler_ =
            g_signal_connect(settings, "notify::gtk-theme-name", G_CALLBACK(onThemeName), this);
    lastScheme_ = desktopColorScheme();
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus_) return;
    settingSubscription_ = g_dbus_connection_signal_subscribe(
        bus_, kPortalName, kPortalSettings, "SettingChanged", kPortalPath, kAppearance,
        G_DBUS_SIGNAL_FLAGS_NONE,
        reinterpret_cast<GDBusSignalCallback>(&WebKitHomeWindow::onSettingChanged), this, nullptr);
    readPortalScheme(false);
}

// Asked without waiting: a desktop without the portal must not hold up the
// window, which meanwhile goes by the theme's name.
void WebKitHomeWindow::readPortalScheme(bool deprecatedRead) {
    auto* call = new PortalCall{alive_, this, deprecatedRead};
    g_dbus_connection_call(
        bus_, kPortalName, kPortalPath, kPortalSettings, deprecatedRead ? "Read" : "ReadOne",
        g_variant_new("(ss)", kAppearance, kColorSchemeKey), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kPortalTimeoutMs, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<PortalCall> call(static_cast<PortalCall*>(data));
            GError* error = nullptr;
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            auto alive = call->alive.lock();
            if (!alive || !*alive) {
                if (reply) g_variant_unref(reply);
                if (error) g_error_free(error);
                return;
            }
            if (!reply) {
                // Portals older than ReadOne answer the same question with Read.
                bool unknownMethod =
                    g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD);
                g_error_free(error);
                if (unknownMethod && !call->deprecatedRead) call->window->readPortalScheme(true);
                return;
            }
            GVariant* value = nullptr;
            g_variant_get(reply, "(v)", &value);
            call->window->takePortalValue(value);
            g_variant_unref(value);
            g_variant_unref(reply);
        },
        call);
}

void WebKitHomeWindow::takePortalValue(GVariant* value) {
    // Read wraps the value in one more variant than ReadOne does.
    GVariant* inner = g_variant_ref(value);
    while (inner && g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
        GVariant* next = g_variant_get_variant(inner);
        g_variant_unref(inner);
        inner = next;
    }
    if (inner && g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32)) {
        portalScheme_ = static_cast<int>(g_variant_get_uint32(inner));
        schemeMayHaveChanged();
    }
    if (inner) g_variant_unref(inner);
}

ColorScheme WebKitHomeWindow::desktopColorScheme() {
    watchDesktopScheme();
    if (portalScheme_ == 1) return ColorScheme::dark;
    if (portalScheme_ == 2) return ColorScheme::light;
    // No portal, or one with no preference: dark themes say so in their
    // name ("Adwaita-dark", "Breeze-Dark", "Yaru:dark").
    gchar* name = nullptr;
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_get(settings, "gtk-theme-name", &name, nullptr);
    std::string theme = name ? name : "";
    g_free(name);
    for (auto& c : theme) c = static_cast<char>(g_ascii_tolower(c));
    return theme.find("dark") != std::string::npos ? ColorScheme::dark : ColorScheme::light;
}

void WebKitHomeWindow::schemeMayHaveChanged() {
    ColorScheme now = desktopColorScheme();
    if (now == lastScheme_) return;
    lastScheme_ = now;
    if (events_.colorSchemeChanged) events_.colorSchemeChanged();
}

void WebKitHomeWindow::onThemeName(void*, void*, void* data) {
    static_cast<WebKitHomeWindow*>(data)->schemeMayHaveChanged();
}

void WebKitHomeWindow::onSettingChanged(GDBusConnection*, const char*, const char*, const char*,
                                        const char*, GVariant* parameters, void* data) {
    const gchar* space = nullptr;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
    g_variant_get(parameters, "(&s&sv)", &space, &key, &value);
    if (g_strcmp0(space, kAppearance) == 0 && g_strcmp0(key, kColorSchemeKey) == 0)
        static_cast<WebKitHomeWindow*>(data)->takePortalValue(value);
    g_variant_unref(value);
}

std::string WebKitHomeWindow::currentURI() const {
    const gchar* uri = web_ ? webkit_web_view_get_uri(web_) : nullptr;
    return uri ? uri : "";
}

bool WebKitHomeWindow::isPageAddress(const std::string& uri) const {
    if (uri.rfind("file://", 0) != 0) return false;
    gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    if (!path) return false;
    std::string file = canonical(path);
    g_free(path);
    return file.rfind(pagesFolder_ + "/", 0) == 0;
}

void WebKitHomeWindow::restoreGeometry() {
    std::ifstream in(geometryFile_);
    if (!in) return;
    std::stringstream text;
    text << in.rdbuf();
    auto saved = nlohmann::json::parse(text.str(), nullptr, false);
    if (!saved.is_object()) return;
    auto integer = [&](const char* key) -> std::optional<int> {
        auto found = saved.find(key);
        if (found == saved.end() || !found->is_number_integer()) return std::nullopt;
        return found->get<int>();
    };
    auto width = integer("width"), height = integer("height");
    if (width && height && *width >= kMinimumWidth && *height >= kMinimumHeight &&
        *width <= 16384 && *height <= 16384)
        gtk_window_set_default_size(GTK_WINDOW(window_), *width, *height);
    auto x = integer("x"), y = integer("y");
    if (!x || !y) return;
    int shownWidth = 0, shownHeight = 0;
    gtk_window_get_default_size(GTK_WINDOW(window_), &shownWidth, &shownHeight);
    // A place saved on a monitor that is gone (or a resolution since lowered)
    // would open the window where nobody sees it: then it opens centred.
    if (onSomeMonitor(*x, *y, shownWidth)) gtk_window_move(GTK_WINDOW(window_), *x, *y);
}

bool WebKitHomeWindow::onSomeMonitor(int x, int y, int width) {
    // Enough of the top edge to take hold of the window and move it.
    constexpr int kGrip = 100, kTitleHeight = 38;
    GdkDisplay* display = gdk_display_get_default();
    for (int i = 0, count = gdk_display_get_n_monitors(display); i < count; ++i) {
        GdkRectangle area{};
        gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &area);
        int left = std::max(x, area.x), right = std::min(x + width, area.x + area.width);
        bool topInside = y >= area.y && y + kTitleHeight <= area.y + area.height;
        if (topInside && right - left >= kGrip) return true;
    }
    return false;
}

void WebKitHomeWindow::saveGeometry() {
    if (!window_ || !gtk_widget_get_visible(window_) ||
        gtk_window_is_maximized(GTK_WINDOW(window_)))
        return;
    int width = 0, height = 0, x = 0, y = 0;
    gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
    gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
    nlohmann::json geometry = {{"width", width}, {"height", height}, {"x", x}, {"y", y}};
    auto slash = geometryFile_.rfind('/');
    if (slash != std::string::npos) Files::createFolder(geometryFile_.substr(0, slash));
    Files::writeAtomically(geometryFile_, geometry.dump() + "\n");
}

int WebKitHomeWindow::onDeleteEvent(GtkWidget*, void*, void* data) {
    static_cast<WebKitHomeWindow*>(data)->hide();
    return TRUE;  // keep the window: closing only hides it
}

namespace {

// The Latin letter a key stands for, also on layouts whose first level is
// not Latin (Ctrl+W is the key where W is, as in other applications).
guint latinLetter(const GdkEventKey* event) {
    guint key = gdk_keyval_to_lower(event->keyval);
    if (key >= GDK_KEY_a && key <= GDK_KEY_z) return key;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
    GdkKeymapKey* keys = nullptr;
    guint* values = nullptr;
    gint count = 0;
    guint letter = 0;
    if (gdk_keymap_get_entries_for_keycode(keymap, event->hardware_keycode, &keys, &values,
                                           &count)) {
        for (gint i = 0; i < count && !letter; ++i) {
            guint candidate = gdk_keyval_to_lower(values[i]);
            if (candidate >= GDK_KEY_a && candidate <= GDK_KEY_z) letter = candidate;
        }
        g_free(keys);
        g_free(values);
    }
    return letter;
}

}  // namespace

int WebKitHomeWindow::onKeyPress(GtkWidget*, void* eventPointer, void* data) {
    auto* self = static_cast<WebKitHomeWindow*>(data);
    auto* event = static_cast<GdkEventKey*>(eventPointer);
    GdkModifierType modifiers =
        GdkModifierType(event->state & gtk_accelerator_get_default_mod_mask());
    guint letter = latinLetter(event);
    // WebKitGTK keeps an undo history for the page's fields but binds no key
    // to it: undo and redo are given their usual keys here.
    if (letter == GDK_KEY_z &&
        (modifiers == GDK_CONTROL_MASK || modifiers == (GDK_CONTROL_MASK | GDK_SHIFT_MASK))) {
        webkit_web_view_execute_editing_command(self->web_, modifiers & GDK_SHIFT_MASK
                                                                ? WEBKIT_EDITING_COMMAND_REDO
                                                                : WEBKIT_EDITING_COMMAND_UNDO);
        return TRUE;
    }
    if (modifiers != GDK_CONTROL_MASK) return FALSE;
    switch (letter) {
        case GDK_KEY_y:
            webkit_web_view_execute_editing_command(self->web_, WEBKIT_EDITING_COMMAND_REDO);
            return TRUE;
        case GDK_KEY_w:
        case GDK_KEY_h:
            self->hide();
            return TRUE;
        case GDK_KEY_m:
            self->minimize();
            return TRUE;
        case GDK_KEY_q:
            if (GApplication* application = g_application_get_default())
                g_application_quit(application);
            return TRUE;
        default:
            return FALSE;
    }
}

void WebKitHomeWindow::onLoadChanged(WebKitWebView*, int event, void* data) {
    auto* self = static_cast<WebKitHomeWindow*>(data);
    if (event == WEBKIT_LOAD_FINISHED && self->events_.finishedLoading)
        self->events_.finishedLoading();
}

int WebKitHomeWindow::onDecidePolicy(WebKitWebView*, void* decisionPointer, int type, void* data) {
    auto* self = static_cast<WebKitHomeWindow*>(data);
    auto* decision = static_cast<WebKitPolicyDecision*>(decisionPointer);
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const gchar* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    std::string address = uri ? uri : "";
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && self->isPageAddress(address)) {
        webkit_policy_decision_use(decision);
        return TRUE;
    }
    webkit_policy_decision_ignore(decision);
    if (!address.empty() && address != "about:blank" && self->openExternal_)
        self->openExternal_(address);
    return TRUE;
}

void WebKitHomeWindow::onScriptMessage(void*, void* resultPointer, void* data) {
    auto* self = static_cast<WebKitHomeWindow*>(data);
    auto* result = static_cast<WebKitJavascriptResult*>(resultPointer);
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    gchar* json = value ? jsc_value_to_json(value, 0) : nullptr;
    std::string body = json ? json : "";
    g_free(json);
    if (self->events_.message) self->events_.message(body);
}

}  // namespace velvox
