#!/usr/bin/python3
"""The reference for the measurements: the same queries written the usual way, with libatspi
(through its GObject binding, as pyatspi uses it) or with one plain D-Bus call at a time.

  reference.py info           the verdict of the focused element, after the same 100 ms wait (through
                              the application's search, else a walk of its active window)
  reference.py walk-atspi     the composer walk over libatspi: nodes examined within 400 ms
  reference.py walk-dbus      the same walk with serial D-Bus calls, no cache
  reference.py walk-dbus-full the serial walk without its time budget, for the counts to compare
"""

import ctypes
import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

TEXT_ENTRY = {int(role) for role in (Atspi.Role.TEXT, Atspi.Role.ENTRY, Atspi.Role.PASSWORD_TEXT)}
SKIP = {int(role) for role in (Atspi.Role.LABEL, Atspi.Role.STATIC, Atspi.Role.IMAGE, Atspi.Role.ICON,
        Atspi.Role.PUSH_BUTTON, Atspi.Role.MENU_BAR, Atspi.Role.MENU, Atspi.Role.POPUP_MENU, Atspi.Role.MENU_ITEM,
        Atspi.Role.CHECK_MENU_ITEM, Atspi.Role.RADIO_MENU_ITEM, Atspi.Role.TEAROFF_MENU_ITEM, Atspi.Role.TOOL_BAR,
        Atspi.Role.SCROLL_BAR, Atspi.Role.LINK, Atspi.Role.CHECK_BOX, Atspi.Role.TOGGLE_BUTTON,
        Atspi.Role.RADIO_BUTTON, Atspi.Role.SLIDER)}
NODE_CAP = 2500
BUDGET_MS = 400.0


def frontmost_pid():
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                       ctypes.c_long, ctypes.c_int, ctypes.c_ulong,
                                       ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                       ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong))]
    display = x11.XOpenDisplay(None)

    def cardinal(window, name):
        atom = x11.XInternAtom(display, name, 1)
        kind, fmt, count, rest = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.POINTER(ctypes.c_ulong)()
        if x11.XGetWindowProperty(display, window, atom, 0, 1, 0, 0, ctypes.byref(kind), ctypes.byref(fmt),
                                  ctypes.byref(count), ctypes.byref(rest), ctypes.byref(data)) != 0 or not data \
                or count.value == 0:
            return None
        return data[0]

    window = cardinal(x11.XDefaultRootWindow(display), b"_NET_ACTIVE_WINDOW")
    return cardinal(window, b"_NET_WM_PID") if window else None


