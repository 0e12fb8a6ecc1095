#!/usr/bin/python3
"""Ends a running `focusprobe paste` with a signal at a chosen moment and reports which keys the
X server still holds down afterwards, for scripts/e2e-linux-faults.sh.

usage: paste_signals.py BINARY SIGNAL MOMENT
  MOMENT  "first-key": as soon as the server reports any key down (polled with XQueryKeymap);
          a number: that many milliseconds after the start.

Prints "released" when no key is down once the process has ended, else "held <keycodes>"; a
second line "ended <how>" says whether the signal or the end of the command came first."""

import ctypes
import ctypes.util
import signal
import subprocess
import sys
import time


def keys_down(xlib, display):
    keymap = (ctypes.c_char * 32)()
    xlib.XQueryKeymap(display, keymap)
    return [code for code in range(8, 256) if keymap.raw[code // 8] & (1 << (code % 8))]


def main():
    binary, signame, moment = sys.argv[1], sys.argv[2], sys.argv[3]
    xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XQueryKeymap.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    display = xlib.XOpenDisplay(None)
    if not display:
        print("no display")
        return 1
    if keys_down(xlib, display):
        print("held before the start %s" % keys_down(xlib, display))
        return 1
    process = subprocess.Popen([binary, "paste"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    start = time.monotonic()
    if moment == "first-key":
        while process.poll() is None and not keys_down(xlib, display) and time.monotonic() - start < 5:
            pass
    else:
        time.sleep(max(0.0, float(moment) / 1000 - (time.monotonic() - start)))
    process.send_signal(getattr(signal, signame))
    _, err = process.communicate(timeout=10)
    status = process.returncode
    # What the server holds once the process is gone.
    down = keys_down(xlib, display)
    print("released" if not down else "held %s" % " ".join(map(str, down)))
    print("ended %s" % ("by %s" % signal.Signals(-status).name if status < 0 else "with status %d" % status))
    if err:
        print("stderr %r" % err[:200])
    return 0


sys.exit(main())
