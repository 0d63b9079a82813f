# The platform side: every implementation of the seam that talks to the system.
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gio-2.0)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(DESKTOP REQUIRED IMPORTED_TARGET
  x11 xi xtst xfixes xkbcommon xkbcommon-x11 xcb xcb-xkb
  gstreamer-1.0 gstreamer-base-1.0 gstreamer-audio-1.0 gstreamer-pbutils-1.0
  gtk+-3.0 wayland-client webkit2gtk-4.1 ayatana-appindicator3-0.1 atspi-2 cairo pangocairo)

file(GLOB platform_linux_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/linux/*.cpp
     ${CMAKE_SOURCE_DIR}/src/platform/linux/x11/*.cpp
     ${CMAKE_SOURCE_DIR}/src/platform/linux/wayland/*.cpp)
list(REMOVE_ITEM platform_linux_sources ${CMAKE_SOURCE_DIR}/src/platform/linux/main.cpp)
file(GLOB platform_curl_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/curl/*.cpp)
add_library(velvox_platform STATIC ${platform_linux_sources} ${platform_curl_sources})
target_include_directories(velvox_platform PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(velvox_platform PUBLIC velvox_capture PkgConfig::GLIB PkgConfig::CURL
                      PkgConfig::DESKTOP)
