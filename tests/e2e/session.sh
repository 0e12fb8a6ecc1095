# shellcheck shell=bash
# A private desktop session for the end-to-end checks and the measurements: Xvfb on a display
# number of its own, a session bus (which brings up the accessibility bus) and openbox. Sourced;
# every process it starts is recorded in PIDS and stopped by process id on exit.
WORK=$(mktemp -d /tmp/focusprobe-desktop.XXXXXX)
PIDS=()

# Children of a process (activated bus services), deepest first, by process id.
descendants() {
    local child
    for child in $(pgrep -P "$1" 2>/dev/null); do
        descendants "$child"
        echo "$child"
    done
}

cleanup() {
    exec 7>&- 8>&- 2>/dev/null
    local i pid
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        pid=${PIDS[i]}
        for child in $(descendants "$pid"); do kill "$child" 2>/dev/null; done
        kill "$pid" 2>/dev/null
    done
    sleep 0.3
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill -9 "${PIDS[i]}" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

wait_for() { # seconds command...
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        ((SECONDS >= deadline)) && return 1
        sleep 0.2
    done
}

# A display number nobody uses: FOCUSPROBE_DISPLAY_NUMBER when set (runs that share a machine
# each get their own; it must be free), else one picked at random from 90 up.
free_display_number() { # [offset]
    local number
    if [[ -n ${FOCUSPROBE_DISPLAY_NUMBER:-} ]]; then
        number=$((FOCUSPROBE_DISPLAY_NUMBER + ${1:-0}))
        if [[ -e /tmp/.X11-unix/X$number || -e /tmp/.X$number-lock ]]; then
            echo "desktop session: display :$number is taken" >&2
            return 1
        fi
    else
        number=$((90 + RANDOM % 400))
        while [[ -e /tmp/.X11-unix/X$number || -e /tmp/.X$number-lock ]]; do number=$((number + 1)); done
    fi
    echo "$number"
}

start_session() {
    local number
    number=$(free_display_number 0) || return 1
    export DISPLAY=:$number
    export HOME=$WORK/home XDG_RUNTIME_DIR=$WORK/run XDG_CONFIG_HOME=$WORK/home/.config XDG_CACHE_HOME=$WORK/home/.cache
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    unset NO_AT_BRIDGE SPEECHD_ADDRESS

    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    PIDS+=("$XVFB_PID")
    wait_for 10 xprop -root -display "$DISPLAY" || { echo "desktop session: Xvfb did not start" >&2; return 1; }

    dbus-daemon --session --nofork --print-address=3 3>"$WORK/bus-address" >/dev/null 2>&1 &
    SESSION_BUS_PID=$!
    PIDS+=("$SESSION_BUS_PID")
    wait_for 5 test -s "$WORK/bus-address" || { echo "desktop session: no session bus" >&2; return 1; }
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$WORK/bus-address")
    export DBUS_SESSION_BUS_ADDRESS
    # Starts the accessibility bus, then asks toolkits to expose their trees.
    A11Y=$(busctl --user call org.a11y.Bus /org/a11y/bus org.a11y.Bus GetAddress | cut -d'"' -f2)
    [[ $A11Y == unix:* ]] || { echo "desktop session: no accessibility bus" >&2; return 1; }
    busctl --user set-property org.a11y.Bus /org/a11y/bus org.a11y.Status IsEnabled b true

    WM_PID=
    ensure_window_manager || return 1
}

# openbox now and then fails to open a display that answers everyone else; start it again then.
ensure_window_manager() {
    for _ in 1 2 3; do
        if [[ -n $WM_PID ]] && kill -0 "$WM_PID" 2>/dev/null; then
            return 0
        fi
        [[ -n $WM_PID ]] && echo "desktop session: openbox exited ($(tail -n 1 "$WORK/openbox.log")); starting it again" >&2
        openbox --sm-disable >>"$WORK/openbox.log" 2>&1 &
        WM_PID=$!
        PIDS+=("$WM_PID")
        wait_for 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window'
        sleep 0.5
    done
    kill -0 "$WM_PID" 2>/dev/null || { echo "desktop session: no window manager" >&2; return 1; }
}
