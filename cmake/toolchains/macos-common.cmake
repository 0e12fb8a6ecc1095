# Cross-compiling for macOS on Linux with Debian's clang and ld64.lld against a macOS SDK.
# Included by macos-arm64.cmake, macos-x86_64.cmake and macos-universal.cmake after they set
# FOCUSPROBE_MACOS_ARCH (arm64, x86_64, or universal for both in one binary).
#
# The SDK's path comes from -DMACOS_SDK=... or the MACOS_SDK environment variable.

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 21.0) # Darwin 21 is macOS 12
if(FOCUSPROBE_MACOS_ARCH STREQUAL "universal")
  # As on a Mac: every compile and link is given both -arch flags; the triple's own is overridden.
  set(CMAKE_SYSTEM_PROCESSOR arm64)
  set(CMAKE_OSX_ARCHITECTURES "arm64;x86_64" CACHE STRING "")
  set(focusprobe_triple_arch arm64)
else()
  set(CMAKE_SYSTEM_PROCESSOR ${FOCUSPROBE_MACOS_ARCH})
  set(CMAKE_OSX_ARCHITECTURES ${FOCUSPROBE_MACOS_ARCH} CACHE STRING "")
  set(focusprobe_triple_arch ${FOCUSPROBE_MACOS_ARCH})
endif()
set(CMAKE_OSX_DEPLOYMENT_TARGET 12.0 CACHE STRING "")

if(NOT MACOS_SDK AND DEFINED ENV{MACOS_SDK})
  set(MACOS_SDK $ENV{MACOS_SDK})
endif()
if(NOT MACOS_SDK OR NOT EXISTS "${MACOS_SDK}/SDKSettings.json")
  message(FATAL_ERROR "Set MACOS_SDK (-DMACOS_SDK=... or the environment) to a macOS SDK, e.g. .../MacOSX12.sdk")
endif()
# try_compile projects read this toolchain file again and need the SDK too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MACOS_SDK FOCUSPROBE_MACOS_ARCH)
set(CMAKE_OSX_SYSROOT ${MACOS_SDK} CACHE PATH "")

set(focusprobe_triple ${focusprobe_triple_arch}-apple-macos12)

find_program(FOCUSPROBE_CLANG NAMES clang-14 clang REQUIRED)
find_program(FOCUSPROBE_CLANGXX NAMES clang++-14 clang++ REQUIRED)
set(CMAKE_C_COMPILER ${FOCUSPROBE_CLANG})
set(CMAKE_CXX_COMPILER ${FOCUSPROBE_CLANGXX})
set(CMAKE_OBJCXX_COMPILER ${FOCUSPROBE_CLANGXX})
set(CMAKE_C_COMPILER_TARGET ${focusprobe_triple})
set(CMAKE_CXX_COMPILER_TARGET ${focusprobe_triple})
set(CMAKE_OBJCXX_COMPILER_TARGET ${focusprobe_triple})

# libc++ headers come from the SDK (usr/include/c++/v1), its library stub from usr/lib.
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_OBJCXX_FLAGS_INIT "-stdlib=libc++")
# clang picks ld64.lld for Darwin targets under -fuse-ld=lld.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld")
endforeach()

# Mach-O archives need LLVM's archiver; GNU ar writes an index ld64.lld cannot read.
find_program(CMAKE_AR NAMES llvm-ar-14 llvm-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-14 llvm-ranlib REQUIRED)
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool-14 llvm-install-name-tool
             HINTS /usr/lib/llvm-14/bin)

if(FOCUSPROBE_MACOS_ARCH STREQUAL "universal")
  # clang joins the architectures' objects and executables with a program named lipo, which
  # Debian has as LLVM's llvm-lipo: a link to it named lipo, found through -B.
  find_program(FOCUSPROBE_LLVM_LIPO NAMES llvm-lipo-14 llvm-lipo HINTS /usr/lib/llvm-14/bin REQUIRED)
  set(focusprobe_lipo_dir ${CMAKE_BINARY_DIR}/macos-lipo)
  file(MAKE_DIRECTORY ${focusprobe_lipo_dir})
  file(CREATE_LINK ${FOCUSPROBE_LLVM_LIPO} ${focusprobe_lipo_dir}/lipo SYMBOLIC)
  foreach(lang C CXX OBJC OBJCXX)
    string(APPEND CMAKE_${lang}_FLAGS_INIT " -B${focusprobe_lipo_dir}")
    set(CMAKE_${lang}_ARCHIVE_CREATE
        "${CMAKE_CURRENT_LIST_DIR}/macos-universal-archive.sh ${FOCUSPROBE_LLVM_LIPO} ${CMAKE_AR} <TARGET> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_FINISH "")
  endforeach()
endif()

set(CMAKE_FIND_ROOT_PATH ${MACOS_SDK})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
