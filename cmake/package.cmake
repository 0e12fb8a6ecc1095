# The Debian package (`cpack` in a build tree, or scripts/build.sh --deb): what `cmake --install`
# installs, under /usr, stripped. Its run-time dependencies are computed by dpkg-shlibdeps from
# the executable, never written here.
set(FOCUSPROBE_PACKAGE_MAINTAINER "Seed 2a77a19a maintainers <maintainers@users.noreply.c-seed-2a77a19a.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(FOCUSPROBE_HOMEPAGE "https://focusprobe.github.io/" CACHE STRING "Homepage field of the Debian package")

set(CPACK_PACKAGE_NAME focusprobe)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${FOCUSPROBE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keyboard focus helper for text-inserting applications")
set(CPACK_PACKAGE_HOMEPAGE_URL ${FOCUSPROBE_HOMEPAGE})
# Staging and output in the build tree, from whichever folder cpack runs.
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
else()
  # On macOS stripping would break the program's signature.
  set(CPACK_GENERATOR TGZ)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${FOCUSPROBE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${FOCUSPROBE_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# `announce` speaks to the speech server over its socket, and everything else needs the
# accessibility bus; neither is a library dpkg-shlibdeps could see.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "at-spi2-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "speech-dispatcher")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "An application that types text into other applications on the user's behalf
(dictation, text snippets) starts focusprobe as a short-lived child process to
ask about, or act on, the keyboard focus of the frontmost application, and
reads the one line it prints: whether the focused element accepts typed text
(as true/false or a JSON verdict), the frontmost application, the key that
types v in the current layout, or the result of focusing the message
composer or pressing the paste shortcut. It can also have the screen reader
speak a text and report lone taps of the right Alt key.
.
It works on X11 and Wayland desktops through AT-SPI, and answers truthfully,
without a desktop session, that there is nothing to work with.")

# What Debian asks of a package beyond the install rules (the manual page and the changelog
# compressed, no .comment section in the program), done in the staging tree only, so
# `cmake --install` keeps the page as it is.
set(CPACK_FOCUSPROBE_CHANGELOG ${PROJECT_BINARY_DIR}/packaging/changelog)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${CPACK_FOCUSPROBE_CHANGELOG} @ONLY)
set(CPACK_FOCUSPROBE_STRIP ${CMAKE_STRIP})
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/debian/stage.cmake)
endif()

include(CPack)
