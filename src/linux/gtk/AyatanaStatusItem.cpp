#include "linux/gtk/AyatanaStatusItem.h"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "base/Brand.h"
#include "base/Files.h"
#include "base/Log.h"
#include "base/Strings.h"

namespace velvox {

namespace {

// A template icon follows the panel where the host can say how: hosts of the
// Plasma kind replace the "current-color-scheme" style sheet with the panel's
// text and background colours, and GTK-based hosts paint the fill of a
// "-symbolic" icon in the panel's text colour. Elsewhere the icon must read on
// any panel by itself: light bars with a dark rim, which stand out from a
// white panel as well as from a black one. Where the host follows the panel,
// the rim takes the panel's background and disappears.
constexpr const char* kTemplateStyle =
    "<style id=\"current-color-scheme\" type=\"text/css\">"
    ".ColorScheme-Text{color:#eeeeee}.ColorScheme-Background{color:#262626}</style>";
constexpr double kRimWidth = 1.5;
constexpr double kRimOpacity = 0.8;

std::string svgNumber(double value) {
    return Strings::decimal(std::round(value * 1000) / 1000);
}

const std::string kIconFolderName = "velvox-icons";

bool isOurIconFile(const std::string& name) {
    const std::string prefix = Brand::bundleID + "-";
    const std::string suffix = ".svg";
    return name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) &&
           name.ends_with(suffix);
}

// Writes beside the final name and renames, so a host never reads half a
// file. No fsync: the file only lives for this session, and the write happens
// on the main thread at the start of every dictation, where waiting for the
// disk would delay the recording.
bool writeIconFile(const std::string& path, const std::string& content) {
    std::string temporary = path + ".part";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                    Files::kPrivateFileMode);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, Files::kPrivateFileMode) == 0;
    size_t written = 0;
    while (ok && written < content.size()) {
        ssize_t count = ::write(fd, content.data() + written, content.size() - written);
        if (count < 0 && errno == EINTR) continue;
        ok = count > 0;
        if (ok) written += static_cast<size_t>(count);
    }
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

// Runs the action from the main loop rather than inside the menu's signal
// emission: an action may replace the whole menu, and the item being
// activated must not be destroyed under GTK's feet.
void runSoon(std::function<void()> action) {
    auto* work = new std::function<void()>(std::move(action));
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        work, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

}  // namespace

struct AyatanaStatusItem::Entry {
    GtkWidget* widget = nullptr;
    bool isSeparator = false;
    bool isCheck = false;
    SignalConnection activateHandler;
    std::function<void()> action;
};

std::string AyatanaStatusItem::defaultIconFolder() {
    // $XDG_RUNTIME_DIR is private to the user and emptied at log-out, the
    // right home for files that only live as long as the session.
    const char* runtime = g_getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && Files::isFolder(runtime))
        return Files::join(runtime, kIconFolderName);
    return Files::join(g_get_user_cache_dir(), kIconFolderName);
}

AyatanaStatusItem::AyatanaStatusItem(std::string iconFolder) : iconFolder_(std::move(iconFolder)) {
    indicator_.reset(
        app_indicator_new(Brand::bundleID.c_str(), "", APP_INDICATOR_CATEGORY_APPLICATION_STATUS));
    // No XEmbed tray icon when no status notifier host runs: the library's
    // fallback icon crashed the application (an invalid read inside the
    // library as the icon changed at the first dictation), and a desktop
    // without a host still reaches Home by launching the application again.
    APP_INDICATOR_GET_CLASS(indicator_.get())->fallback = nullptr;
    app_indicator_set_title(indicator_.get(), Brand::name.c_str());
    app_indicator_set_status(indicator_.get(), APP_INDICATOR_STATUS_ACTIVE);
    connectionHandler_ =
        SignalConnection(indicator_.get(),
                         g_signal_connect(indicator_.get(), APP_INDICATOR_SIGNAL_CONNECTION_CHANGED,
                                          G_CALLBACK(onConnectionChanged), this));
}

