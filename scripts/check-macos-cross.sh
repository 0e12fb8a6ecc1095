#!/usr/bin/env bash
# Cross-compiles and links focusprobe for macOS 12 on Linux, with Debian's clang, libc++,
# ld64.lld and llvm-lipo against a real macOS SDK, warnings as errors: by default one universal
# binary (arm64 and x86_64, CMAKE_OSX_ARCHITECTURES as the macOS CI job builds it). Then checks
# that the binary holds exactly the architectures asked for and that each slice imports the
# platform calls the macOS backend maps onto (llvm-nm -u), references the Objective-C selectors it
# sends, and embeds the Info.plist.
#
# usage: scripts/check-macos-cross.sh [BUILD...]   BUILD: universal, arm64, x86_64 (default: universal)
# environment:
#   MACOS_SDK  the SDK to build against (default: sdk/MacOSX12.sdk beside the checkout, else
#              ~/.cache/focusprobe/MacOSX12.sdk, so clones anywhere on one machine find it). One is
#              made by prepare-macos-sdk from a snapshot of hexops-graveyard/sdk-macos-12.0.
#   JOBS       parallel build jobs (default: 2)
#
# Without an SDK the check is skipped with a message and exit status 0. The SDK is only read;
# nothing of it is copied into the tree. Builds go to build/macos-BUILD.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(universal)
jobs=${JOBS:-2}

say() { echo "check-macos-cross: $*"; }

default_sdk="$(dirname "$root")/sdk/MacOSX12.sdk"
cached_sdk="${XDG_CACHE_HOME:-$HOME/.cache}/focusprobe/MacOSX12.sdk"
[ -f "$default_sdk/SDKSettings.json" ] || [ ! -f "$cached_sdk/SDKSettings.json" ] || default_sdk=$cached_sdk
if [ -n "${MACOS_SDK:-}" ]; then
  sdk=$MACOS_SDK
  if [ ! -f "$sdk/SDKSettings.json" ]; then
    say "MACOS_SDK=$sdk is not a macOS SDK (it has no SDKSettings.json)" >&2
    exit 1
  fi
elif [ -f "$default_sdk/SDKSettings.json" ]; then
  sdk=$default_sdk
else
  say "SKIPPED: no macOS SDK (MACOS_SDK is unset and $default_sdk does not exist)."
  say "nothing was compiled or linked for macOS; set MACOS_SDK to a MacOSX12.sdk to run this check."
  exit 0
fi
sdk=$(cd "$sdk" && pwd)

for arch in "${archs[@]}"; do
  case "$arch" in
    universal | arm64 | x86_64) ;;
    *) say "unknown build '$arch' (universal, arm64 or x86_64)" >&2; exit 2 ;;
  esac
done

# With an SDK present, missing tools are a broken setup, not a reason to skip.
need() { command -v "$1" >/dev/null 2>&1 || { say "$1 not found ($2)" >&2; exit 1; }; }
need cmake "cmake"
need clang++ "Debian package clang"
need llvm-nm "Debian package llvm"
need strings "Debian package binutils"
need python3 "Debian package python3"
lld=$(clang++ -print-prog-name=ld64.lld)
[ -x "$lld" ] || command -v "$lld" >/dev/null 2>&1 || { say "ld64.lld not found (Debian package lld)" >&2; exit 1; }
llvm_bin=$(dirname "$(readlink -f "$(command -v llvm-nm)")")
# Debian's llvm-lipo is LLVM's lipo: it lives beside llvm-nm (llvm-14), with no unversioned link.
lipo="$llvm_bin/llvm-lipo"
[ -x "$lipo" ] || { say "llvm-lipo not found in $llvm_bin (Debian package llvm)" >&2; exit 1; }
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

