#!/usr/bin/env bash
# The Debian package as a user gets it: built with CPack from the release build (build/release is
# reused when it exists), checked by lintian (no errors), installed with apt-get, which pulls its
# dependencies, then the installed /usr/bin/focusprobe is run without a desktop and on a private
# X session against the GTK test window, and `man focusprobe` must find its page. Last, the
# package (and any dependency apt pulled in for it) is purged and every file it installed must be
# gone. Any failed step fails the script; the package is purged on every way out.
#
# usage: scripts/check-package.sh [--no-install]     (as root, or with sudo for apt and dpkg)
#   --no-install  do not install the Debian packages the build and the checks need
set -euo pipefail

install=1
case "${1:-}" in
  '') ;;
  --no-install) install=0 ;;
  *) echo "usage: scripts/check-package.sh [--no-install]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
sudo_cmd=()
[ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
apt_get() { DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 "$@"; }

step() { echo "check-package: $*"; }
fail() { echo "check-package: FAIL: $*" >&2; exit 1; }

# --- what the build and the checks need ----------------------------------------------------------
if [ "$install" = 1 ]; then
  packages=(cmake make g++)
  for list in scripts/linux-build-packages.txt scripts/linux-package-packages.txt scripts/linux-desktop-packages.txt; do
    while read -r pkg _; do
      case "$pkg" in ''|'#'*) ;; *) packages+=("$pkg") ;; esac
    done < "$list"
  done
  missing=()
  for pkg in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    step "installing ${missing[*]}"
    apt_get update -qq
    apt_get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi

# --- build and lint ------------------------------------------------------------------------------
if [ -f build/release/CMakeCache.txt ]; then
  step "reusing build/release"
  cmake --preset release >/dev/null
else
  cmake --preset release -DFOCUSPROBE_BUILD_TESTS=OFF -DFOCUSPROBE_BUILD_BENCHMARKS=OFF >/dev/null