AyatanaStatusItem::~AyatanaStatusItem() {
    connectionHandler_.disconnect();
    destroyMenu();
    indicator_.reset();  // the tray item goes before its icon file
    if (!iconFile_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(iconFile_, ignored);
    }
}

void AyatanaStatusItem::onConnectionChanged(AppIndicator*, int connected, void* self) {
    auto* item = static_cast<AyatanaStatusItem*>(self);
    // The library reports "not connected" when no StatusNotifierWatcher owns
    // its bus name (no tray in this desktop, or none yet). Said once: a
    // desktop that loses and regains its panel must not fill the log.
    if (!connected && !item->loggedNoHost_) {
        item->loggedNoHost_ = true;
        Log::write("tray: no status notifier host found; start " + Brand::name +
                   " again to open Home");
    } else if (connected && item->loggedNoHost_ && !item->loggedHost_) {
        item->loggedHost_ = true;
        Log::write("tray: status notifier host found");
    }
}

// ---- icon ----

std::string AyatanaStatusItem::iconDocument(const VectorImage& image) {
    if (!image.isTemplate) return image.svg();
    std::string rims, fills;
    for (const auto& shape : image.shapes) {
        std::string place = "<rect x=\"" + svgNumber(shape.rect.x) + "\" y=\"" +
                            svgNumber(shape.rect.y) + "\" width=\"" + svgNumber(shape.rect.width) +
                            "\" height=\"" + svgNumber(shape.rect.height) + "\" rx=\"" +
                            svgNumber(shape.radius) + "\" ry=\"" + svgNumber(shape.radius) + "\" ";
        rims += place +
                "class=\"ColorScheme-Background\" fill=\"none\" stroke=\"currentColor\" "
                "stroke-width=\"" +
                svgNumber(kRimWidth) + "\" stroke-opacity=\"" +
                svgNumber(kRimOpacity * shape.colour.alpha) + "\"/>";
        fills += place + "class=\"ColorScheme-Text\" fill=\"currentColor\" fill-opacity=\"" +
                 svgNumber(shape.colour.alpha) + "\"/>";
    }
    std::string width = svgNumber(image.size.width), height = svgNumber(image.size.height);
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + width + "\" height=\"" + height +
           "\" viewBox=\"0 0 " + width + " " + height + "\">" + kTemplateStyle + rims + fills +
           "</svg>";
}

