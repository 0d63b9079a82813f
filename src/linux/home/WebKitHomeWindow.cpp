#include "linux/home/WebKitHomeWindow.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <climits>
#include <memory>

#include "linux/glib/GlibIds.h"

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
      geometry_(std::move(geometryFile), kMinimumWidth, kMinimumHeight),
      openExternal_(std::move(openExternal)) {}

WebKitHomeWindow::~WebKitHomeWindow() {
    if (!window_) return;
    geometry_.save(GTK_WINDOW(window_));
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
    g_autoptr(GtkCssProvider) css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kTitleBarStyle, -1, nullptr);
    // On the screen, so that the header bar's title and buttons match too.
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window_),
                                              GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_window_set_titlebar(GTK_WINDOW(window_), titleBar_);
    gtk_widget_show(titleBar_);

    // WebKitGTK 4.1 declares no automatic cleanup for these two.
    GOwned<WebKitUserContentManager> manager(webkit_user_content_manager_new());
    // The signal must be connected before the handler is registered.
    g_signal_connect(manager.get(), "script-message-received::orvo", G_CALLBACK(onScriptMessage),
                     this);
    webkit_user_content_manager_register_script_message_handler(manager.get(), "orvo");
    std::unique_ptr<WebKitUserStyleSheet, decltype(&webkit_user_style_sheet_unref)> hideStrip(
        webkit_user_style_sheet_new(kHidePageStrip, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                    WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr),
        webkit_user_style_sheet_unref);
    webkit_user_content_manager_add_style_sheet(manager.get(), hideStrip.get());
    web_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(manager.get()));
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
    geometry_.restore(GTK_WINDOW(window_));
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
    geometry_.save(GTK_WINDOW(window_));
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
    g_autofree gchar* uri = g_filename_to_uri(canonical(path).c_str(), nullptr, nullptr);
    if (!uri) return;
    webkit_web_view_load_uri(web_, uri);
}

namespace {

struct Evaluation {
    std::function<void(const std::string&)> onError;
    std::function<void(std::optional<std::string>)> onResult;
};

void evaluated(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Evaluation> evaluation(static_cast<Evaluation*>(data));
    g_autoptr(GError) error = nullptr;
    g_autoptr(JSCValue) value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (!value) {
        std::string message = error && error->message ? error->message : "script failed";
        if (evaluation->onError) evaluation->onError(message);
        if (evaluation->onResult) evaluation->onResult(std::nullopt);
        return;
    }
    if (evaluation->onResult) {
        std::optional<std::string> text;
        if (!jsc_value_is_undefined(value)) {
            g_autofree gchar* json = jsc_value_to_json(value, 0);
            if (json) text = json;
        }
        evaluation->onResult(std::move(text));
    }
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
    g_autoptr(GSettingsSchema) schema = g_settings_schema_source_lookup(source, schemaId, TRUE);
    if (!schema || !g_settings_schema_has_key(schema, "action-double-click-titlebar"))
        return std::nullopt;
    g_autoptr(GSettings) settings = g_settings_new(schemaId);
    g_autofree gchar* value = g_settings_get_string(settings, "action-double-click-titlebar");
    return std::string(value ? value : "");
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

ColorScheme WebKitHomeWindow::desktopColorScheme() {
    return ColorScheme::dark;
}

std::string WebKitHomeWindow::currentURI() const {
    const gchar* uri = web_ ? webkit_web_view_get_uri(web_) : nullptr;
    return uri ? uri : "";
}

bool WebKitHomeWindow::isPageAddress(const std::string& uri) const {
    if (uri.rfind("file://", 0) != 0) return false;
    g_autofree gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    if (!path) return false;
    return canonical(path).rfind(pagesFolder_ + "/", 0) == 0;
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
    g_autofree GdkKeymapKey* keys = nullptr;
    g_autofree guint* values = nullptr;
    gint count = 0;
    guint letter = 0;
    if (gdk_keymap_get_entries_for_keycode(keymap, event->hardware_keycode, &keys, &values,
                                           &count)) {
        for (gint i = 0; i < count && !letter; ++i) {
            guint candidate = gdk_keyval_to_lower(values[i]);
            if (candidate >= GDK_KEY_a && candidate <= GDK_KEY_z) letter = candidate;
        }
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
    g_autofree gchar* json = value ? jsc_value_to_json(value, 0) : nullptr;
    std::string body = json ? json : "";
    if (self->events_.message) self->events_.message(body);
}

}  // namespace velvox
