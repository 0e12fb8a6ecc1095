#!/usr/bin/env bash
# From a fresh clone to a release binary at build/release/src/focusprobe: installs the Debian
# packages the program itself needs (when missing) and builds it without tests or benchmarks.
#
# usage: scripts/build.sh [--no-install]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

packages=(cmake make g++ pkg-config)
if [ -f scripts/linux-build-packages.txt ]; then
  while read -r pkg _; do
    case "$pkg" in ''|'#'*) ;; *) packages+=("$pkg") ;; esac
  done < scripts/linux-build-packages.txt
fi

if [ "${1:-}" != "--no-install" ] && command -v dpkg-query >/dev/null 2>&1; then
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
