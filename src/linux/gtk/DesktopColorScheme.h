#pragma once

#include <functional>
#include <memory>

#include "linux/glib/GlibIds.h"
#include "platform/WebView.h"

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;

namespace velvox {

// Whether the desktop is dark: what the settings portal's "color-scheme"
// says, else what the name of the GTK theme says. It starts following both
// the first time it is asked (the portal is asked without waiting; until it
// answers, the theme's name decides) and from then on reports each switch
// between light and dark. Main thread only.
class DesktopColorScheme final {
  public:
    DesktopColorScheme();
    ~DesktopColorScheme();
    DesktopColorScheme(const DesktopColorScheme&) = delete;
    DesktopColorScheme& operator=(const DesktopColorScheme&) = delete;

    ColorScheme current();
    // Runs after each switch, once following has begun.
    void setChanged(std::function<void()> changed) { changed_ = std::move(changed); }

  private:
    void watch();
    void readPortal(bool deprecatedRead);
    void takePortalValue(GVariant* value);
    void mayHaveChanged();

    static void onThemeName(void* settings, void* property, void* self);
    static void onSettingChanged(GDBusConnection*, const char* sender, const char* path,
                                 const char* interface, const char* signal, GVariant* parameters,
                                 void* self);

    std::function<void()> changed_;
    bool watched_ = false;
    GOwned<GDBusConnection> bus_;
    unsigned settingSubscription_ = 0;
    unsigned long themeNameHandler_ = 0;
    // The portal's "color-scheme": 0 no preference, 1 dark, 2 light; -1 before it answers.
    int portalScheme_ = -1;
    ColorScheme last_ = ColorScheme::light;
    // Outlives this only as long as a portal call is on its way.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velvox
