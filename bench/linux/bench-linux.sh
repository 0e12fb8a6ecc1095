#!/usr/bin/env bash
# Measures focusprobe on a private desktop session side by side with /bin/true and the reference
# (bench/linux/reference.py), against a GTK window with a large accessibility tree.
#
# Where `info`'s time goes is measured from outside the program, which has no timing mode:
#   - process start and library loading: the same binary without a display (it answers at once
#     on the headless path, having loaded everything), beside /bin/true;
#   - every later phase (the display, the frontmost window's properties, the accessibility bus
#     address, the bus connection, finding the application, finding the focused element, the
#     verdict's reads): bench/linux/info_phases.cpp, a bench program built next to the binary
#     (build/<preset>/bench/info_phases) that runs each phase with the backend's own pieces and
#     times it, each run from a new connection; once with the address published on the root
#     window, as the bus launcher does in a desktop session, and once without (the session bus
#     is asked).
# Xvfb forgets root properties whenever its last client leaves, as it does while the bus
# launcher starts here, so the script publishes AT_SPI_BUS itself, as the launcher would.
#
# With TOOLKIT=qt the window is a Qt 5 one (bench/linux/qt_test_app.py, python3-pyqt5), whose root
# offers no search for the focused element: `info` walks the window. Its button case (FOCUS=button)
# walks the whole window.
#
# Usage: bench/linux/bench-linux.sh [path/to/focusprobe]   (RUNS=n, FILLER=labels, TOOLKIT=gtk|qt)
set -u

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BIN=${1:-${FOCUSPROBE_BIN:-$ROOT/build/h-linux/src/focusprobe}}
PHASES=${PHASES:-$(dirname "$BIN")/../bench/info_phases}
PYTHON=/usr/bin/python3
RUNS=${RUNS:-15}
FILLER=${FILLER:-2440}
TOOLKIT=${TOOLKIT:-gtk}
if [[ $TOOLKIT == qt ]]; then
    APP=$ROOT/bench/linux/qt_test_app.py TITLE="focusprobe qt window" APP_ID="Focusprobe Qt Test"
else
    APP=$ROOT/tests/e2e/gtk_test_app.py TITLE="focusprobe test window" APP_ID="org.focusprobe.GtkTest"
fi

for tool in Xvfb openbox dbus-daemon xdotool busctl; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIPPED: bench-linux: missing $tool"; exit 0; }
done
"$PYTHON" -c 'import gi; gi.require_version("Atspi", "2.0"); gi.require_version("Gtk", "3.0")' 2>/dev/null \
    || { echo "SKIPPED: bench-linux: missing python3-gi, gir1.2-atspi-2.0 or gir1.2-gtk-3.0"; exit 0; }
if [[ $TOOLKIT == qt ]]; then
    "$PYTHON" -c 'import PyQt5.QtWidgets' 2>/dev/null || { echo "SKIPPED: bench-linux: missing python3-pyqt5"; exit 0; }
fi

# shellcheck source=tests/e2e/session.sh
source "$ROOT/tests/e2e/session.sh"
start_session || exit 1

A11Y_ADDRESS=$(busctl --user call org.a11y.Bus /org/a11y/bus org.a11y.Bus GetAddress | cut -d'"' -f2)
publish_address() { xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS "$A11Y_ADDRESS"; }
# The Qt window joined the accessibility bus here only when the root window named it at its start.
publish_address
mkfifo "$WORK/gtk.in"
FOCUS=${FOCUS:-entry}
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$PYTHON" "$APP" --focus "$FOCUS" --filler "$FILLER" <"$WORK/gtk.in" >"$WORK/gtk.log" 2>&1 &
PIDS+=($!)
exec 7>"$WORK/gtk.in"
wait_for 60 xdotool search --onlyvisible --name "$TITLE" || { echo "bench-linux: no $TOOLKIT window" >&2; exit 1; }
xdotool windowactivate --sync "$(xdotool search --onlyvisible --name "$TITLE" | head -n1)" >/dev/null 2>&1
sleep 1
"$BIN" frontmost | grep -q "$APP_ID" || { echo "bench-linux: the $TOOLKIT window is not frontmost" >&2; exit 1; }

