#!/usr/bin/env bash
# End-to-end checks of the X11 + AT-SPI backend against real applications: a private Xvfb
# display, a session bus (which brings up the accessibility bus), openbox, a GTK 3 window,
# Chromium on a local page and a headless speech-dispatcher. Everything started here is stopped
# again by process id.
#
# Usage: scripts/e2e-linux.sh [path/to/focusprobe]
#   FOCUSPROBE_DISPLAY_NUMBER=N runs the desktop on display :N (else a free one at random).
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=${1:-${FOCUSPROBE_BIN:-$ROOT/build/h-linux/src/focusprobe}}
PYTHON=/usr/bin/python3

missing=()
for tool in Xvfb openbox dbus-daemon xdotool xclip xprop setxkbmap busctl pgrep chromium speech-dispatcher espeak-ng; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
"$PYTHON" -c 'import gi; gi.require_version("Gtk", "3.0"); from gi.repository import Gtk' >/dev/null 2>&1 \
    || missing+=("python3-gi/gir1.2-gtk-3.0")
"$PYTHON" -c 'import gi; gi.require_version("Atspi", "2.0")' >/dev/null 2>&1 || missing+=("gir1.2-atspi-2.0")
[[ -x /usr/libexec/at-spi-bus-launcher ]] || missing+=("at-spi2-core")
if ((${#missing[@]} > 0)); then
    echo "SKIPPED: e2e-linux: missing ${missing[*]} (see scripts/linux-desktop-packages.txt)"
    exit 0
fi
if [[ ! -x $BIN ]]; then
    echo "e2e-linux: no focusprobe binary at $BIN" >&2
    exit 1
fi

# shellcheck source=tests/e2e/session.sh
source "$ROOT/tests/e2e/session.sh"
# shellcheck source=tests/e2e/checks.sh
source "$ROOT/tests/e2e/checks.sh"

start_session || exit 1

mkfifo "$WORK/gtk.in"
"$PYTHON" "$ROOT/tests/e2e/gtk_test_app.py" --focus entry <"$WORK/gtk.in" >"$WORK/gtk.log" 2>&1 &
GTK_PID=$!
PIDS+=($GTK_PID)
exec 7>"$WORK/gtk.in"

chromium --no-sandbox --force-renderer-accessibility --no-first-run --no-default-browser-check --disable-gpu \
    --disable-extensions --disable-sync --password-store=basic --user-data-dir="$WORK/chromium" \
    --window-position=0,0 --window-size=1000,700 "file://$ROOT/tests/e2e/page.html#input" >"$WORK/chromium.log" 2>&1 &
CHROMIUM_PID=$!
PIDS+=($CHROMIUM_PID)

# xdotool's search fails now and then while windows come and go: ask until it names one.
find_window() { # title seconds
    local id deadline=$((SECONDS + $2))
    while ((SECONDS < deadline)); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)
        [[ -n $id ]] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}
GTK_WINDOW=$(find_window "focusprobe test window" 30) || { echo "e2e-linux: GTK window missing" >&2; exit 1; }
CHROMIUM_WINDOW=$(find_window "focusprobe test page" 60) || { echo "e2e-linux: Chromium window missing" >&2; exit 1; }

app_count() { busctl --address="$A11Y" call org.a11y.atspi.Registry /org/a11y/atspi/accessible/root \
    org.a11y.atspi.Accessible GetChildren | awk '{print $2}'; }
wait_for 30 sh -c "[ \"\$(busctl --address='$A11Y' call org.a11y.atspi.Registry /org/a11y/atspi/accessible/root org.a11y.atspi.Accessible GetChildren | awk '{print \$2}')\" -ge 2 ]" \
    || { echo "e2e-linux: the applications did not join the accessibility bus" >&2; exit 1; }

# The text of the focused element of the application with this pid, read over the bus.
focused_text() {
    local name path
    for name in $(busctl --address="$A11Y" call org.a11y.atspi.Registry /org/a11y/atspi/accessible/root \
        org.a11y.atspi.Accessible GetChildren | grep -o '":[0-9.]*"' | tr -d '"'); do
        [[ $(busctl --address="$A11Y" call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
            GetConnectionUnixProcessID s "$name" | awk '{print $2}') == "$1" ]] || continue
        path=$(busctl --address="$A11Y" call "$name" /org/a11y/atspi/accessible/root org.a11y.atspi.Collection \
            GetMatches "(aiia{ss}iaiiasib)uib" 2 4096 0 1 0 1 0 1 0 1 false 1 1 true | awk '{print $4}' | tr -d '"')
        busctl --address="$A11Y" --json=short -- call "$name" "$path" org.a11y.atspi.Text GetText ii 0 -1 \
            | "$PYTHON" -c 'import json,sys; print(json.load(sys.stdin)["data"][0])'
    done
}

activate() { # window
    local attempt
    for attempt in 1 2 3 4 5; do
        ensure_window_manager
        xdotool windowactivate --sync "$1" >/dev/null 2>&1
        [[ $(xdotool getactivewindow 2>/dev/null) == "$1" ]] && return 0
        sleep 0.3
    done
    echo "e2e-linux: window $1 did not become active" >&2
}

gtk_focus() { # widget name
    activate "$GTK_WINDOW"
    echo "$1" >&7
    sleep 0.4
}

chromium_focus() { # element id
    activate "$CHROMIUM_WINDOW"
    sleep 0.2
    xdotool key --clearmodifiers ctrl+l >/dev/null 2>&1
    xdotool type --delay 5 "file://$ROOT/tests/e2e/page.html#$1" >/dev/null 2>&1
    xdotool key Return >/dev/null 2>&1
    sleep 1.0
}

echo "e2e-linux: display $DISPLAY, binary $BIN"

# --- frontmost, info and the default query ------------------------------------------------------

GTK_JSON='{"bundleId":"org.focusprobe.GtkTest","appName":"focusprobe-gtk-test",'
gtk_focus entry
check "frontmost names the GTK window" "focusprobe-gtk-test|org.focusprobe.GtkTest|$GTK_PID" "$("$BIN" frontmost)"
check "info on a GTK entry" "$GTK_JSON"'"editable":true,"stage":"role","valueLen":5}' "$("$BIN" info)"
check "query on a GTK entry" "true" "$("$BIN")"

gtk_focus textview
check "info on a GTK text view" "$GTK_JSON"'"editable":true,"stage":"role","valueLen":10}' "$("$BIN" info)"

gtk_focus readonly
check "info on a read-only GTK entry" "$GTK_JSON"'"editable":true,"stage":"role","valueLen":5}' "$("$BIN" info)"

gtk_focus combo
check "info on an editable GTK combo box" "$GTK_JSON"'"editable":true,"stage":"role","valueLen":3}' "$("$BIN" info)"

gtk_focus button
check "info on a GTK button" "$GTK_JSON"'"editable":false,"stage":"not_editable","valueLen":null}' "$("$BIN" info)"
check "query on a GTK button" "false" "$("$BIN")"

# --- rescue ---------------------------------------------------------------------------------------

# The walk reads ahead in bulk; its counts must be those of a plain serial walk of the same tree.
counts() { grep -o '"visited":[0-9]*\|"candidates":[0-9]*' | sort | tr '\n' ' '; }
serial=$("$PYTHON" -W ignore "$ROOT/bench/linux/reference.py" walk-dbus-full 2>>"$WORK/reference.log" | counts)
rescue=$("$BIN" rescue)
check "rescue from a GTK button counts what a serial walk counts" "$serial" "$(echo "$rescue" | counts)"
check_match "rescue from a GTK button focuses the text view" \
    "^${GTK_JSON//\{/\\\{}\"editable\":true,\"stage\":\"role\",\"valueLen\":10,\"rescued\":true,\"candidates\":[1-9][0-9]*,\"visited\":[1-9][0-9]*,\"timedOut\":false\}$" \
    "$rescue"
check "the text view holds the focus after rescue" "draft text" "$(focused_text "$GTK_PID")"

# A hung application holds a command for one call timeout (6 s), not one per call.
gtk_focus entry
kill -STOP "$GTK_PID"
start=$SECONDS
hung=$("$BIN" info)
elapsed=$((SECONDS - start))
kill -CONT "$GTK_PID"
check "info on a hung application" "$GTK_JSON"'"editable":false,"stage":"no_focused_element","valueLen":null}' "$hung"
check_match "info on a hung application ends within 8 s" "^[0-8]$" "$elapsed"
sleep 0.5

# --- Chromium -------------------------------------------------------------------------------------

CHROMIUM_JSON='{"bundleId":"Chromium","appName":"Chromium",'
chromium_focus input
check "frontmost names Chromium" "Chromium|Chromium|$CHROMIUM_PID" "$("$BIN" frontmost)"
check "info on a web input" "$CHROMIUM_JSON"'"editable":true,"stage":"role","valueLen":5}' "$("$BIN" info)"
chromium_focus textarea
check "info on a web textarea" "$CHROMIUM_JSON"'"editable":true,"stage":"role","valueLen":9}' "$("$BIN" info)"
chromium_focus editable
check "info on a contenteditable region" "$CHROMIUM_JSON"'"editable":true,"stage":"editable_ancestor","valueLen":9}' "$("$BIN" info)"
check "query on a contenteditable region" "true" "$("$BIN")"
chromium_focus button
check "info on a web button" "$CHROMIUM_JSON"'"editable":false,"stage":"not_editable","valueLen":4}' "$("$BIN" info)"
serial=$("$PYTHON" -W ignore "$ROOT/bench/linux/reference.py" walk-dbus-full 2>>"$WORK/reference.log" | counts)
rescue=$("$BIN" rescue)
check "rescue from a web button counts what a serial walk counts" "$serial" "$(echo "$rescue" | counts)"
check_match "rescue from a web button" \
    "^${CHROMIUM_JSON//\{/\\\{}\"editable\":true,\"stage\":\"editable_ancestor\",\"valueLen\":[0-9]+,\"rescued\":true,\"candidates\":[1-9][0-9]*,\"visited\":[1-9][0-9]*,\"timedOut\":false\}$" \
    "$rescue"

# --- paste and paste-keycode ----------------------------------------------------------------------

setxkbmap -layout us
check "paste-keycode under us" "9" "$("$BIN" paste-keycode)"
setxkbmap -layout us -variant dvorak
check "paste-keycode under Dvorak" "47" "$("$BIN" paste-keycode)"
setxkbmap -layout ru,us
check "paste-keycode under ru,us" "9" "$("$BIN" paste-keycode)"

for layout in "us" "us -variant dvorak"; do
    # shellcheck disable=SC2086
    setxkbmap -layout $layout
    gtk_focus entry
    xdotool key --clearmodifiers End >/dev/null 2>&1
    # xclip serves the clipboard until it is stopped: a text view asks for the targets first.
    printf '+pasted' | xclip -selection clipboard &
    XCLIP=$!
    PIDS+=($XCLIP)
    sleep 0.3
    check "paste under $layout prints ok" "ok" "$("$BIN" paste)"
    sleep 0.5
    check "paste under $layout reaches the entry" "hello+pasted" "$(focused_text "$GTK_PID")"
    kill "$XCLIP" 2>/dev/null
    echo "entry-reset" >&7
done
setxkbmap -layout us

# A user holding Shift: the posted Control+V must still carry exactly Control.
gtk_focus textview
printf 'X' | xclip -selection clipboard &
XCLIP=$!
PIDS+=($XCLIP)
sleep 0.3
xdotool keydown shift
"$BIN" paste >/dev/null
xdotool keyup shift
sleep 0.5
check_match "paste while Shift is held pastes" "X" "$(focused_text "$GTK_PID")"
kill "$XCLIP" 2>/dev/null

# Trust needs the accessibility bus: with none reachable, paste asks nothing of the keyboard.
if ! xprop -root AT_SPI_BUS 2>/dev/null | grep -q unix; then
    check "paste without an accessibility bus is untrusted" "untrusted" \
        "$(DBUS_SESSION_BUS_ADDRESS="unix:path=$WORK/no-bus" "$BIN" paste)"
fi
# Without a display the answers are the headless backend's.
check "info without a display" \
    '{"bundleId":"unknown","appName":"unknown","editable":false,"stage":"no_frontmost","valueLen":null}' \
    "$(env -u DISPLAY "$BIN" info)"
check "frontmost without a display prints nothing" "" "$(env -u DISPLAY "$BIN" frontmost)"

# --- modtap -----------------------------------------------------------------------------------------

gtk_focus button
mkfifo "$WORK/modtap.in"
"$BIN" modtap <"$WORK/modtap.in" >"$WORK/modtap.out" 2>&1 &
MODTAP=$!
PIDS+=($MODTAP)
exec 8>"$WORK/modtap.in"
wait_for 5 grep -q ready "$WORK/modtap.out"
sleep 0.4
xdotool keydown 108 sleep 0.1 keyup 108          # a tap
sleep 0.5
xdotool keydown 108 keydown 50 keyup 50 keyup 108 # Shift during the hold spoils it
sleep 0.5
xdotool keydown 108 sleep 0.8 keyup 108          # held too long
sleep 0.5
xdotool keydown 108 key 38 keyup 108             # a key typed during the hold spoils it
sleep 0.5
xdotool keydown 50 keydown 108 keyup 108 keyup 50 # pressed with Shift held
sleep 0.5
xdotool keydown 108 sleep 0.05 keyup 108         # a tap again
sleep 0.5
echo "ignored" >&8
sleep 0.2
check "modtap reports exactly the clean taps" "$(printf 'ready\ntap\ntap')" "$(cat "$WORK/modtap.out")"
exec 8>&-
wait_for 3 sh -c "! kill -0 $MODTAP"
wait "$MODTAP"
check "modtap exits 0 at the end of its input" "0" "$?"

# --- announce -----------------------------------------------------------------------------------------

mkdir -p "$WORK/speechd/conf" "$WORK/speechd/log" "$XDG_RUNTIME_DIR/speech-dispatcher"
cp -r /etc/speech-dispatcher/. "$WORK/speechd/conf/"
cat >>"$WORK/speechd/conf/speechd.conf" <<CONF
AudioOutputMethod "alsa"
AudioALSADevice "null"
DefaultModule espeak-ng
LogLevel 5
CONF
speech-dispatcher --run-single --timeout 0 --config-dir "$WORK/speechd/conf" --log-dir "$WORK/speechd/log" \
    --log-level 5 --communication-method unix_socket \
    --socket-path "$XDG_RUNTIME_DIR/speech-dispatcher/speechd.sock" >"$WORK/speechd/stdout" 2>&1 &
PIDS+=($!)
wait_for 10 test -S "$XDG_RUNTIME_DIR/speech-dispatcher/speechd.sock"

start=$SECONDS
out=$("$BIN" announce "focusprobe silent check" 2>&1)
check "announce with the screen reader off prints nothing" "" "$out"
check "announce with the screen reader off speaks nothing" "0" "$(grep -c 'focusprobe silent check' "$WORK/speechd/log/"* 2>/dev/null | awk -F: '{s+=$NF} END {print s+0}')"

busctl --user set-property org.a11y.Bus /org/a11y/bus org.a11y.Status ScreenReaderEnabled b true
out=$("$BIN" announce "focusprobe says hello" 2>&1)
status=$?
check "announce prints nothing" "" "$out"
check "announce exits 0" "0" "$status"
sleep 0.5
check_match "announce is spoken through speech-dispatcher" "[1-9]" \
    "$(cat "$WORK/speechd/log/"* 2>/dev/null | grep -c 'focusprobe says hello')"
busctl --user set-property org.a11y.Bus /org/a11y/bus org.a11y.Status ScreenReaderEnabled b false

[[ -s $WORK/reference.log ]] && { echo "reference walk errors:"; tail -n 5 "$WORK/reference.log"; }
echo "$passed passed, $failed failed"
((failed == 0))