# The platform calls of every interface, by the framework that exports them.
declare -A imports=(
  [ApplicationServices]="_AXIsProcessTrusted _AXUIElementCreateApplication _AXUIElementCopyAttributeValue
    _AXUIElementSetAttributeValue _AXUIElementIsAttributeSettable _AXUIElementGetPid _AXUIElementGetTypeID
    _AXValueGetValue _AXValueGetTypeID"
  [CoreFoundation]="_kCFBooleanTrue _CFRetain _CFRelease _CFGetTypeID _CFStringGetCharacters _CFNumberGetValue
    _CFNumberIsFloatType _CFArrayGetValueAtIndex _CFDataGetBytePtr"
  [Carbon]="_TISCopyCurrentKeyboardLayoutInputSource _TISCopyCurrentASCIICapableKeyboardLayoutInputSource
    _TISGetInputSourceProperty _kTISPropertyUnicodeKeyLayoutData _LMGetKbdType _UCKeyTranslate"
  [CoreGraphics]="_CGEventSourceCreate _CGEventCreateKeyboardEvent
    _CGEventSourceSetLocalEventsFilterDuringSuppressionState _CGEventSetFlags _CGEventPost"
  [AppKit]="_OBJC_CLASS_\$_NSWorkspace _OBJC_CLASS_\$_NSApplication _OBJC_CLASS_\$_NSEvent _OBJC_CLASS_\$_NSWindow
    _NSAccessibilityPostNotificationWithUserInfo _NSAccessibilityAnnouncementRequestedNotification
    _NSAccessibilityAnnouncementKey _NSAccessibilityPriorityKey"
  [Foundation]="_OBJC_CLASS_\$_NSAppleScript _OBJC_CLASS_\$_NSString _OBJC_CLASS_\$_NSTimer _OBJC_CLASS_\$_NSFileHandle"
  [libSystem]="_dispatch_after _dispatch_async __dispatch_main_q _setvbuf _usleep _exit _fflush"
)
frameworks=(ApplicationServices CoreFoundation Carbon CoreGraphics AppKit Foundation libSystem)
selectors=(sharedWorkspace frontmostApplication bundleIdentifier localizedName processIdentifier
  isVoiceOverEnabled sharedApplication setActivationPolicy: run
  addGlobalMonitorForEventsMatchingMask:handler: removeMonitor: keyCode modifierFlags
  scheduledTimerWithTimeInterval:repeats:block: invalidate fileHandleWithStandardInput
  setReadabilityHandler: availableData initWithSource: executeAndReturnError:
  stringWithContentsOfFile:encoding:error: initWithContentRect:styleMask:backing:defer:
  setAccessibilityElement: setCollectionBehavior: setIgnoresMouseEvents: orderFrontRegardless)

summary=()
failed=0

