#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "linux/glib/GlibIds.h"
#include "platform/StatusItem.h"

typedef struct _AppIndicator AppIndicator;
typedef struct _GtkWidget GtkWidget;

namespace velvox {

// The tray icon on a StatusNotifier host (libayatana-appindicator3), with a
// GtkMenu that the library exports over D-Bus. Main thread only, after GTK is
// initialised.
//
// Icons are SVG files in a private folder given to the host as the icon theme
// path. Hosts cache icons by name, so every change gets a file of a new name
// and the previous file is removed once the indicator points at the new one.
class AyatanaStatusItem final : public StatusItem {
  public:
    // Where icon files go: $XDG_RUNTIME_DIR/velvox-icons, or a folder of the
    // same name in the user's cache folder.
    static std::string defaultIconFolder();

    explicit AyatanaStatusItem(std::string iconFolder = defaultIconFolder());
    ~AyatanaStatusItem() override;
    AyatanaStatusItem(const AyatanaStatusItem&) = delete;
    AyatanaStatusItem& operator=(const AyatanaStatusItem&) = delete;

    // An image equal to the current one changes nothing. A template image is
    // drawn in a light grey that reads on dark and light panels and is named
    // "-symbolic", so hosts that recolour symbolic icons may tint it.
    void setImage(const VectorImage& image) override;
    void setToolTip(const std::string& text) override;
    void setMenu(std::vector<MenuItem> items) override;
    // Separators have no title. A mark can only be set on an item that was
    // made as a check item; on any other item the call changes nothing.
    void setItemTitle(std::size_t index, const std::string& title) override;
    void setItemChecked(std::size_t index, bool checked) override;

    // For tests and diagnostics.
    AppIndicator* indicator() const { return indicator_.get(); }
    const std::string& iconFolder() const { return iconFolder_; }
    // The icon file in use, empty before the first image.
    const std::string& iconFile() const { return iconFile_; }
    const std::string& toolTip() const { return toolTip_; }
    // The menu widget of the item at this index, or nullptr.
    GtkWidget* itemWidget(std::size_t index) const;

    // The SVG document written for an image (template images recoloured).
    static std::string iconDocument(const VectorImage& image);

  private:
    struct Entry;

    bool prepareIconFolder();
    void destroyMenu();
    static void onActivate(GtkWidget* widget, void* entry);
    static void onConnectionChanged(AppIndicator* indicator, int connected, void* self);

    GOwned<AppIndicator> indicator_;
    SignalConnection connectionHandler_;
    bool loggedNoHost_ = false;
    bool loggedHost_ = false;

    std::string iconFolder_;
    // Whether the folder exists and is ours; checked on first use.
    enum class FolderState { unchecked, ready, unusable } folderState_ = FolderState::unchecked;
    unsigned iconSerial_ = 0;
    std::string iconFile_;
    std::string iconContent_;
    bool themePathSet_ = false;
    bool loggedWriteFailure_ = false;

    std::string toolTip_;

    GtkWidget* menu_ = nullptr;
    std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace velvox
