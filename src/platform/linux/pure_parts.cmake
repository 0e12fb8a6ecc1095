# The Linux backend's parts that need no desktop library: the key vocabulary and layout data,
# the AT-SPI roles and limits, what is read off the X wire, the check of a peer's bus address,
# the speech server's protocol, the command's deadline and its bounded socket connect. Their
# tests run on every build.
set(focusprobe_linux_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(focusprobe_linux_pure STATIC
  ${focusprobe_linux_dir}/common/deadline.cpp
  ${focusprobe_linux_dir}/common/socket.cpp
  ${focusprobe_linux_dir}/keys/mac_keys.cpp
  ${focusprobe_linux_dir}/keys/dead_keys.cpp
  ${focusprobe_linux_dir}/keys/layout_data.cpp
  ${focusprobe_linux_dir}/keys/layout_keyboard.cpp
  ${focusprobe_linux_dir}/keys/key_events.cpp
  ${focusprobe_linux_dir}/dbus/peer_address.cpp
  ${focusprobe_linux_dir}/ssip/client.cpp
  ${focusprobe_linux_dir}/atspi/roles.cpp
  ${focusprobe_linux_dir}/atspi/limits.cpp
  ${focusprobe_linux_dir}/atspi/focus.cpp
  ${focusprobe_linux_dir}/x11/wire.cpp
  ${focusprobe_linux_dir}/x11/key_positions.cpp
  ${focusprobe_linux_dir}/x11/raw_input.cpp)
target_link_libraries(focusprobe_linux_pure PUBLIC focusprobe_core)
