#include "linux/gtk/GtkIconImages.h"

#include <gio/gdesktopappinfo.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <map>
#include <memory>

#include "linux/glib/GlibIds.h"

namespace velvox {

namespace {

constexpr int kLargestSide = 1024;
// The pages are dark; their symbols are drawn in an off-white.
constexpr GdkRGBA kSymbolColour{0.92, 0.92, 0.96, 1.0};
const char* const kFallbackApplicationIcon = "application-x-executable";

using Pixbuf = GOwned<GdkPixbuf>;

// The picture centred on a transparent square `pixels` on a side, scaled to
// fit without changing its proportions.
Pixbuf square(GdkPixbuf* source, int pixels) {
    int width = gdk_pixbuf_get_width(source), height = gdk_pixbuf_get_height(source);
    if (width < 1 || height < 1) return nullptr;
    if (width == pixels && height == pixels && gdk_pixbuf_get_has_alpha(source))
        return Pixbuf(GDK_PIXBUF(g_object_ref(source)));
    Pixbuf canvas(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, pixels, pixels));
    if (!canvas) return nullptr;
    gdk_pixbuf_fill(canvas.get(), 0x00000000);
    double scale =
        std::min(static_cast<double>(pixels) / width, static_cast<double>(pixels) / height);
    int drawnWidth = std::max(1, static_cast<int>(width * scale));
    int drawnHeight = std::max(1, static_cast<int>(height * scale));
    int x = (pixels - drawnWidth) / 2, y = (pixels - drawnHeight) / 2;
    gdk_pixbuf_composite(source, canvas.get(), x, y, drawnWidth, drawnHeight, x, y, scale, scale,
                         GDK_INTERP_BILINEAR, 255);
    return canvas;
}

std::optional<std::string> encodePNG(GdkPixbuf* pixbuf) {
    g_autofree gchar* buffer = nullptr;
    gsize size = 0;
    if (!gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", nullptr, nullptr))
        return std::nullopt;
    return std::string(buffer, size);
}

bool isPlainIdentifier(const std::string& identifier) {
    return !identifier.empty() && identifier.find('/') == std::string::npos &&
           identifier.find("..") == std::string::npos && identifier.find('\0') == std::string::npos;
}

Pixbuf loadIcon(GtkIconTheme* theme, GIcon* icon, int pixels) {
    g_autoptr(GtkIconInfo) info =
        gtk_icon_theme_lookup_by_gicon(theme, icon, pixels, GTK_ICON_LOOKUP_FORCE_SIZE);
    if (!info) return nullptr;
    return Pixbuf(gtk_icon_info_load_icon(info, nullptr));
}

}  // namespace

const std::vector<std::string>& GtkIconImages::themeNames(const std::string& symbol) {
    // The pages name their pictures after the symbols of another desktop;
    // these are the closest freedesktop (Adwaita) symbolic icons.
    static const std::map<std::string, std::vector<std::string>> names = {
        {"square.grid.2x2", {"view-app-grid-symbolic", "view-grid-symbolic"}},
        {"waveform", {"audio-x-generic-symbolic", "multimedia-volume-control-symbolic"}},
        {"text.alignleft", {"format-justify-left-symbolic"}},
        {"character.book.closed", {"accessories-dictionary-symbolic", "bookmark-new-symbolic"}},
        {"chart.bar.xaxis", {"utilities-system-monitor-symbolic", "x-office-spreadsheet-symbolic"}},
        {"person.crop.circle", {"avatar-default-symbolic", "system-users-symbolic"}},
        {"mic", {"audio-input-microphone-symbolic"}},
        {"hand.raised", {"preferences-system-privacy-symbolic", "changes-prevent-symbolic"}},
        {"keyboard", {"input-keyboard-symbolic", "preferences-desktop-keyboard-symbolic"}},
        {"circle.lefthalf.filled",
         {"preferences-desktop-appearance-symbolic", "night-light-symbolic"}},
        {"power", {"system-shutdown-symbolic"}},
        {"text.cursor", {"insert-text-symbolic", "edit-select-all-symbolic"}},
        {"doc.on.clipboard", {"edit-paste-symbolic"}},
        {"timer", {"alarm-symbolic", "preferences-system-time-symbolic"}},
        {"stop.circle", {"media-playback-stop-symbolic", "process-stop-symbolic"}},
        {"sparkles", {"starred-symbolic", "emblem-favorite-symbolic"}},
        {"clock", {"preferences-system-time-symbolic", "document-open-recent-symbolic"}},
        {"folder", {"folder-symbolic"}},
        {"doc.text", {"x-office-document-symbolic", "text-x-generic-symbolic"}},
        {"lock", {"changes-prevent-symbolic", "system-lock-screen-symbolic"}},
        {"key", {"dialog-password-symbolic", "auth-smartcard-symbolic"}},
        {"checkmark.circle", {"emblem-ok-symbolic", "emblem-default-symbolic"}},
        {"envelope", {"mail-unread-symbolic", "mail-send-symbolic"}},
        {"person", {"system-users-symbolic", "avatar-default-symbolic"}},
        {"creditcard", {"auth-smartcard-symbolic", "x-office-address-book-symbolic"}},
        {"arrow.up.forward.app", {"send-to-symbolic", "go-jump-symbolic"}},
        {"doc.plaintext", {"text-x-generic-symbolic", "x-office-document-symbolic"}},
        {"rectangle.and.pencil.and.ellipsis", {"document-edit-symbolic", "insert-text-symbolic"}},
        {"bolt", {"power-profile-performance-symbolic", "thunderbolt-symbolic"}},
        {"message", {"chat-message-new-symbolic", "mail-message-new-symbolic"}},
        {"chevron.left.forwardslash.chevron.right",
         {"text-x-script-symbolic", "utilities-terminal-symbolic"}},
        {"ellipsis.circle", {"view-more-horizontal-symbolic", "view-more-symbolic"}},
    };
    static const std::vector<std::string> none;
    auto found = names.find(symbol);
    return found == names.end() ? none : found->second;
}

std::optional<std::string> GtkIconImages::symbolPNG(const std::string& name, int pixels) {
    if (pixels < 1 || pixels > kLargestSide) return std::nullopt;
    const auto& candidates = themeNames(name);
    if (candidates.empty()) return std::nullopt;
    std::vector<const char*> iconNames;
    for (const auto& candidate : candidates) iconNames.push_back(candidate.c_str());
    iconNames.push_back(nullptr);
    GtkIconTheme* theme = gtk_icon_theme_get_default();
    if (!theme) return std::nullopt;
    g_autoptr(GtkIconInfo) info =
        gtk_icon_theme_choose_icon(theme, iconNames.data(), pixels, GTK_ICON_LOOKUP_FORCE_SIZE);
    if (!info) return std::nullopt;
    Pixbuf drawn(gtk_icon_info_load_symbolic(info, &kSymbolColour, nullptr, nullptr, nullptr,
                                             nullptr, nullptr));
    if (!drawn) return std::nullopt;
    Pixbuf fitted = square(drawn.get(), pixels);
    return fitted ? encodePNG(fitted.get()) : std::nullopt;
}

ApplicationIcon GtkIconImages::applicationIcon(const std::string& identifier, int pixels) {
    ApplicationIcon result;
    if (!isPlainIdentifier(identifier)) return result;
    std::string file = identifier;
    if (file.size() < 8 || file.compare(file.size() - 8, 8, ".desktop") != 0) file += ".desktop";
    g_autoptr(GDesktopAppInfo) app = g_desktop_app_info_new(file.c_str());
    if (!app) return result;
    result.installed = true;
    GtkIconTheme* theme = gtk_icon_theme_get_default();
    if (theme && pixels >= 1 && pixels <= kLargestSide) {
        Pixbuf pixbuf;
        if (GIcon* icon = g_app_info_get_icon(G_APP_INFO(app)))
            pixbuf = loadIcon(theme, icon, pixels);
        if (!pixbuf) {  // no icon, or one the theme cannot find: the generic program icon
            g_autoptr(GIcon) generic = g_themed_icon_new(kFallbackApplicationIcon);
            pixbuf = loadIcon(theme, generic, pixels);
        }
        if (pixbuf) {
            if (Pixbuf fitted = square(pixbuf.get(), pixels)) result.png = encodePNG(fitted.get());
        }
    }
    return result;
}

}  // namespace velvox
