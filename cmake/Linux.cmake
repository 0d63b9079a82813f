# The Linux port: one library per backend under src/linux/. A backend links
# the seam (velvox_base) and the shared GLib and drawing helpers, and the few
# backends it is built on (GTK runs on the X server there); never the core.
# The wiring beside main.cpp (velvox_linux) puts the backends together, and
# only the program links that with the core.
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gio-2.0)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(X11_DEPS REQUIRED IMPORTED_TARGET x11 xi xtst xfixes xkbcommon xkbcommon-x11 xcb xcb-xkb)
pkg_check_modules(DRAW_DEPS REQUIRED IMPORTED_TARGET cairo pangocairo)
pkg_check_modules(GTK_DEPS REQUIRED IMPORTED_TARGET gtk+-3.0 ayatana-appindicator3-0.1)
pkg_check_modules(GST_DEPS REQUIRED IMPORTED_TARGET gstreamer-1.0 gstreamer-base-1.0 gstreamer-audio-1.0
                  gstreamer-pbutils-1.0)
pkg_check_modules(ATSPI_DEPS REQUIRED IMPORTED_TARGET atspi-2)
pkg_check_modules(WAYLAND_DEPS REQUIRED IMPORTED_TARGET wayland-client xkbcommon)
pkg_check_modules(DBUS REQUIRED IMPORTED_TARGET dbus-1)

# The HTTP client stands alone so that the service links it without the desktop.
file(GLOB platform_curl_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/curl/*.cpp)
set(http_module_entry ${CMAKE_SOURCE_DIR}/src/platform/curl/HttpClientModule.cpp)
set(http_module_loader ${CMAKE_SOURCE_DIR}/src/platform/curl/LoadedHttpClient.cpp)
list(REMOVE_ITEM platform_curl_sources ${http_module_entry} ${http_module_loader})
add_library(velvox_http STATIC ${platform_curl_sources})
target_include_directories(velvox_http PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(velvox_http PUBLIC velvox_base PkgConfig::CURL)
# The application takes the same client from a module, loaded at its first
# request, so that at rest it maps neither libcurl nor its TLS libraries. The
# module's references to the program's own code (the request's header
# lookup) are resolved against the program, which exports its symbols.
add_library(velvox-net SHARED ${platform_curl_sources} ${http_module_entry})
target_include_directories(velvox-net PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(velvox-net PRIVATE PkgConfig::CURL)
# Its own copy of the client comes first, also in a program that links one.
target_link_options(velvox-net PRIVATE LINKER:-Bsymbolic)
set_target_properties(velvox-net PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_library(velvox_http_loader STATIC ${http_module_loader})
target_include_directories(velvox_http_loader PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(velvox_http_loader PUBLIC velvox_base)

# velvox_backend(NAME [EXCLUDE files...] LINKS libs...): velvox_linux_NAME from src/linux/NAME/*.cpp.
function(velvox_backend name)
  cmake_parse_arguments(BACKEND "" "" "EXCLUDE;LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/linux/${name}/*.cpp)
  foreach(file IN LISTS BACKEND_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/${file})
  endforeach()
  add_library(velvox_linux_${name} STATIC ${sources})
  target_include_directories(velvox_linux_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(velvox_linux_${name} PUBLIC velvox_base ${BACKEND_LINKS})
endfunction()

velvox_backend(glib LINKS PkgConfig::GLIB)
# The running copy as other processes reach it (the command front among them).
velvox_backend(dbus LINKS PkgConfig::DBUS)
# The desktop's font comes from the toolkit's settings.
velvox_backend(draw LINKS PkgConfig::DRAW_DEPS PkgConfig::GTK_DEPS)
# GDK's own X connection shares its error trap.
velvox_backend(x11 LINKS velvox_linux_glib PkgConfig::X11_DEPS PkgConfig::GTK_DEPS)
velvox_backend(atspi LINKS velvox_linux_glib PkgConfig::ATSPI_DEPS)
velvox_backend(gst LINKS velvox_linux_glib PkgConfig::GST_DEPS)
velvox_backend(gtk LINKS velvox_linux_glib velvox_linux_dbus velvox_linux_draw velvox_linux_x11
               PkgConfig::GTK_DEPS)
velvox_backend(wayland LINKS velvox_linux_glib velvox_linux_draw PkgConfig::WAYLAND_DEPS)
# The loader only: the window itself is the module below.
velvox_backend(home EXCLUDE src/linux/home/WebKitHomeWindow.cpp src/linux/home/WindowGeometry.cpp
               src/linux/home/HomeWindowModule.cpp LINKS velvox_linux_glib PkgConfig::GTK_DEPS ${CMAKE_DL_LIBS})

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
  target_sources(velvox_linux_wayland PRIVATE ${wayland_protocols_dir}/${protocol}-client.h
                 ${wayland_protocols_dir}/${protocol}.c)
endforeach()
target_include_directories(velvox_linux_wayland PRIVATE ${wayland_protocols_dir})

# The wiring: which backend serves which slot, chosen once per session.
file(GLOB linux_wiring_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/linux/*.cpp)
list(REMOVE_ITEM linux_wiring_sources ${CMAKE_SOURCE_DIR}/src/linux/main.cpp)
add_library(velvox_linux STATIC ${linux_wiring_sources})
target_include_directories(velvox_linux PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(velvox_linux PUBLIC velvox_base velvox_linux_glib velvox_linux_draw velvox_linux_x11
                      velvox_linux_atspi velvox_linux_gst velvox_linux_gtk velvox_linux_wayland velvox_linux_home)

# The Home window and the web engine under it: a module of its own that the
# program loads the first time Home opens, so that a tray application at rest
# maps no web engine. Its references to the program's own code (Files) are
# resolved against the program, which exports its symbols for it; tests and
# benchmarks that drive the window link it directly.
pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
add_library(velvox-home SHARED ${CMAKE_SOURCE_DIR}/src/linux/home/WebKitHomeWindow.cpp
            ${CMAKE_SOURCE_DIR}/src/linux/home/WindowGeometry.cpp
            ${CMAKE_SOURCE_DIR}/src/linux/home/HomeWindowModule.cpp)
target_include_directories(velvox-home PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(velvox-home PUBLIC PkgConfig::WEBKIT PkgConfig::GTK_DEPS nlohmann_json::nlohmann_json)
set_target_properties(velvox-home PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
