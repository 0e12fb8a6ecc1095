# The X11 and Wayland + AT-SPI backends, with the headless one beside it for a machine without a display.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FOCUSPROBE_DESKTOP REQUIRED IMPORTED_TARGET libsystemd xkbcommon)
pkg_check_modules(FOCUSPROBE_XCB REQUIRED IMPORTED_TARGET xcb xcb-xkb xcb-xinput xcb-xtest xau)
# Every command is a process start, and loading the X client libraries as shared objects costs
# each one about half a millisecond (bench/linux/bench-linux.sh). Their archives, which the -dev
# packages install, are linked in instead when present; the sanitizer builds keep them shared.
option(FOCUSPROBE_STATIC_XCB "Link the XCB client libraries into the executable" ON)
set(focusprobe_xcb_link PkgConfig::FOCUSPROBE_XCB)
if(FOCUSPROBE_STATIC_XCB AND NOT FOCUSPROBE_SANITIZE)
  set(focusprobe_xcb_archives)
  foreach(name xcb-xkb xcb-xinput xcb-xtest xcb Xau Xdmcp)
    find_library(FOCUSPROBE_ARCHIVE_${name} NAMES lib${name}.a)
    if(FOCUSPROBE_ARCHIVE_${name})
      list(APPEND focusprobe_xcb_archives ${FOCUSPROBE_ARCHIVE_${name}})
    else()
      set(focusprobe_xcb_archives)
      break()
    endif()
  endforeach()
  if(focusprobe_xcb_archives)
    set(focusprobe_xcb_link ${focusprobe_xcb_archives})
  endif()
endif()

# The Wayland client pieces that need no bus: the compositor connection, keymaps and the
# application id. The unit tests and the end-to-end session's keyboard use them too.
pkg_check_modules(FOCUSPROBE_WAYLAND REQUIRED IMPORTED_TARGET wayland-client xkbcommon)
add_library(focusprobe_wayland STATIC
  ${focusprobe_linux_dir}/wayland/connection.cpp
  ${focusprobe_linux_dir}/wayland/protocols.cpp
  ${focusprobe_linux_dir}/wayland/virtual_keyboard.cpp
  ${focusprobe_linux_dir}/wayland/toplevels.cpp
  ${focusprobe_linux_dir}/wayland/kde_protocols.cpp
  ${focusprobe_linux_dir}/wayland/kde_fake_input.cpp
  ${focusprobe_linux_dir}/wayland/plasma_windows.cpp
  ${focusprobe_linux_dir}/wayland/keymap.cpp
  ${focusprobe_linux_dir}/wayland/app_id.cpp)
target_link_libraries(focusprobe_wayland PUBLIC focusprobe_core focusprobe_linux_pure PkgConfig::FOCUSPROBE_WAYLAND)

add_library(focusprobe_backend STATIC
  # The clients of each protocol
  ${focusprobe_linux_dir}/x11/connection.cpp
  ${focusprobe_linux_dir}/x11/connection_setup.cpp
  ${focusprobe_linux_dir}/x11/authority.cpp
  ${focusprobe_linux_dir}/x11/keymap_reads.cpp
  ${focusprobe_linux_dir}/dbus/connection.cpp
  ${focusprobe_linux_dir}/dbus/desktop_buses.cpp
  ${focusprobe_linux_dir}/dbus/mutter_remote_desktop.cpp
  ${focusprobe_linux_dir}/dbus/remote_desktop_portal.cpp
  ${focusprobe_linux_dir}/atspi/protocol.cpp
  ${focusprobe_linux_dir}/atspi/tree.cpp
  ${focusprobe_linux_dir}/atspi/tree_calls.cpp
  ${focusprobe_linux_dir}/atspi/applications.cpp
  ${focusprobe_linux_dir}/atspi/frames.cpp
  ${focusprobe_linux_dir}/atspi/accessibility.cpp
  ${focusprobe_linux_dir}/atspi/focus_walk.cpp
  ${focusprobe_linux_dir}/atspi/text_length.cpp
  # One platform interface on one desktop
  ${focusprobe_linux_dir}/x11_workspace.cpp
  ${focusprobe_linux_dir}/x11_keyboard.cpp
  ${focusprobe_linux_dir}/x11_events.cpp
  ${focusprobe_linux_dir}/x11_input_monitoring.cpp
  ${focusprobe_linux_dir}/wayland_workspace.cpp
  ${focusprobe_linux_dir}/wayland_keyboard.cpp
  ${focusprobe_linux_dir}/wayland_events.cpp
  ${focusprobe_linux_dir}/speechd_speech.cpp
  # The backends, and the choice between them
  ${focusprobe_linux_dir}/x11_backend.cpp
  ${focusprobe_linux_dir}/wayland_backend.cpp
  ${focusprobe_linux_dir}/open_backend.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/headless/headless_backend.cpp)
target_include_directories(focusprobe_backend SYSTEM PRIVATE ${FOCUSPROBE_XCB_INCLUDE_DIRS})
target_link_libraries(focusprobe_backend PUBLIC focusprobe_core PRIVATE focusprobe_linux_pure focusprobe_wayland ${focusprobe_xcb_link}
                                                                        PkgConfig::FOCUSPROBE_DESKTOP)

# The end-to-end session's permanent virtual keyboard, next to the program it tests.
if(FOCUSPROBE_BUILD_TESTS)
  add_executable(focusprobe-wayland-keyboard ${PROJECT_SOURCE_DIR}/tests/e2e/wayland/virtual_keyboard.cpp)
  target_link_libraries(focusprobe-wayland-keyboard PRIVATE focusprobe_wayland)
  set_target_properties(focusprobe-wayland-keyboard PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/src)
endif()