fi
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)"
rm -rf build/release/package
cpack -G DEB --config build/release/CPackConfig.cmake >/dev/null
debs=(build/release/package/focusprobe_*.deb)
if [ ${#debs[@]} != 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "expected one package in build/release/package, found: ${debs[*]}"
fi
deb=$root/${debs[0]}
step "built ${debs[0]}"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends Section Maintainer Homepage

step "lintian"
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

# --- install -------------------------------------------------------------------------------------
if dpkg-query -W -f='${Status}' focusprobe 2>/dev/null | grep -q 'installed'; then
  fail "focusprobe is already installed here; this check would remove it"
fi
# What apt will add besides the package: removed again at the end, so the machine is left as it was.
mapfile -t pulled < <(apt_get install -s --no-install-recommends "$deb" | awk '$1 == "Inst" && $2 != "focusprobe" {print $2}')
installed=0
purge() {
  [ "$installed" = 1 ] || return 0
  installed=0
  "${sudo_cmd[@]}" dpkg --purge focusprobe
  if [ ${#pulled[@]} -gt 0 ]; then
    apt_get purge -y -qq "${pulled[@]}"
  fi
}
trap purge EXIT
step "apt-get install $deb${pulled[*]:+ (pulls ${pulled[*]})}"
installed=1
apt_get install -y -qq --no-install-recommends "$deb"
mapfile -t files < <(dpkg-query -L focusprobe | while read -r path; do [ -f "$path" ] && echo "$path"; done)

# --- the installed program -----------------------------------------------------------------------
failed=0
# Runs a command, then compares its exact standard output bytes, its exit status and its
# (empty) standard error.
expect() { # name expected-stdout expected-status command...
  local name=$1 expected=$2 status=$3 actual_status=0
  shift 3
  "$@" >"$scratch/out" 2>"$scratch/err" </dev/null || actual_status=$?
  if printf '%s' "$expected" | cmp -s - "$scratch/out" && [ "$actual_status" = "$status" ] && [ ! -s "$scratch/err" ]; then
    echo "ok   $name"
  else
    failed=1
    echo "FAIL $name"
    # cat -A marks each line's end with $, so a missing or extra line feed shows.
    echo "     expected: $(printf '%s' "$expected" | cat -A) status $status"
    echo "     actual:   $(head -c 600 "$scratch/out" | cat -A) status $actual_status"
    if [ -s "$scratch/err" ]; then echo "     stderr:   $(head -c 300 "$scratch/err")"; fi
  fi
}
scratch=$(mktemp -d /tmp/focusprobe-package.XXXXXX)
trap 'purge; rm -rf "$scratch"' EXIT

[ "$(command -v focusprobe)" = /usr/bin/focusprobe ] || fail "focusprobe is not /usr/bin/focusprobe on the PATH"
for path in /usr/bin/focusprobe /usr/share/man/man1/focusprobe.1.gz /usr/share/doc/focusprobe/copyright \
  /usr/share/doc/focusprobe/changelog.gz /usr/share/doc/focusprobe/README.md \
  /usr/share/applications/focusprobe.desktop; do
  printf '%s\n' "${files[@]}" | grep -qxF "$path" || fail "the package did not install $path"
done
# KWin grants its fake input and window list to the program this entry names.
grep -qxF "Exec=/usr/bin/focusprobe" /usr/share/applications/focusprobe.desktop 2>/dev/null \
  || fail "the package's desktop entry does not name /usr/bin/focusprobe"

headless=(env -i PATH=/usr/bin:/bin focusprobe)
no_frontmost='{"bundleId":"unknown","appName":"unknown","editable":false,"stage":"no_frontmost","valueLen":null}'
expect "headless info" "$no_frontmost"$'\n' 0 "${headless[@]}" info
expect "headless frontmost" "" 0 "${headless[@]}" frontmost
expect "headless paste-keycode" $'9\n' 0 "${headless[@]}" paste-keycode

# The X session of the end-to-end checks, in a subshell so its own exit trap stops what it started.
(
  set +e
  unset WAYLAND_DISPLAY
  # shellcheck source=tests/e2e/session.sh
  source "$root/tests/e2e/session.sh"
  start_session || exit 1
  mkfifo "$WORK/gtk.in"
  /usr/bin/python3 "$root/tests/e2e/gtk_test_app.py" --focus entry <"$WORK/gtk.in" >"$WORK/gtk.log" 2>&1 &
  PIDS+=($!)
  exec 7>"$WORK/gtk.in"
  window=
  for _ in $(seq 150); do
    window=$(xdotool search --onlyvisible --name "focusprobe test window" 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || { echo "FAIL the GTK test window did not appear"; cat "$WORK/gtk.log"; exit 1; }
  xdotool windowactivate --sync "$window" >/dev/null 2>&1
  wait_for 10 sh -c "[ \"\$(xdotool getactivewindow)\" = $window ]"
  wait_for 20 sh -c "focusprobe info | grep -q '\"stage\":\"role\"'"
  failed=0
  expect "info on the GTK entry (X11)" \
    '{"bundleId":"org.focusprobe.GtkTest","appName":"focusprobe-gtk-test","editable":true,"stage":"role","valueLen":5}'$'\n' \
    0 focusprobe info
  exit "$failed"
) || failed=1

# --- the manual page -----------------------------------------------------------------------------
page=$(man -w focusprobe 2>/dev/null) || page=
if [ "$page" = /usr/share/man/man1/focusprobe.1.gz ]; then
  echo "ok   man -w focusprobe"
else
  failed=1
  echo "FAIL man -w focusprobe: '$page'"
fi
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings focusprobe >"$scratch/man" 2>"$scratch/man.err" </dev/null || true
if grep -q '^NAME' "$scratch/man" && tr -s ' ' <"$scratch/man" | grep -q 'focusprobe - ask about, or act on' \
  && [ ! -s "$scratch/man.err" ]; then
  echo "ok   man focusprobe"
else
  failed=1
  echo "FAIL man focusprobe: $(head -c 300 "$scratch/man.err")"
fi

# --- removal -------------------------------------------------------------------------------------
step "dpkg --purge focusprobe"
purge
if dpkg-query -W -f='${Status}' focusprobe 2>/dev/null | grep -q 'installed'; then
  fail "focusprobe is still installed"
fi
for path in "${files[@]}"; do
  [ ! -e "$path" ] || { failed=1; echo "FAIL $path is left after the purge"; }
done
[ "$failed" = 0 ] || fail "see above"
step "all passed"
