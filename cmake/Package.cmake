# `cpack -G DEB` in a build tree: a Debian package of what cmake/Install.cmake installs, under
# /usr, with its library dependencies computed by dpkg-shlibdeps (package dpkg-dev).
set(BRINDELL_PACKAGE_MAINTAINER "Brindell maintainers <maintainers@brindell.invalid>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME brindell)
set(CPACK_PACKAGE_VENDOR Quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${BRINDELL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "per-application volume mixer for the desktop")
set(CPACK_PACKAGE_DESCRIPTION
    "Brindell lives in the system tray and gives every app that plays sound its own volume,\n"
    "mute and output device, apart from the system volume, and remembers them. It works with\n"
    "PipeWire and WirePlumber, and can be scripted with brindell ctl.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The libraries come from dpkg-shlibdeps; the audio server and its session manager are what
# Brindell drives, and it relies on WirePlumber moving streams.
# Qt's SVG icon engine and image plugin are loaded at run time, so no linked library names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pipewire, wireplumber, libqt6svg6")
# Apps that play through PulseAudio appear only with pipewire-pulse; Wayland needs Qt's plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse, qt6-wayland")

include(CPack)
