#!/usr/bin/python3
"""The permanent keyboard of the Mutter session: a remote-desktop session held open for the
whole run, so the seat has a keyboard before any application starts. "tap CODE" on standard
input presses and releases a key (Linux input-event code), "click X Y" clicks there; it ends at the end of its input."""

import sys

from gi.repository import Gio, GLib

NAME = "org.gnome.Mutter.RemoteDesktop"


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    manager = Gio.DBusProxy.new_sync(bus, 0, None, NAME, "/org/gnome/Mutter/RemoteDesktop", NAME, None)
    path = manager.call_sync("CreateSession", None, 0, 5000, None).unpack()[0]
    session = Gio.DBusProxy.new_sync(bus, 0, None, NAME, path, NAME + ".Session", None)
    session.call_sync("Start", None, 0, 5000, None)
    # Mutter makes the session's keyboard when it is first used: a Shift tap puts it on the seat.
    for down in (True, False):
        session.call_sync("NotifyKeyboardKeycode", GLib.Variant("(ub)", (42, down)), 0, 5000, None)
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if len(words) == 2 and words[0] == "tap":
            code = int(words[1])
            for down in (True, False):
                session.call_sync("NotifyKeyboardKeycode", GLib.Variant("(ub)", (code, down)), 0, 5000, None)
            print("ok", flush=True)
        elif len(words) == 3 and words[0] == "click":
            x, y = float(words[1]), float(words[2])
            # Mutter focuses a window when it is clicked: the pointer goes to the top-left corner,
            # then into the area where windows are placed.
            for dx, dy in ((-10000.0, -10000.0), (x, y)):
                session.call_sync("NotifyPointerMotionRelative", GLib.Variant("(dd)", (dx, dy)), 0, 5000, None)
            for down in (True, False):
                session.call_sync("NotifyPointerButton", GLib.Variant("(ib)", (0x110, down)), 0, 5000, None)
            print("ok", flush=True)
        else:
            print("failed", flush=True)
    session.call_sync("Stop", None, 0, 5000, None)


if __name__ == "__main__":
    main()
