# shellcheck shell=bash
# A private Wayland desktop session for the end-to-end checks, run as an ordinary user (sway
# refuses root): its own runtime directory (0700), a session bus with the accessibility bus, and
# a headless compositor, sway or Mutter, with a keyboard attached before any application starts.
# Sourced; every process it starts is recorded in PIDS and stopped by process id on exit.
WORK=$(mktemp -d /tmp/focusprobe-wayland.XXXXXX)
chmod 755 "$WORK"
PIDS=()
AS=()
# Runs that share a machine at once each need a user of their own: cleanup stops all its processes.
SESSION_USER=${FOCUSPROBE_E2E_USER:-focusprobe-e2e}

descendants() {
    local child
    for child in $(pgrep -P "$1" 2>/dev/null); do
        descendants "$child"
        echo "$child"
    done
}

stop_pid() { # pid...
    local pid child
    for pid in "$@"; do
        for child in $(descendants "$pid"); do kill "$child" 2>/dev/null; done
        kill "$pid" 2>/dev/null
    done
}

cleanup() {
    local i pid
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do stop_pid "${PIDS[i]}"; done
    sleep 0.3
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill -9 "${PIDS[i]}" 2>/dev/null; done
    # Bus-activated services (the accessibility bus, dconf) and Chromium's crash handler leave
    # their parents; the session user runs nothing else, so each of its processes is ours.
    if [[ ${#AS[@]} -gt 0 ]]; then
        for pid in $(pgrep -u "$SESSION_USER" 2>/dev/null); do kill "$pid" 2>/dev/null; done
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

wait_for() { # seconds command...
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        ((SECONDS >= deadline)) && return 1
        sleep 0.1
    done
}

# Root runs the session as an unprivileged user of its own; anyone else runs it as themselves.
prepare_user() {
    AS=()
    if [[ $(id -u) == 0 ]]; then
        id "$SESSION_USER" >/dev/null 2>&1 \
            || useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$SESSION_USER" \
            || return 1
        AS=(setpriv --reuid="$SESSION_USER" --regid="$(id -g "$SESSION_USER")" --clear-groups)
    fi
    RUNTIME=$WORK/run
    mkdir -p "$RUNTIME" "$WORK/home" "$WORK/bin" "$WORK/e2e"
    chmod 700 "$RUNTIME"
    # The user may not reach the build tree: it runs copies.
    cp "$BIN" "$WORK/bin/focusprobe"
    cp "$KEYBOARD" "$WORK/bin/focusprobe-wayland-keyboard"
    cp "$ROOT"/tests/e2e/gtk_test_app.py "$ROOT"/tests/e2e/page.html "$WORK/e2e/"
    mkdir -p "$WORK/e2e/wayland"
    cp "$ROOT"/tests/e2e/wayland/*.py "$WORK/e2e/wayland/"
    [[ ${#AS[@]} == 0 ]] || chown -R "$SESSION_USER" "$RUNTIME" "$WORK/home"
    FP=$WORK/bin/focusprobe
}

# The prefix that runs a command as the session's user, with the session's environment and
# nothing of ours. Started in the background as "${USER_ARGV[@]}" command &, $! is the command's
# own process id (setpriv and env execute it in place).
user_argv() {
    USER_ARGV=("${AS[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin LANG=C.UTF-8 HOME="$WORK/home"
        XDG_RUNTIME_DIR="$RUNTIME" XDG_CONFIG_HOME="$WORK/home/.config" XDG_CACHE_HOME="$WORK/home/.cache"
        ${DBUS_SESSION_BUS_ADDRESS:+DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS}
        ${WAYLAND_DISPLAY:+WAYLAND_DISPLAY=$WAYLAND_DISPLAY} ${SWAYSOCK:+SWAYSOCK=$SWAYSOCK}
        ${SESSION_ENV[@]+"${SESSION_ENV[@]}"})
}

as_user() {
    user_argv
    "${USER_ARGV[@]}" "$@"
}

start_buses() {
    user_argv
    "${USER_ARGV[@]}" dbus-daemon --session --nofork --print-address=3 3>"$WORK/bus-address" >/dev/null 2>&1 &
    PIDS+=("$!")
    wait_for 5 test -s "$WORK/bus-address" || { echo "wayland session: no session bus" >&2; return 1; }
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$WORK/bus-address")
    # Starts the accessibility bus, then asks toolkits (and Chromium) to join it.
    A11Y=$(as_user busctl --user call org.a11y.Bus /org/a11y/bus org.a11y.Bus GetAddress | cut -d'"' -f2)
    [[ $A11Y == unix:* ]] || { echo "wayland session: no accessibility bus" >&2; return 1; }
    as_user busctl --user set-property org.a11y.Bus /org/a11y/bus org.a11y.Status IsEnabled b true
}

newest_socket() { # directory
    local socket
    socket=$(ls -t "$1" 2>/dev/null | grep -E '^wayland-[0-9]+$' | head -n1)
    [[ -n $socket ]] && echo "$socket"
}

# sway headless, software rendering, focus moved only by swaymsg; XWayland (started on its first
# X client) only when asked for with "xwayland" and installed, its display then in XWAYLAND_DISPLAY.
# Tried again when it does not come up.
start_sway() { # [xwayland]
    local attempt pid xwayland=disable
    [[ ${1:-} == xwayland ]] && command -v Xwayland >/dev/null 2>&1 && xwayland=enable
    cat >"$WORK/sway.conf" <<CONF
xwayland $xwayland
focus_follows_mouse no
default_border none
CONF
    chmod 644 "$WORK/sway.conf"
    for attempt in 1 2 3; do
        SESSION_ENV=(WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman)
        user_argv
        "${USER_ARGV[@]}" sway -c "$WORK/sway.conf" >>"$WORK/sway.log" 2>&1 &
        pid=$!
        SESSION_ENV=()
        if wait_for 10 sh -c "ls '$RUNTIME' | grep -q '^sway-ipc\\..*\\.$pid\\.sock\$'" \
            && WAYLAND_DISPLAY=$(newest_socket "$RUNTIME"); then
            PIDS+=("$pid")
            COMPOSITOR_PID=$pid
            SWAYSOCK=$(ls "$RUNTIME"/sway-ipc.*."$pid".sock)
            if wait_for 5 as_user swaymsg -t get_version; then
                XWAYLAND_DISPLAY=
                if [[ $xwayland == enable ]]; then
                    # sway gives the X display's name to what it starts.
                    as_user swaymsg exec "printenv DISPLAY >'$RUNTIME/sway-display'" >/dev/null
                    wait_for 5 test -s "$RUNTIME/sway-display" && XWAYLAND_DISPLAY=$(head -n1 "$RUNTIME/sway-display")
                fi
                return 0
            fi
        fi
        echo "wayland session: sway did not start (attempt $attempt): $(tail -n 2 "$WORK/sway.log")" >&2
        stop_pid "$pid"
        unset WAYLAND_DISPLAY SWAYSOCK
        sleep 0.5
    done
    return 1
}

# Mutter takes its keymap from org.freedesktop.locale1 on the system bus when it starts: a
# private system bus carries a stand-in that names the layout.
start_mutter() { # layout [variant]
    local attempt pid name
    rm -f "$WORK/system-bus-address"
    user_argv
    "${USER_ARGV[@]}" dbus-daemon --session --nofork --address="unix:path=$RUNTIME/system-bus-$RANDOM" \
        --print-address=3 3>"$WORK/system-bus-address" >/dev/null 2>&1 &
    SYSTEM_BUS_PID=$!
    PIDS+=("$!")
    wait_for 5 test -s "$WORK/system-bus-address" || { echo "wayland session: no system bus" >&2; return 1; }
    SESSION_ENV=(DBUS_SYSTEM_BUS_ADDRESS="$(head -n1 "$WORK/system-bus-address")")
    start_reader locale "$PYTHON" "$WORK/e2e/wayland/locale1.py" "$@" || return 1
    for attempt in 1 2 3; do
        name=wayland-fp-$$-$attempt-$RANDOM
        user_argv
        "${USER_ARGV[@]}" mutter --headless --wayland --no-x11 --virtual-monitor 1280x720 --wayland-display "$name" \
            >>"$WORK/mutter.log" 2>&1 &
        pid=$!
        if wait_for 15 test -S "$RUNTIME/$name" && wait_for 10 mutter_serves_remote_desktop; then
            PIDS+=("$pid")
            COMPOSITOR_PID=$pid
            WAYLAND_DISPLAY=$name
            SESSION_ENV=()
            return 0
        fi
        echo "wayland session: mutter did not start (attempt $attempt): $(tail -n 2 "$WORK/mutter.log")" >&2
        stop_pid "$pid"
        sleep 0.5
    done
    SESSION_ENV=()
    return 1
}

# A helper that answers on standard output and reads commands from a FIFO held open by the
# session, so each command is one write. Its pid is in READER_PID[name].
declare -A READER_PID
start_reader() { # name command...
    local name=$1
    shift
    rm -f "$WORK/$name.in"
    mkfifo "$WORK/$name.in"
    chmod 666 "$WORK/$name.in"
    : >"$WORK/$name.out"
    chmod 666 "$WORK/$name.out"
    user_argv
    "${USER_ARGV[@]}" "$@" <"$WORK/$name.in" >"$WORK/$name.out" 2>"$WORK/$name.err" &
    READER_PID[$name]=$!
    PIDS+=("$!")
    sleep infinity >"$WORK/$name.in" &
    PIDS+=("$!")
    READER_HOLD[$name]=$!
    wait_for 15 grep -qx -e ready -e shown "$WORK/$name.out" || {
        echo "wayland session: $name did not start: $(tail -n 3 "$WORK/$name.err")" >&2
        return 1
    }
}
declare -A READER_HOLD

stop_reader() { # name
    stop_pid "${READER_HOLD[$1]}" "${READER_PID[$1]}"
}

# Sends a command and waits for the answer line it adds.
ask() { # name command
    local before
    before=$(wc -l <"$WORK/$1.out")
    echo "$2" >"$WORK/$1.in"
    wait_for 5 sh -c "[ \$(wc -l <'$WORK/$1.out') -gt $before ]" || return 1
    tail -n 1 "$WORK/$1.out"
}

mutter_serves_remote_desktop() {
    as_user busctl --user list 2>/dev/null | grep -q '^org.gnome.Mutter.RemoteDesktop '
}
