#!/usr/bin/env bash
# From a fresh clone to a release binary at build/release/src/focusprobe: installs the Debian
# packages the program itself needs (when missing) and builds it without tests or benchmarks.
# With --deb it also builds the Debian package, build/release/package/focusprobe_VERSION_ARCH.deb.
#
# usage: scripts/build.sh [--no-install] [--deb]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

install=1
deb=0
for arg in "$@"; do
  case "$arg" in
    --no-install) install=0 ;;
    --deb) deb=1 ;;
    *) echo "usage: scripts/build.sh [--no-install] [--deb]" >&2; exit 2 ;;
  esac
done

packages=(cmake make g++ pkg-config)
lists=(scripts/linux-build-packages.txt)
[ "$deb" = 1 ] && lists+=(scripts/linux-package-packages.txt)
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
    sudo_cmd=()
    [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi

cmake --preset release -DFOCUSPROBE_BUILD_TESTS=OFF -DFOCUSPROBE_BUILD_BENCHMARKS=OFF
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)"
echo "built: build/release/src/focusprobe"
if [ "$deb" = 1 ]; then
  rm -rf build/release/package
  cpack -G DEB --config build/release/CPackConfig.cmake
  echo "built: $(ls build/release/package/focusprobe_*.deb)"
fi
