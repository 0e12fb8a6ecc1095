# Cross-compiles for arm64-apple-macos12; see macos-common.cmake.
set(FOCUSPROBE_MACOS_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/macos-common.cmake)
