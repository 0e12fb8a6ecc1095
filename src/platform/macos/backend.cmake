# The macOS backend: ApplicationServices, CoreGraphics, CoreFoundation and Carbon from C++,
# AppKit, Foundation and dispatch from Objective-C++ with ARC.
enable_language(OBJCXX)

set(FOCUSPROBE_BUNDLE_IDENTIFIER "io.github.focusprobe"
    CACHE STRING "CFBundleIdentifier embedded in the executable; privacy permissions are granted to it")
option(FOCUSPROBE_CODESIGN "Ad-hoc sign focusprobe with the hardened runtime and its entitlements after each build" ON)

set(focusprobe_macos_dir ${CMAKE_CURRENT_LIST_DIR})

add_library(focusprobe_backend STATIC
  ${focusprobe_macos_dir}/value_conversion.cpp
  ${focusprobe_macos_dir}/cf_ref.cpp
  ${focusprobe_macos_dir}/mac_accessibility.cpp
  ${focusprobe_macos_dir}/mac_keyboard.cpp
  ${focusprobe_macos_dir}/mac_events.cpp
  ${focusprobe_macos_dir}/mac_workspace.mm
  ${focusprobe_macos_dir}/mac_speech.mm
  ${focusprobe_macos_dir}/mac_input_monitoring.mm
  ${focusprobe_macos_dir}/mac_event_loop.mm
  ${focusprobe_macos_dir}/open_backend.cpp)
target_compile_options(focusprobe_backend PRIVATE $<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)
target_link_libraries(focusprobe_backend PUBLIC
  focusprobe_core
  "$<LINK_LIBRARY:FRAMEWORK,AppKit>"
  "$<LINK_LIBRARY:FRAMEWORK,ApplicationServices>"
  "$<LINK_LIBRARY:FRAMEWORK,Carbon>"
  "$<LINK_LIBRARY:FRAMEWORK,CoreFoundation>"
  "$<LINK_LIBRARY:FRAMEWORK,CoreGraphics>"
  "$<LINK_LIBRARY:FRAMEWORK,Foundation>")

# A command-line tool has no bundle: its Info.plist (bundle identifier for the privacy database,
# the Apple Events usage text for the Automation prompt) lives in a section of the executable.
set(focusprobe_info_plist ${CMAKE_CURRENT_BINARY_DIR}/focusprobe-Info.plist)
configure_file(${focusprobe_macos_dir}/Info.plist.in ${focusprobe_info_plist} @ONLY)
target_link_options(focusprobe_backend INTERFACE "LINKER:-sectcreate,__TEXT,__info_plist,${focusprobe_info_plist}")
set_property(TARGET focusprobe_backend APPEND PROPERTY INTERFACE_LINK_DEPENDS ${focusprobe_info_plist})

set(FOCUSPROBE_ENTITLEMENTS ${focusprobe_macos_dir}/focusprobe.entitlements)

# Under the hardened runtime, Apple Events to VoiceOver need the automation entitlement.
find_program(FOCUSPROBE_CODESIGN_TOOL codesign)
if(FOCUSPROBE_CODESIGN AND FOCUSPROBE_CODESIGN_TOOL)
  set(focusprobe_signed_stamp ${CMAKE_CURRENT_BINARY_DIR}/focusprobe.signed)
  add_custom_command(
    OUTPUT ${focusprobe_signed_stamp}
    COMMAND ${FOCUSPROBE_CODESIGN_TOOL} --force --options runtime --entitlements ${FOCUSPROBE_ENTITLEMENTS} -s -
            $<TARGET_FILE:focusprobe>
    COMMAND ${CMAKE_COMMAND} -E touch ${focusprobe_signed_stamp}
    DEPENDS focusprobe ${FOCUSPROBE_ENTITLEMENTS}
    COMMENT "Signing focusprobe (ad hoc, hardened runtime)"
    VERBATIM)
  add_custom_target(focusprobe_codesign ALL DEPENDS ${focusprobe_signed_stamp})
elseif(FOCUSPROBE_CODESIGN)
  message(STATUS "codesign not found: focusprobe is left unsigned")
endif()
