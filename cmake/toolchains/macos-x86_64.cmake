# Cross-compiles for x86_64-apple-macos12; see macos-common.cmake.
set(FOCUSPROBE_MACOS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/macos-common.cmake)
