#pragma once

#include <string>

namespace velvox::testing {

// Desktop entries, icons and a URL handler installed for these tests in a
// data folder of their own ($XDG_DATA_HOME). GLib reads that variable once,
// so the folder is made before main() runs, before anything asks GLib.
struct TestDesktopFolders {
    std::string root;          // everything below lives here
    std::string dataHome;      // $XDG_DATA_HOME
    std::string handlerInbox;  // the URL handler writes the address it got here
    std::string handlerGate;   // ... once this file exists
    std::string fileIcon;      // the icon file of the "file icon" application (48 × 32)

    // Application identifiers (desktop-file IDs without ".desktop").
    static constexpr const char* editorId = "velvoxtest-editor";    // Icon= a file path
    static constexpr const char* themedId = "velvoxtest-themed";    // Icon= a theme name
    static constexpr const char* handlerId = "velvoxtest-handler";  // the URL handler
    static constexpr const char* scheme = "x-velvoxtest";
};

const TestDesktopFolders& testDesktopFolders();

}  // namespace velvox::testing
