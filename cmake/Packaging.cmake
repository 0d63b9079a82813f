# The manual pages, installed by every build; and, in a build configured with
# VELVOX_PACKAGE, the two Debian packages that `cpack` makes from it:
#   velvox          the desktop application (install component "app")
#   velvox-service  the server as a system service (install component "service")
# Each package holds only its own component's files, so dpkg-shlibdeps gives
# the desktop package none of the server's libraries.

set(packaging_dir ${CMAKE_SOURCE_DIR}/packaging)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)

# velvox_gzip(OUTPUT_VAR file...): FILE.gz in the build folder for each file,
# compressed as Debian wants it (best, and without name or time stamp, so that
# two builds of the same sources give the same bytes).
function(velvox_gzip out_var)
  set(outputs)
  foreach(file IN LISTS ARGN)
    get_filename_component(name ${file} NAME)
    add_custom_command(
      OUTPUT ${packaging_out}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${file} ${packaging_out}/${name}
      COMMAND gzip -9nf ${packaging_out}/${name}
      DEPENDS ${file} VERBATIM)
    list(APPEND outputs ${packaging_out}/${name}.gz)
  endforeach()
  set(${out_var} ${outputs} PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY ${packaging_out})
velvox_gzip(manual_pages ${packaging_dir}/velvox.1 ${packaging_dir}/velvox-service.8)
set(package_docs ${manual_pages})
if(VELVOX_PACKAGE)
  velvox_gzip(changelog ${packaging_dir}/changelog)
  list(APPEND package_docs ${changelog})
endif()
add_custom_target(package-docs ALL DEPENDS ${package_docs})

install(FILES ${packaging_out}/velvox.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT app)
install(FILES ${packaging_out}/velvox-service.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT service)

if(NOT VELVOX_PACKAGE)
  return()
endif()

# ---- what only the packages hold ----

install(FILES ${packaging_dir}/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velvox
        COMPONENT app)
install(FILES ${packaging_dir}/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velvox-service
        COMPONENT service)

# The service's unit, in the folder Debian 12's own packages use (dpkg there
# does not yet know that /lib is /usr/lib), and its settings: a commented
# template that dpkg keeps as a conffile, never overwriting the operator's.
# The template holds no key; postinst makes it the service user's alone
# before anyone can fill one in, and dpkg keeps it so on every upgrade.
# Those two folders are absolute: an install into another prefix stops here
# rather than write to this machine's /etc and /lib.
install(CODE [[
  if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "a VELVOX_PACKAGE build installs under /usr only, not ${CMAKE_INSTALL_PREFIX}")
  endif()
]] COMPONENT service)
install(FILES ${packaging_dir}/velvox-service.service DESTINATION /lib/systemd/system COMPONENT service)
install(FILES ${packaging_dir}/velvox-service.conf DESTINATION /etc/velvox COMPONENT service)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL app service)
# The absolute folders above (/etc, /lib) go into the package, not onto this machine.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGE_NAME velvox)
set(CPACK_PACKAGE_VENDOR Velvox)
set(CPACK_PACKAGE_CONTACT "Velvox developers <dev@velvox.app>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://velvox.app)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debug symbols in velvox-dbgsym and velvox-service-dbgsym (.ddeb), split off
# the binaries, which the packages hold stripped.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${packaging_dir}/dbgsym.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_APP_PACKAGE_NAME velvox)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_APP_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-good, gstreamer1.0-plugins-base, gstreamer1.0-plugins-bad, gstreamer1.0-libav, gstreamer1.0-pulseaudio, at-spi2-core, adwaita-icon-theme")
set(CPACK_DEBIAN_APP_DESCRIPTION [[Push-to-talk dictation for the Linux desktop
Hold a hotkey, speak, and let go: Velvox transcribes the speech, corrects it
with your rules, has a language model polish it into the text you would have
written, and types it into the field you are working in (or pastes it through
the clipboard and puts your clipboard back).

It works on X11 and on Wayland desktops (GNOME, KDE Plasma, sway), lives in
the tray, and keeps its settings, history and statistics in ~/.velvox. Speech
goes to Groq, to the Velvox service, or to an OpenAI-compatible server of
your own.]])
# CPack gives any package with a shared object below /usr/lib a postinst and
# a postrm that run ldconfig, unless the package brings scripts of its own.
# The two modules in /usr/lib/velvox are opened by their path and are nobody's
# library, so ldconfig has nothing to do for them: naming scripts that do not
# exist keeps the package free of maintainer scripts (CPack adds only the
# control files it finds).
set(CPACK_DEBIAN_APP_PACKAGE_CONTROL_EXTRA ${packaging_out}/none/postinst ${packaging_out}/none/postrm)

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME velvox-service)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION net)
# adduser makes the service's system user in postinst.
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVICE_PACKAGE_RECOMMENDS "ca-certificates")
set(CPACK_DEBIAN_SERVICE_DESCRIPTION [[Account server for the Velvox dictation application
The server behind Velvox's account route: e-mail sign-in, device tokens, a
free weekly word allowance, a trial for installs without a token, and
transcription and polishing on the users' behalf with the server's own
provider keys. It keeps its data in SQLite or PostgreSQL.

The package installs the systemd unit velvox-service.service, which runs the
server as its own system user in a locked-down sandbox, and a settings
template in /etc/velvox/velvox-service.conf. The package leaves the service
off: enable it once the settings are filled in.]])
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    ${packaging_dir}/service/postinst ${packaging_dir}/service/prerm ${packaging_dir}/service/postrm
    ${packaging_dir}/service/conffiles)

include(CPack)
