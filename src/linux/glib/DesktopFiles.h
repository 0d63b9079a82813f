#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velvox {

// The installed desktop entries (the .desktop files in the applications
// folders of the XDG data directories), and the rules desktop shells use to
// tell which entry a window belongs to.
class DesktopFiles {
  public:
    struct Entry {
        std::string id;  // file ID without ".desktop", e.g. "org.gnome.TextEditor"
        std::string name;
        std::string startupWMClass;
    };
    struct Identity {
        std::string id;
        std::string name;
    };

    // $XDG_DATA_HOME, then every $XDG_DATA_DIRS entry, each with
    // "/applications"; earlier folders win for the same ID.
    static std::vector<std::string> applicationFolders();

    explicit DesktopFiles(std::vector<std::string> folders = applicationFolders());

    std::optional<Entry> entry(const std::string& id);

    // Which application a window is: its GTK application ID, else the entry
    // whose StartupWMClass matches the window's instance or class name, else
    // the entry named after the instance or class, else the class name itself.
    // Window class names are compared without regard to case.
    Identity identify(const std::string& gtkApplicationId, const std::string& instance,
                      const std::string& className);

  private:
    void refreshIfChanged();

    std::vector<std::string> folders_;
    std::vector<int64_t> folderTimes_;
    bool loaded_ = false;
    std::map<std::string, Entry> entries_;
};

// The file name of the program a process runs, from /proc; empty when unknown.
// The last way to tell an application by, where its window says nothing.
std::string executableName(pid_t process);

}  // namespace velvox
