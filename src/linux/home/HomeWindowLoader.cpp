#include "linux/home/HomeWindowLoader.h"

#include <dlfcn.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <climits>

#include "base/Files.h"
#include "base/LoadableModule.h"
#include "base/Log.h"
#include "linux/home/HomeWindowModule.h"

#ifndef VELVOX_SOURCE_DIR
#define VELVOX_SOURCE_DIR "."
#endif

namespace velvox {

namespace {

using Factory = HomeWindowFactory;

// The factory from a program that links the window in, else from the module
// beside the program (in a build tree, and in lib/velvox installed).
Factory findFactory(std::string& reasons) {
    if (void* linked = ::dlsym(RTLD_DEFAULT, kHomeWindowFactory))
        return reinterpret_cast<Factory>(linked);
    std::string module = Files::executableFolder() + "/" + kHomeWindowModule;
    if (Files::exists(module)) {
        std::string reason;
        if (Factory factory = openHomeWindowModule(module, reason)) return factory;
        reasons += reason + "; ";
    }
    if (reasons.empty()) reasons = "no " + module;
    return nullptr;
}

void tellHomeIsMissing() {
    GtkWidget* dialog = gtk_message_dialog_new(
        nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE,
        "Velvox could not open its Home window: a part of the installation (%s) is missing "
        "or damaged. Dictation keeps working; reinstall Velvox to get Home back.",
        kHomeWindowModule);
    gtk_window_set_title(GTK_WINDOW(dialog), "Velvox");
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show(dialog);
}

}  // namespace

HomeWindowFactory openHomeWindowModule(const std::string& path, std::string& reason) {
    return reinterpret_cast<Factory>(LoadableModule::open(
        path, kHomeWindowVersion, homeWindowModuleVersion(), kHomeWindowFactory, reason));
}

HomeWindowLoader::HomeWindowLoader(std::string pagesFolder, std::string geometryFile,
                                   std::function<void(const std::string& uri)> openExternal,
                                   std::function<ColorScheme()> desktopScheme)
    : pagesFolder_(std::move(pagesFolder)),
      geometryFile_(std::move(geometryFile)),
      openExternal_(std::move(openExternal)),
      desktopScheme_(std::move(desktopScheme)) {}

HomeWindowLoader::~HomeWindowLoader() = default;

std::string HomeWindowLoader::defaultPagesFolder() {
    // Installed, the application is in PREFIX/lib/velvox and its pages in PREFIX/share.
    std::string installed = Files::executableFolder() + "/../../share/velvox/resources";
    char resolved[PATH_MAX];
    if (Files::exists(installed + "/settings.html") && ::realpath(installed.c_str(), resolved))
        return resolved;
    return VELVOX_SOURCE_DIR "/resources";
}

bool HomeWindowLoader::ensureLoaded() {
    if (window_) return true;
    if (failed_) return false;
    std::string reasons;
    Factory factory = findFactory(reasons);
    if (!factory) {
        failed_ = true;
        Log::error("home window module not loaded: " + reasons);
        tellHomeIsMissing();
        return false;
    }
    window_.reset(factory(pagesFolder_, geometryFile_, openExternal_));
    window_->setEvents(events_);
    return true;
}

void HomeWindowLoader::setEvents(WebViewEvents events) {
    events_ = std::move(events);
    if (window_) window_->setEvents(events_);
}

void HomeWindowLoader::present() {
    if (ensureLoaded()) window_->present();
}

void HomeWindowLoader::hide() {
    if (window_) window_->hide();
}

bool HomeWindowLoader::isVisible() {
    return window_ && window_->isVisible();
}

bool HomeWindowLoader::isKey() {
    return window_ && window_->isKey();
}

void HomeWindowLoader::loadPage(const std::string& path) {
    if (ensureLoaded()) window_->loadPage(path);
}

void HomeWindowLoader::evaluate(const std::string& script,
                                std::function<void(const std::string& error)> onError) {
    if (window_) window_->evaluate(script, std::move(onError));
}

void HomeWindowLoader::beginDrag() {
    if (window_) window_->beginDrag();
}

std::optional<std::string> HomeWindowLoader::titleBarDoubleClickAction() {
    if (!window_) return std::nullopt;
    return window_->titleBarDoubleClickAction();
}

void HomeWindowLoader::minimize() {
    if (window_) window_->minimize();
}

void HomeWindowLoader::zoom() {
    if (window_) window_->zoom();
}

// Asked by Home as it is built, which is when it first opens.
void HomeWindowLoader::setDarkAppearance(bool dark) {
    if (ensureLoaded()) window_->setDarkAppearance(dark);
}

// The desktop's answer: the question alone never brings the web engine in.
ColorScheme HomeWindowLoader::desktopColorScheme() {
    return desktopScheme_ ? desktopScheme_() : ColorScheme::dark;
}

void HomeWindowLoader::desktopSchemeChanged() {
    if (events_.colorSchemeChanged) events_.colorSchemeChanged();
}

}  // namespace velvox
