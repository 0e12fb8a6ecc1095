#!/usr/bin/env bash
# Measures focusprobe on a private desktop session side by side with the reference
# (bench/linux/reference.py), against a GTK window with a large accessibility tree.
#
# Usage: bench/linux/bench-linux.sh [path/to/focusprobe]   (RUNS=n, FILLER=labels)
set -u

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BIN=${1:-${FOCUSPROBE_BIN:-$ROOT/build/h-linux/src/focusprobe}}
PYTHON=/usr/bin/python3
RUNS=${RUNS:-15}
FILLER=${FILLER:-2440}

for tool in Xvfb openbox dbus-daemon xdotool busctl; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIPPED: bench-linux: missing $tool"; exit 0; }
done
"$PYTHON" -c 'import gi; gi.require_version("Atspi", "2.0"); gi.require_version("Gtk", "3.0")' 2>/dev/null \
    || { echo "SKIPPED: bench-linux: missing python3-gi, gir1.2-atspi-2.0 or gir1.2-gtk-3.0"; exit 0; }

# shellcheck source=tests/e2e/session.sh
source "$ROOT/tests/e2e/session.sh"
start_session || exit 1

mkfifo "$WORK/gtk.in"
"$PYTHON" "$ROOT/tests/e2e/gtk_test_app.py" --focus entry --filler "$FILLER" <"$WORK/gtk.in" >"$WORK/gtk.log" 2>&1 &
PIDS+=($!)
exec 7>"$WORK/gtk.in"
wait_for 60 xdotool search --onlyvisible --name "focusprobe test window" || { echo "bench-linux: no GTK window" >&2; exit 1; }
xdotool windowactivate --sync "$(xdotool search --onlyvisible --name "focusprobe test window" | head -n1)" >/dev/null 2>&1
sleep 1
"$BIN" frontmost | grep -q "org.focusprobe.GtkTest" || { echo "bench-linux: the GTK window is not frontmost" >&2; exit 1; }

now_us() { echo $(($(date +%s%N) / 1000)); }

# Prints "median min" in milliseconds of the command's wall time over RUNS runs; before each run
# the command in $BEFORE (if any) is evaluated. The last output is kept in $WORK/last.
measure() {
    local times=() i start end
    for ((i = 0; i < RUNS; i++)); do
        [[ -n ${BEFORE:-} ]] && eval "$BEFORE"
        start=$(now_us)
        "$@" >"$WORK/last" 2>/dev/null
        end=$(now_us)
        times+=($((end - start)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f %.1f", a[int((NR+1)/2)]/1000, a[1]/1000}'
}

report() { # label "median min" output
    read -r median min <<<"$2"
    printf '%-46s median %8s ms  min %8s ms  %s\n' "$1" "$median" "$min" "$3"
}

echo "bench-linux: $RUNS runs each, GTK window with $FILLER filler labels, load $(cut -d' ' -f1-3 /proc/loadavg)"

# Starting a process costs tens of milliseconds on a loaded machine, and varies. Each info run is
# paired with a run of the same binary without a display (it answers at once, with no wait), and
# the median of the differences is the cost of the query itself.
paired() { # prints "median-of-differences median-baseline" in ms
    local diffs=() bases=() i start mid end
    for ((i = 0; i < RUNS; i++)); do
        echo entry >&7
        sleep 0.2
        start=$(now_us)
        env -u DISPLAY "$BIN" info >/dev/null
        mid=$(now_us)
        env "$BIN" info >"$WORK/last"
        end=$(now_us)
        bases+=($((mid - start)))
        diffs+=($((end - mid - (mid - start) - 100000)))
    done
    printf '%s %s\n' "$(printf '%s\n' "${diffs[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1000}')" \
        "$(printf '%s\n' "${bases[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1000}')"
}

BEFORE='echo entry >&7; sleep 0.2'
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
