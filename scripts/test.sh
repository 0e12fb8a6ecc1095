#!/usr/bin/env bash
# From a fresh clone to every test passing: installs the Debian packages the build and the tests
# need (when missing), configures with a CMake preset, builds, runs the unit and process tests,
# then the desktop end-to-end tests and their fault checks where their scripts exist.
#
# usage: scripts/test.sh [--preset debug|release|asan] [--no-install] [--no-e2e]
set -euo pipefail

preset=debug
install=1
e2e=1
while [ $# -gt 0 ]; do
  case "$1" in
    --preset) preset=${2:?--preset needs a name}; shift 2 ;;
    --no-install) install=0; shift ;;
    --no-e2e) e2e=0; shift ;;
    *) echo "usage: scripts/test.sh [--preset debug|release|asan] [--no-install] [--no-e2e]" >&2; exit 2 ;;
  esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# The build's own needs; the Linux desktop backend's, the Debian package's and the end-to-end
# checks' are listed beside.
packages=(cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev python3)
lists=(scripts/linux-build-packages.txt scripts/linux-package-packages.txt)
[ "$e2e" = 1 ] && lists+=(scripts/linux-desktop-packages.txt)
for list in "${lists[@]}"; do
  [ -f "$list" ] || continue
  while read -r pkg _; do
    case "$pkg" in ''|'#'*) ;; *) packages+=("$pkg") ;; esac
  done < "$list"
done

if [ "$install" = 1 ] && command -v dpkg-query >/dev/null 2>&1; then
  missing=()
  for pkg in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "test.sh: installing ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset "$preset" -DFOCUSPROBE_BUILD_TESTS=ON
cmake --build --preset "$preset" -j "$jobs"
ctest --preset "$preset" -j "$jobs"

if [ "$e2e" = 1 ] && [ -x scripts/e2e-linux.sh ] && [ "$(uname -s)" = Linux ]; then
  # The packages above make the desktop backend build; a binary without it would fail every
  # desktop check for the wrong reason.
  if ! grep -q '^FOCUSPROBE_LINUX_DESKTOP:BOOL=ON' "build/$preset/CMakeCache.txt"; then
    echo "test.sh: build/$preset was configured without the desktop backend (FOCUSPROBE_LINUX_DESKTOP=OFF)" >&2
    exit 1
  fi
  # The fault checks run even when the ordinary ones fail: each says something of its own.
  e2e_status=0
  scripts/e2e-linux.sh "build/$preset/src/focusprobe" || e2e_status=1
  scripts/e2e-linux-faults.sh "build/$preset/src/focusprobe" || e2e_status=1
  scripts/e2e-wayland.sh "build/$preset/src/focusprobe" || e2e_status=1
  scripts/e2e-kwin.sh "build/$preset/src/focusprobe" || e2e_status=1
  scripts/e2e-apps.sh "build/$preset/src/focusprobe" || e2e_status=1
  exit "$e2e_status"
fi
