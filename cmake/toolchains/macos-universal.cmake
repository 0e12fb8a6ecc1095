# Cross-compiles one universal binary (arm64 and x86_64) for macOS 12; see macos-common.cmake.
set(FOCUSPROBE_MACOS_ARCH universal)
include(${CMAKE_CURRENT_LIST_DIR}/macos-common.cmake)