# The checks of one single-architecture Mach-O executable (a slice of the universal one).
check_slice() {
  local label=$1 binary=$2
  local plist=no
  "$llvm_bin/llvm-objdump" --macho --section=__TEXT,__info_plist "$binary" | grep -q NSAppleEventsUsageDescription &&
    plist=yes
  summary+=("$label: embedded Info.plist: $plist")
  [ "$plist" = yes ] || failed=1

  local undefined names found_all=0 total_all=0 fw sym sel total
  local -a found missing sel_missing
  undefined=$(llvm-nm -u "$binary")
  for fw in "${frameworks[@]}"; do
    found=()
    missing=()
    for sym in ${imports[$fw]}; do
      if grep -qxF "$sym" <<<"$undefined"; then found+=("$sym"); else missing+=("$sym"); fi
    done
    total=$((${#found[@]} + ${#missing[@]}))
    found_all=$((found_all + ${#found[@]}))
    total_all=$((total_all + total))
    summary+=("$label: $fw ${#found[@]}/$total imported: ${found[*]}")
    if [ ${#missing[@]} -gt 0 ]; then
      summary+=("$label: $fw MISSING: ${missing[*]}")
      failed=1
    fi
  done
  names=$(strings -a -n 3 "$binary")
  sel_missing=()
  for sel in "${selectors[@]}"; do
    grep -qxF "$sel" <<<"$names" || sel_missing+=("$sel")
  done
  summary+=("$label: symbols $found_all/$total_all imported; selectors $((${#selectors[@]} - ${#sel_missing[@]}))/${#selectors[@]} referenced")
  if [ ${#sel_missing[@]} -gt 0 ]; then
    summary+=("$label: selectors MISSING: ${sel_missing[*]}")
    failed=1
  fi
}

for arch in "${archs[@]}"; do
  build="$root/build/macos-$arch"
  mkdir -p "$build"
  log="$build/check-macos-cross.log"
  say "$arch: configuring and building in ${build#"$root"/} (log: ${log#"$root"/})"
  if ! { cmake -S "$root" -B "$build" "${generator[@]}" \
           -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/macos-$arch.cmake" -DMACOS_SDK="$sdk" \
           -DCMAKE_BUILD_TYPE=Release -DFOCUSPROBE_WERROR=ON \
           -DFOCUSPROBE_BUILD_TESTS=OFF -DFOCUSPROBE_BUILD_BENCHMARKS=OFF &&
         cmake --build "$build" -j "$jobs"; } >"$log" 2>&1; then
    grep -E 'error|FAILED' "$log" | head -20 >&2 || true
    summary+=("$arch: FAILED to configure, compile or link (see ${log#"$root"/})")
    failed=1
    continue
  fi

  if [ "$arch" = universal ]; then wanted=(arm64 x86_64); else wanted=("$arch"); fi
  read -r units werror objcxx arc both < <(python3 - "$build/compile_commands.json" "${wanted[@]}" <<'PY'
import json, sys
entries = json.load(open(sys.argv[1]))
wanted = sys.argv[2:]
def arches(words):
    return sorted(words[i + 1] for i, w in enumerate(words[:-1]) if w == "-arch")
mm = [e for e in entries if e["file"].endswith(".mm")]
print(len(entries), sum("-Werror" in e["command"].split() for e in entries), len(mm),
      sum("-fobjc-arc" in e["command"].split() for e in mm),
      sum(arches(e["command"].split()) == sorted(wanted) for e in entries))
PY
  )
  summary+=("$arch: compiled $units translation units for ${wanted[*]} (-apple-macos12), $werror with -Werror, $both with -arch ${wanted[*]}; $objcxx Objective-C++, $arc with -fobjc-arc")
  if [ "$werror" != "$units" ] || [ "$arc" != "$objcxx" ] || [ "$both" != "$units" ]; then
    failed=1
  fi

  binary="$build/src/focusprobe"
  info=$("$lipo" -info "$binary" 2>&1 || true)
  built=$("$lipo" -archs "$binary" 2>/dev/null | tr ' ' '\n' | grep . | sort | tr '\n' ' ' || true)
  if [ "$built" != "$(printf '%s\n' "${wanted[@]}" | sort | tr '\n' ' ')" ]; then
    summary+=("$arch: FAILED: linked binary holds '${built% }', not ${wanted[*]} ($info)")
    failed=1
    continue
  fi
  summary+=("$arch: linked ${binary#"$root"/} with ld64.lld, $(stat -c %s "$binary") bytes; llvm-lipo -info: $info")
  if [ "$arch" = universal ]; then
    for slice in "${wanted[@]}"; do
      "$lipo" "$binary" -thin "$slice" -output "$build/focusprobe-$slice"
      check_slice "$arch/$slice" "$build/focusprobe-$slice"
    done
  else
    check_slice "$arch" "$binary"
  fi
done

say "summary (SDK: $sdk)"
printf '  %s\n' "${summary[@]}"
if [ "$failed" = 0 ]; then
  say "OK: ${archs[*]} compiled, linked and import every checked platform call"
else
  say "FAILED"
fi
exit "$failed"
