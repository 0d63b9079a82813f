#include "TestDesktopFolders.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace velvox::testing {

namespace {

void write(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

void writePNG(const std::string& path, int width, int height, guint32 rgba) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    gdk_pixbuf_fill(pixbuf, rgba);
    gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr);
    g_object_unref(pixbuf);
}

TestDesktopFolders make() {
    TestDesktopFolders folders;
    std::string pattern = "/tmp/velvox-desktop-XXXXXX";
    folders.root = ::mkdtemp(pattern.data());
    folders.dataHome = folders.root + "/data";
    folders.handlerInbox = folders.root + "/handler-inbox";
    folders.handlerGate = folders.root + "/handler-gate";
    folders.fileIcon = folders.root + "/editor-icon.png";
    ::setenv("XDG_DATA_HOME", folders.dataHome.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folders.root + "/config").c_str(), 1);

    std::string applications = folders.dataHome + "/applications/";
    writePNG(folders.fileIcon, 48, 32, 0x3366ccff);
    write(applications + TestDesktopFolders::editorId + ".desktop",
          "[Desktop Entry]\nType=Application\nName=Velvox Test Editor\n"
          "Exec=/bin/true %F\nIcon=" +
              folders.fileIcon + "\n");

    writePNG(folders.dataHome + "/icons/hicolor/48x48/apps/velvoxtest-themed-icon.png", 48, 48,
             0xcc3333ff);
    write(applications + TestDesktopFolders::themedId + ".desktop",
          "[Desktop Entry]\nType=Application\nName=Velvox Themed Tool\n"
          "Exec=/bin/true\nIcon=velvoxtest-themed-icon\n");

    // The handler waits for the gate, so a test can see that opening an
    // address never waits for the application that takes it.
    std::string script = folders.root + "/handler.sh";
    write(script, "#!/bin/sh\ni=0\nwhile [ ! -e '" + folders.handlerGate +
                      "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done\n"
                      "printf '%s' \"$1\" > '" +
                      folders.handlerInbox + ".part' && mv '" + folders.handlerInbox + ".part' '" +
                      folders.handlerInbox + "'\n");
    ::chmod(script.c_str(), 0755);
    write(applications + TestDesktopFolders::handlerId + ".desktop",
          "[Desktop Entry]\nType=Application\nName=Velvox Test Handler\nNoDisplay=true\n"
          "Exec=" +
              script + " %u\nMimeType=x-scheme-handler/" + TestDesktopFolders::scheme + ";\n");
    // Registered as the default handler the way xdg-mime does it.
    write(applications + "mimeapps.list", std::string("[Default Applications]\nx-scheme-handler/") +
                                              TestDesktopFolders::scheme + "=" +
                                              TestDesktopFolders::handlerId + ".desktop\n");
    return folders;
}

// Made during static initialisation, before main() and so before GTK or GIO
// read the XDG variables.
struct Installed {
    TestDesktopFolders folders = make();
    ~Installed() {
        std::error_code ignored;
        std::filesystem::remove_all(folders.root, ignored);
    }
};
const Installed installed;

}  // namespace

const TestDesktopFolders& testDesktopFolders() {
    return installed.folders;
}

}  // namespace velvox::testing
