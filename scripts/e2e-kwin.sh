#!/usr/bin/env bash
# End-to-end checks of the Wayland backend on KDE's compositor: a headless KWin with two GTK 3
# windows, `frontmost` across focus moves, `info`, `paste` through KWin's fake input (the desktop
# entry that grants it installed for the binary under test) and, without the entry, through the
# desktop portal's remote desktop, each under us and Dvorak with the text read back, and
# `modtap`'s `error`. The session runs as an ordinary user; everything started here is stopped again by
# process id.
#
# Usage: scripts/e2e-kwin.sh [path/to/focusprobe]
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=${1:-${FOCUSPROBE_BIN:-$ROOT/build/debug/src/focusprobe}}
KEYBOARD=$(dirname "$BIN")/focusprobe-wayland-keyboard
PYTHON=/usr/bin/python3

missing=()
for tool in kwin_wayland wl-copy dbus-daemon busctl pgrep setpriv; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
"$PYTHON" -c 'import gi; gi.require_version("Gtk", "3.0"); from gi.repository import Gtk' >/dev/null 2>&1 \
    || missing+=("python3-gi/gir1.2-gtk-3.0")
[[ -x /usr/libexec/at-spi-bus-launcher ]] || missing+=("at-spi2-core")
if ((${#missing[@]} > 0)); then
    echo "SKIPPED: e2e-kwin: missing ${missing[*]} (see scripts/linux-desktop-packages.txt)"
    exit 0
fi
if [[ ! -x $BIN || ! -x $KEYBOARD ]]; then
    echo "e2e-kwin: no focusprobe binary and keyboard helper at $BIN, $KEYBOARD" >&2
    exit 1
fi

# shellcheck source=tests/e2e/wayland/session.sh
source "$ROOT/tests/e2e/wayland/session.sh"
# shellcheck source=tests/e2e/checks.sh
source "$ROOT/tests/e2e/checks.sh"
started=$SECONDS

fp() { as_user "$FP" "$@" 2>>"$WORK/focusprobe.err"; }
frontmost_pid_is() { [[ $(fp frontmost) == *"|$1" ]]; }

prepare_user || { echo "e2e-kwin: cannot create the session user" >&2; exit 1; }
# Debian's kwin_wayland carries a file capability a container may refuse to grant; a plain copy
# has none.
cp "$(command -v kwin_wayland)" "$WORK/bin/kwin_wayland"
mkdir -p "$WORK/home/.config" "$WORK/home/.local/share/applications"
start_buses || exit 1

# KWin takes its layout from kxkbrc, read again on org.kde.keyboard's reloadConfig.
set_layout() { # layout [variant]
    printf '[Layout]\nLayoutList=%s\nVariantList=%s\nUse=true\n' "$1" "${2:-}" >"$WORK/home/.config/kxkbrc"
    [[ ${#AS[@]} == 0 ]] || chown "$SESSION_USER" "$WORK/home/.config/kxkbrc"
}

start_kwin() {
    local attempt pid name
    for attempt in 1 2 3; do
        name=wayland-kwin-$$-$attempt
        SESSION_ENV=(XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland QT_QPA_PLATFORM=offscreen
            XDG_DATA_HOME="$WORK/home/.local/share")
        user_argv
        "${USER_ARGV[@]}" "$WORK/bin/kwin_wayland" --virtual --width 1280 --height 720 --socket "$name" \
            --no-lockscreen --no-global-shortcuts --no-kactivities >>"$WORK/kwin.log" 2>&1 &
        pid=$!
        SESSION_ENV=()
        if wait_for 15 test -S "$RUNTIME/$name"; then
            PIDS+=("$pid")
            WAYLAND_DISPLAY=$name
            return 0
        fi
        echo "kwin session: kwin_wayland did not start (attempt $attempt): $(tail -n 2 "$WORK/kwin.log")" >&2
        stop_pid "$pid"
        sleep 0.5
    done
    return 1
}

# Moves the focus with a KWin script, loaded over D-Bus, run and unloaded again.
focus() { # title pid
    local script=$WORK/focus-$RANDOM.js
    printf 'var c = workspace.clientList();\nfor (var i = 0; i < c.length; i++) {\n  if (c[i].caption == "%s") workspace.activeClient = c[i];\n}\n' \
        "$1" >"$script"
    chmod 644 "$script"
    as_user busctl --user call org.kde.KWin /Scripting org.kde.kwin.Scripting loadScript ss "$script" fpfocus >/dev/null
    as_user busctl --user call org.kde.KWin /Scripting org.kde.kwin.Scripting start >/dev/null
    as_user busctl --user call org.kde.KWin /Scripting org.kde.kwin.Scripting unloadScript s fpfocus >/dev/null
    wait_for 10 frontmost_pid_is "$2" || echo "e2e-kwin: $1 did not become frontmost" >&2
}

gtk_window() { # name app-id title
    start_reader "$1" env GDK_BACKEND=wayland "$PYTHON" "$WORK/e2e/wayland/gtk_window.py" --app-id "$2" \
        --prgname "focusprobe-kwin-$1" --title "$3"
}

timed_paste() {
    local t0
    t0=$(date +%s%N)
    PASTED=$(fp paste)
    echo "     paste took $((($(date +%s%N) - t0) / 1000000)) ms"
}

entry_is() { [[ $(ask "$1" 'text entry') == "$2" ]]; }

paste_into() { # window label text
    local copy
    ask "$1" entry-reset >/dev/null
    ask "$1" entry >/dev/null
    user_argv
    "${USER_ARGV[@]}" wl-copy --foreground "$3" >/dev/null 2>&1 &
    copy=$!
    PIDS+=("$copy")
    sleep 0.3
    timed_paste
    check "paste $2 prints ok" "ok" "$PASTED"
    wait_for 3 entry_is "$1" "hello$3"
    check "paste $2 reaches the entry" "hello$3" "$(ask "$1" 'text entry')"
    stop_pid "$copy"
}

# The entry that grants the binary under test KWin's fake input and window list, from the
# template the install rules fill in.
sed "s|@FOCUSPROBE_EXEC@|$FP|" "$ROOT/packaging/linux/focusprobe.desktop.in" \
    >"$WORK/home/.local/share/applications/focusprobe.desktop"
[[ ${#AS[@]} == 0 ]] || chown -R "$SESSION_USER" "$WORK/home"

set_layout us
start_kwin || exit 1
echo "e2e-kwin: KWin on $WAYLAND_DISPLAY as $(as_user id -un), binary $BIN"
# Before any application starts: the desktop portal, activated by the first that asks, picks its
# KDE backend by the desktop's name, and that backend must reach KWin.
as_user busctl --user call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
    UpdateActivationEnvironment 'a{ss}' 4 XDG_CURRENT_DESKTOP KDE XDG_SESSION_TYPE wayland \
    WAYLAND_DISPLAY "$WAYLAND_DISPLAY" QT_QPA_PLATFORM wayland

gtk_window one org.focusprobe.KwinOne "focusprobe kwin one" || exit 1
gtk_window two org.focusprobe.KwinTwo "focusprobe kwin two" || exit 1
ONE_PID=${READER_PID[one]}
TWO_PID=${READER_PID[two]}

focus "focusprobe kwin one" "$ONE_PID"
check "frontmost names GTK window one" "focusprobe-kwin-one|org.focusprobe.KwinOne|$ONE_PID" "$(fp frontmost)"
check "info on window one's entry" \
    '{"bundleId":"org.focusprobe.KwinOne","appName":"focusprobe-kwin-one","editable":true,"stage":"role","valueLen":5}' \
    "$(fp info)"
focus "focusprobe kwin two" "$TWO_PID"
check "frontmost follows the focus to window two" "focusprobe-kwin-two|org.focusprobe.KwinTwo|$TWO_PID" \
    "$(fp frontmost)"
# With the entry KWin lists its windows to the binary, and frontmost reads the list.
SESSION_ENV=(WAYLAND_DEBUG=client)
as_user "$FP" frontmost >"$WORK/debug.out" 2>"$WORK/debug.err"
SESSION_ENV=()
check "frontmost through KWin's window list names window two" \
    "focusprobe-kwin-two|org.focusprobe.KwinTwo|$TWO_PID" "$(cat "$WORK/debug.out")"
check "frontmost reads the active window from KWin's window list" "yes" \
    "$(grep -q 'org_kde_plasma_window@[0-9]*\.state_changed(' "$WORK/debug.err" && echo yes)"

check "paste-keycode under us" "9" "$(fp paste-keycode)"
paste_into two "through fake input under us" "+us"

set_layout us dvorak
as_user busctl --user emit /Layouts org.kde.keyboard reloadConfig
dvorak() { [[ $(fp paste-keycode) == 47 ]]; }
wait_for 5 dvorak
check "paste-keycode under Dvorak" "47" "$(fp paste-keycode)"
focus "focusprobe kwin one" "$ONE_PID"
paste_into one "through fake input under Dvorak" "+dvorak"

# The keys went through KWin's fake input: the client's own protocol log says so.
ask one entry-reset >/dev/null
ask one entry >/dev/null
SESSION_ENV=(WAYLAND_DEBUG=client)
as_user "$FP" paste >"$WORK/debug.out" 2>"$WORK/debug.err"
SESSION_ENV=()
check "paste binds KWin's fake input and presses keys with it" "yes" \
    "$(grep -q 'org_kde_kwin_fake_input@[0-9]*\.keyboard_key(' "$WORK/debug.err" && echo yes)"

# Without the entry KWin offers no fake input: the desktop portal's remote desktop presses the keys.
rm "$WORK/home/.local/share/applications/focusprobe.desktop"
no_fake_input() {
    SESSION_ENV=(WAYLAND_DEBUG=client)
    as_user "$FP" paste-keycode >/dev/null 2>"$WORK/debug.err"
    SESSION_ENV=()
    ! grep -q 'org_kde_kwin_fake_input' "$WORK/debug.err"
}
wait_for 10 no_fake_input
check "without the desktop entry KWin offers no fake input" "yes" "$(no_fake_input && echo yes)"
paste_into one "through the portal under Dvorak" "+portal"
set_layout us
as_user busctl --user emit /Layouts org.kde.keyboard reloadConfig
us() { [[ $(fp paste-keycode) == 9 ]]; }
wait_for 5 us
paste_into one "through the portal under us" "+portalus"

out=$(as_user "$FP" modtap </dev/null 2>>"$WORK/focusprobe.err")
status=$?
check "modtap answers error" "error" "$out"
check "modtap exits 1" "1" "$status"

check "nothing was written to standard error" "" "$(cat "$WORK/focusprobe.err")"
echo "e2e-kwin: $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
((failed == 0))
