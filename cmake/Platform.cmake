# The platform side: every implementation of the seam that talks to the system.
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gio-2.0)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(DESKTOP REQUIRED IMPORTED_TARGET
  x11 xi xtst xfixes xkbcommon xkbcommon-x11 xcb xcb-xkb
  gstreamer-1.0 gstreamer-base-1.0 gstreamer-audio-1.0 gstreamer-pbutils-1.0
  gtk+-3.0 wayland-client ayatana-appindicator3-0.1 atspi-2 cairo pangocairo)

file(GLOB platform_linux_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/linux/*.cpp
     ${CMAKE_SOURCE_DIR}/src/platform/linux/x11/*.cpp
     ${CMAKE_SOURCE_DIR}/src/platform/linux/wayland/*.cpp)
list(REMOVE_ITEM platform_linux_sources ${CMAKE_SOURCE_DIR}/src/platform/linux/main.cpp
     ${CMAKE_SOURCE_DIR}/src/platform/linux/WebKitHomeWindow.cpp)
# The HTTP client stands alone so that the service links it without the desktop.
file(GLOB platform_curl_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/curl/*.cpp)
add_library(velvox_http STATIC ${platform_curl_sources})
target_include_directories(velvox_http PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(velvox_http PUBLIC velvox_base PkgConfig::CURL)
add_library(velvox_platform STATIC ${platform_linux_sources})
target_include_directories(velvox_platform PUBLIC ${CMAKE_SOURCE_DIR}/src)

# The Wayland protocols beyond the core one that delivery and the pill speak
# (clipboard control, virtual keyboard, layer shell): their client code comes
# from wayland-scanner.
enable_language(C)
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
set(wayland_protocols_dir ${CMAKE_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${wayland_protocols_dir})
# The layer shell names xdg-shell's popups, whose description Debian ships.
pkg_get_variable(wayland_protocols_data wayland-protocols pkgdatadir)
foreach(protocol wlr-data-control-unstable-v1 virtual-keyboard-unstable-v1 wlr-layer-shell-unstable-v1
        xdg-shell)
  set(xml ${CMAKE_SOURCE_DIR}/protocols/${protocol}.xml)
  if(protocol STREQUAL "xdg-shell")
    set(xml ${wayland_protocols_data}/stable/xdg-shell/xdg-shell.xml)
  endif()
  add_custom_command(
    OUTPUT ${wayland_protocols_dir}/${protocol}-client.h ${wayland_protocols_dir}/${protocol}.c
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${wayland_protocols_dir}/${protocol}-client.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${wayland_protocols_dir}/${protocol}.c
    DEPENDS ${xml})
  target_sources(velvox_platform PRIVATE ${wayland_protocols_dir}/${protocol}-client.h
                 ${wayland_protocols_dir}/${protocol}.c)
endforeach()
target_include_directories(velvox_platform PRIVATE ${wayland_protocols_dir})
# The portal asks for the hotkeys by their key names.
target_link_libraries(velvox_platform PUBLIC velvox_base velvox_capture velvox_http PkgConfig::GLIB PkgConfig::CURL
                      PkgConfig::DESKTOP)
target_link_libraries(velvox_platform PUBLIC ${CMAKE_DL_LIBS})

# The Home window and the web engine under it: a module of its own that the
# program loads the first time Home opens, so that a tray application at rest
# maps no web engine. Its references to the program's own code (Files) are
# resolved against the program, which exports its symbols for it; tests and
# benchmarks that drive the window link it directly.
pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
add_library(velvox-home SHARED ${CMAKE_SOURCE_DIR}/src/platform/linux/WebKitHomeWindow.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/linux/home/HomeWindowModule.cpp)
target_include_directories(velvox-home PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(velvox-home PUBLIC PkgConfig::WEBKIT PkgConfig::DESKTOP nlohmann_json::nlohmann_json)
set_target_properties(velvox-home PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