# Microseconds, read by the shell itself: a command substitution or a date process would add a
# fork to what is measured.
now_us() { local -n into=$1; into=${EPOCHREALTIME/./}; into=$((10#$into)); }

# Prints "median min" in milliseconds of the command's wall time over RUNS runs; before each run
# the command in $BEFORE (if any) is evaluated. The last output is kept in $WORK/last.
measure() {
    local times=() i start end
    for ((i = 0; i < RUNS; i++)); do
        [[ -n ${BEFORE:-} ]] && eval "$BEFORE"
        now_us start
        "$@" >"$WORK/last" 2>/dev/null
        now_us end
        times+=($((end - start)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f %.1f", a[int((NR+1)/2)]/1000, a[1]/1000}'
}

report() { # label "median min" output
    read -r median min <<<"$2"
    printf '%-46s median %8s ms  min %8s ms  %s\n' "$1" "$median" "$min" "$3"
}

echo "bench-linux: $RUNS runs each, $TOOLKIT window with $FILLER filler labels, focus on the $FOCUS, load $(cut -d' ' -f1-3 /proc/loadavg)"


without_display() { DISPLAY='' "$BIN" "$@"; }

# Runs the commands (each one word, a command or a function) in turn, RUNS rounds, so that the
# machine's load falls on all of them alike; prints "median min" of each, one per line.
measure_together() {
    local -A times=()
    local i c start end
    for ((i = 0; i < RUNS; i++)); do
        for c in "$@"; do
            now_us start
            $c >/dev/null 2>&1
            now_us end
            times[$c]+="$((end - start)) "
        done
    done
    for c in "$@"; do
        # shellcheck disable=SC2086
        printf '%s\n' ${times[$c]} | sort -n | awk '{a[NR]=$1} END {printf "%.2f %.2f\n", a[int((NR+1)/2)]/1000, a[1]/1000}'
    done
}

# The floor: a process that does nothing, and ours on its headless path (start and loading only).
headless_frontmost() { without_display frontmost; }
desktop_frontmost() { "$BIN" frontmost; }
RUNS=$((RUNS * 10)) measure_together /bin/true headless_frontmost desktop_frontmost >"$WORK/floor"
{ read -r floor; read -r headless; read -r ours; } <"$WORK/floor"
report "/bin/true" "$floor" ""
report "frontmost without a display (start, loading)" "$headless" "$(without_display frontmost)"
report "frontmost on the desktop" "$ours" "$("$BIN" frontmost)"
read -r floor_median _ <<<"$floor"
read -r headless_median _ <<<"$headless"
read -r ours_median _ <<<"$ours"
awk -v t="$floor_median" -v h="$headless_median" -v d="$ours_median" \
    'BEGIN {printf "frontmost: %.1fx /bin/true without a display, %.1fx on the desktop (goal: 3x)\n", h / t, d / t}'

if [[ -x $PHASES ]]; then
    echo "where info's time goes beyond its 100 ms wait (info_phases, $RUNS runs):"
    "$PHASES" "$RUNS" | sed 's/^/  /'
    xprop -root -remove AT_SPI_BUS
    echo "  without the address on the root window:"
    "$PHASES" "$RUNS" | grep 'bus address' | sed 's/^/  /'
    publish_address
else
    echo "bench-linux: no info_phases at $PHASES (built with the benchmarks); no breakdown"
fi

# Starting a process costs tens of milliseconds on a loaded machine, and varies. Each info run is
# paired with a run of the same binary without a display (it answers at once, with no wait), and
# the median of the differences is the cost of the query itself.
paired() { # prints "median-of-differences median-baseline" in ms
    local diffs=() bases=() i start mid end
    for ((i = 0; i < RUNS; i++)); do
        echo "$FOCUS" >&7
        sleep 0.2
        now_us start
        without_display info >/dev/null
        now_us mid
        "$BIN" info >"$WORK/last"
        now_us end
        bases+=($((mid - start)))
        diffs+=($((end - mid - (mid - start) - 100000)))
    done
    printf '%s %s\n' "$(printf '%s\n' "${diffs[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1000}')" \
        "$(printf '%s\n' "${bases[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1000}')"
}

BEFORE='echo "$FOCUS" >&7; sleep 0.2'
ours=$(measure "$BIN" info); ours_out=$(cat "$WORK/last")
ref=$(measure "$PYTHON" -W ignore "$ROOT/bench/linux/reference.py" info); ref_out=$(cat "$WORK/last")
report "info, focusprobe (includes the 100 ms wait)" "$ours" "$ours_out"
report "info, reference libatspi (same wait)" "$ref" "$ref_out"
read -r cost base <<<"$(paired)"
echo "info beyond its 100 ms wait and the process start (paired runs): median $cost ms;" \
    "process start alone: median $base ms"
read -r ref_median _ <<<"$ref"
echo "reference beyond its 100 ms wait: median $(awk -v m="$ref_median" 'BEGIN {printf "%.1f", m - 100}') ms"

BEFORE='echo button >&7; sleep 0.3'
ours=$(measure "$BIN" rescue); ours_out=$(cat "$WORK/last")
report "rescue, focusprobe (80 + 100 ms waits)" "$ours" "$ours_out"
ref=$(measure "$PYTHON" -W ignore "$ROOT/bench/linux/reference.py" walk-atspi); ref_out=$(cat "$WORK/last")
report "composer walk, reference libatspi" "$ref" "$ref_out"
ref=$(measure "$PYTHON" -W ignore "$ROOT/bench/linux/reference.py" walk-dbus); ref_out=$(cat "$WORK/last")
report "composer walk, reference serial D-Bus" "$ref" "$ref_out"
# The serial walk without a budget: its counts are the ones the fast walk must match.
ref=$(RUNS=1 measure "$PYTHON" -W ignore "$ROOT/bench/linux/reference.py" walk-dbus-full)
report "composer walk, serial D-Bus without budget" "$ref" "$(cat "$WORK/last")"