bool AyatanaStatusItem::prepareIconFolder() {
    if (folderState_ != FolderState::unchecked) return folderState_ == FolderState::ready;
    folderState_ = FolderState::unusable;
    std::string error;
    if (!Files::createFolder(iconFolder_, Files::kPrivateFolderMode, &error)) {
        Log::write("tray: cannot create the icon folder: " + error);
        return false;
    }
    // The host reads these files by name from this folder, so the folder must
    // be ours alone: not a link to elsewhere, not another user's.
    struct stat info {};
    if (::lstat(iconFolder_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid()) {
        Log::write("tray: the icon folder is not a private folder of this user");
        return false;
    }
    if ((info.st_mode & 07777) != Files::kPrivateFolderMode) {
        Files::setMode(iconFolder_, Files::kPrivateFolderMode);
    }
    // Icons left by an earlier run that ended without cleaning up.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(iconFolder_, ignored)) {
        if (isOurIconFile(entry.path().filename().string())) {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
    folderState_ = FolderState::ready;
    return true;
}

void AyatanaStatusItem::setImage(const VectorImage& image) {
    std::string content = iconDocument(image);
    if (!iconFile_.empty() && content == iconContent_) return;
    if (!prepareIconFolder()) return;

    std::string name = Brand::bundleID + "-" + std::to_string(++iconSerial_);
    if (image.isTemplate) name += "-symbolic";
    std::string file = Files::join(iconFolder_, name + ".svg");
    if (!writeIconFile(file, content)) {
        // Said once: the icon changes at every dictation, and a full disk
        // would otherwise add a line to the log each time.
        if (!loggedWriteFailure_) Log::write("tray: cannot write the icon file " + file);
        loggedWriteFailure_ = true;
        return;
    }
    if (!themePathSet_) {
        app_indicator_set_icon_theme_path(indicator_.get(), iconFolder_.c_str());
        themePathSet_ = true;
    }
    app_indicator_set_icon_full(indicator_.get(), name.c_str(), Brand::name.c_str());

    if (!iconFile_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(iconFile_, ignored);
    }
    iconFile_ = std::move(file);
    iconContent_ = std::move(content);
}

void AyatanaStatusItem::setToolTip(const std::string& text) {
    // Ayatana's indicators have no tool tip of their own; the title is what
    // hosts show on hover and read out to screen readers.
    if (text == toolTip_) return;
    toolTip_ = text;
    app_indicator_set_title(indicator_.get(), text.empty() ? Brand::name.c_str() : text.c_str());
}

// ---- menu ----

void AyatanaStatusItem::onActivate(GtkWidget*, void* data) {
    auto* entry = static_cast<Entry*>(data);
    if (entry->action) runSoon(entry->action);
}

void AyatanaStatusItem::setMenu(std::vector<MenuItem> items) {
    // Our own reference: the indicator drops its reference when the next
    // menu replaces this one, and the widgets must live until we destroy them.
    GtkWidget* menu = GTK_WIDGET(g_object_ref_sink(gtk_menu_new()));
    std::vector<std::unique_ptr<Entry>> entries;
    for (auto& item : items) {
        auto entry = std::make_unique<Entry>();
        if (item.isSeparator) {
            entry->isSeparator = true;
            entry->widget = gtk_separator_menu_item_new();
        } else {
            if (item.checked) {
                entry->isCheck = true;
                entry->widget = gtk_check_menu_item_new_with_label(item.title.c_str());
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(entry->widget), *item.checked);
            } else {
                entry->widget = gtk_menu_item_new_with_label(item.title.c_str());
            }
            gtk_widget_set_sensitive(entry->widget, item.enabled);
            entry->action = std::move(item.action);
            // Connected after the initial mark is set, so building runs no action.
            entry->activateHandler = SignalConnection(
                entry->widget,
                g_signal_connect(entry->widget, "activate", G_CALLBACK(onActivate), entry.get()));
        }
        gtk_widget_show(entry->widget);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry->widget);
        entries.push_back(std::move(entry));
    }
    gtk_widget_show(menu);

    app_indicator_set_menu(indicator_.get(), GTK_MENU(menu));
    destroyMenu();
    menu_ = menu;
    entries_ = std::move(entries);
}

void AyatanaStatusItem::destroyMenu() {
    if (!menu_) return;
    // The widgets go before the entries their handlers point at.
    for (auto& entry : entries_) entry->activateHandler.disconnect();
    gtk_widget_destroy(menu_);
    g_object_unref(menu_);
    menu_ = nullptr;
    entries_.clear();
}

GtkWidget* AyatanaStatusItem::itemWidget(std::size_t index) const {
    return index < entries_.size() ? entries_[index]->widget : nullptr;
}

void AyatanaStatusItem::setItemTitle(std::size_t index, const std::string& title) {
    if (index >= entries_.size() || entries_[index]->isSeparator) return;
    GtkMenuItem* item = GTK_MENU_ITEM(entries_[index]->widget);
    const char* current = gtk_menu_item_get_label(item);
    if (current && title == current) return;
    gtk_menu_item_set_label(item, title.c_str());
}

void AyatanaStatusItem::setItemChecked(std::size_t index, bool checked) {
    if (index >= entries_.size() || !entries_[index]->isCheck) return;
    Entry& entry = *entries_[index];
    auto* item = GTK_CHECK_MENU_ITEM(entry.widget);
    if (static_cast<bool>(gtk_check_menu_item_get_active(item)) == checked) return;
    // Setting the mark activates the item inside GTK; that is not the user
    // picking it, so the action must not run.
    entry.activateHandler.block();
    gtk_check_menu_item_set_active(item, checked);
    entry.activateHandler.unblock();
}

}  // namespace velvox
