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
# Only the header: the speech client is loaded at run time, for announcements alone.
pkg_check_modules(FOCUSPROBE_SPEECHD REQUIRED speech-dispatcher)

# The translation tables and the deadline arithmetic need no library, so their tests run without
# a desktop.
add_library(focusprobe_linux_tables STATIC ${CMAKE_CURRENT_LIST_DIR}/tables.cpp ${CMAKE_CURRENT_LIST_DIR}/layout_data.cpp
                                           ${CMAKE_CURRENT_LIST_DIR}/deadline.cpp ${CMAKE_CURRENT_LIST_DIR}/x11_wire.cpp ${CMAKE_CURRENT_LIST_DIR}/atspi_bounds.cpp
                                           ${CMAKE_CURRENT_LIST_DIR}/x11_key_positions.cpp ${CMAKE_CURRENT_LIST_DIR}/x11_raw_input.cpp)
target_link_libraries(focusprobe_linux_tables PUBLIC focusprobe_core)

# The Wayland client pieces that need no bus: the compositor connection, keymaps and the
# application id. The unit tests and the end-to-end session's keyboard use them too.
pkg_check_modules(FOCUSPROBE_WAYLAND REQUIRED IMPORTED_TARGET wayland-client xkbcommon)
add_library(focusprobe_wayland STATIC ${CMAKE_CURRENT_LIST_DIR}/wayland_connection.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/wayland_keymap.cpp ${CMAKE_CURRENT_LIST_DIR}/wayland_app_id.cpp)
target_link_libraries(focusprobe_wayland PUBLIC focusprobe_core focusprobe_linux_tables PkgConfig::FOCUSPROBE_WAYLAND)

add_library(focusprobe_backend STATIC
  ${CMAKE_CURRENT_LIST_DIR}/atspi_bus.cpp
  ${CMAKE_CURRENT_LIST_DIR}/atspi_protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/atspi_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/atspi_tree_calls.cpp
  ${CMAKE_CURRENT_LIST_DIR}/atspi_applications.cpp
  ${CMAKE_CURRENT_LIST_DIR}/atspi_accessibility.cpp
  ${CMAKE_CURRENT_LIST_DIR}/desktop_buses.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11_connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11_workspace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11_keyboard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11_input_monitoring.cpp
  ${CMAKE_CURRENT_LIST_DIR}/speechd_speech.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11_backend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland_remote_desktop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland_frames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland_workspace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland_keyboard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland_backend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/open_backend.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/headless/headless_backend.cpp)
target_include_directories(focusprobe_backend SYSTEM PRIVATE ${FOCUSPROBE_SPEECHD_INCLUDE_DIRS})
target_include_directories(focusprobe_backend SYSTEM PRIVATE ${FOCUSPROBE_XCB_INCLUDE_DIRS})
target_link_libraries(focusprobe_backend PUBLIC focusprobe_core PRIVATE focusprobe_linux_tables focusprobe_wayland ${focusprobe_xcb_link}
                                                                        PkgConfig::FOCUSPROBE_DESKTOP ${CMAKE_DL_LIBS})

# The end-to-end session's permanent virtual keyboard, next to the program it tests.
if(FOCUSPROBE_BUILD_TESTS)
  add_executable(focusprobe-wayland-keyboard ${PROJECT_SOURCE_DIR}/tests/e2e/wayland/virtual_keyboard.cpp)
  target_link_libraries(focusprobe-wayland-keyboard PRIVATE focusprobe_wayland)
  set_target_properties(focusprobe-wayland-keyboard PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/src)
endif()