def application(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def focused_by_walk(app):
    """Qt and GTK 4 offer no search on their root: the active window is walked, the editable
    element that claims the focus first, else the first that does."""
    frame = next((app.get_child_at_index(i) for i in range(app.get_child_count())
                  if app.get_child_at_index(i).get_state_set().contains(Atspi.StateType.ACTIVE)), None)
    queue, head, claims = [frame] if frame else [], 0, []
    while head < len(queue) and head < NODE_CAP:
        node = queue[head]
        head += 1
        states = node.get_state_set()
        if head > 1 and states.contains(Atspi.StateType.FOCUSED):
            if states.contains(Atspi.StateType.EDITABLE):
                return [node]
            claims.append(node)
        queue.extend(node.get_child_at_index(i) for i in range(node.get_child_count()))
    return claims[:1]


def info():
    pid = frontmost_pid()
    time.sleep(0.1)
    app = application(pid)
    rule = Atspi.MatchRule.new(Atspi.StateSet.new([Atspi.StateType.FOCUSED]), Atspi.CollectionMatchType.ALL,
                               {}, Atspi.CollectionMatchType.ALL, [], Atspi.CollectionMatchType.ALL, [],
                               Atspi.CollectionMatchType.ALL, False)
    try:
        found = app.get_collection_iface().get_matches(rule, Atspi.CollectionSortOrder.CANONICAL, 1, True)
    except (AttributeError, GLib.Error, NotImplementedError):
        found = focused_by_walk(app)
    if not found:
        print(json.dumps({"stage": "no_focused_element"}))
        return
    element = found[0]
    states = element.get_state_set()
    role = element.get_role()
    text = element.get_text_iface()
    editable = role in TEXT_ENTRY or states.contains(Atspi.StateType.EDITABLE)
    print(json.dumps({"pid": pid, "app": app.get_name(), "editable": editable, "role": role.value_nick,
                      "valueLen": text.get_character_count() if text else None}, separators=(",", ":")))


def walk(window, role_of, editable_of, children_of, selected_of, budget_ms=BUDGET_MS):
    start = time.time()
    queue, head, candidates = [window], 0, 0
    while head < len(queue) and head < NODE_CAP and (time.time() - start) * 1000.0 <= budget_ms:
        node = queue[head]
        head += 1
        role = role_of(node)
        if editable_of(node, role):
            candidates += 1
            continue
        # The current notebook page is entered, the other pages' tabs are not. A combo box that is
        # not editable is entered: it holds a menu, and GTK's entry when it has one.
        if role in SKIP or (role == int(Atspi.Role.PAGE_TAB) and not selected_of(node)):
            continue
        queue.extend(children_of(node))
    return {"visited": head, "candidates": candidates, "queued": len(queue),
            "ms": round((time.time() - start) * 1000.0, 1)}


def walk_atspi():
    app = application(frontmost_pid())
    window = next(app.get_child_at_index(i) for i in range(app.get_child_count())
                  if app.get_child_at_index(i).get_state_set().contains(Atspi.StateType.ACTIVE))
    result = walk(window, lambda node: int(node.get_role()),
                  lambda node, role: role in TEXT_ENTRY or node.get_state_set().contains(Atspi.StateType.EDITABLE),
                  lambda node: [node.get_child_at_index(i) for i in range(node.get_child_count())],
                  lambda node: node.get_state_set().contains(Atspi.StateType.SELECTED))
    print(json.dumps(result, separators=(",", ":")))


def walk_dbus(budget_ms=BUDGET_MS):
    pid = frontmost_pid()
    session = Gio.bus_get_sync(Gio.BusType.SESSION)
    address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None, None,
                                Gio.DBusCallFlags.NONE, 6000).unpack()[0]
    bus = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)

    def call(node, interface, method, args=None):
        return bus.call_sync(node[0], node[1], interface, method, args, None, Gio.DBusCallFlags.NONE, 6000).unpack()

    apps = call(("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"), "org.a11y.atspi.Accessible",
                "GetChildren")[0]
    app = next(a for a in apps if call(("org.freedesktop.DBus", "/org/freedesktop/DBus"), "org.freedesktop.DBus",
                                       "GetConnectionUnixProcessID", GLib.Variant("(s)", (a[0],)))[0] == pid)
    frames = call(app, "org.a11y.atspi.Accessible", "GetChildren")[0]
    # The front window as the program finds it: the active frame, else the first one.
    window = next((f for f in frames if call(f, "org.a11y.atspi.Accessible", "GetState")[0][0] & 2), frames[0])
    result = walk(window, lambda node: call(node, "org.a11y.atspi.Accessible", "GetRole")[0],
                  lambda node, role: role in TEXT_ENTRY
                  or bool(call(node, "org.a11y.atspi.Accessible", "GetState")[0][0] & (1 << 7)),
                  lambda node: call(node, "org.a11y.atspi.Accessible", "GetChildren")[0],
                  lambda node: bool(call(node, "org.a11y.atspi.Accessible", "GetState")[0][0] & (1 << 23)), budget_ms)
    print(json.dumps(result, separators=(",", ":")))


if __name__ == "__main__":
    {"info": info, "walk-atspi": walk_atspi, "walk-dbus": walk_dbus,
     "walk-dbus-full": lambda: walk_dbus(float("inf"))}[sys.argv[1]]()
