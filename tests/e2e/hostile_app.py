#!/usr/bin/python3
"""An accessible application that answers the AT-SPI calls itself, the way a broken or malicious
peer might, for the fault checks of scripts/e2e-linux-faults.sh.

It owns an X window (a bare GTK window with the toolkit's own accessibility switched off, so the
window manager reports it as frontmost with its _NET_WM_PID) and joins the accessibility bus under
the registry's desktop root, where it serves a tree chosen by --scenario:

  cycle      the focused element is an editable panel whose parent's parent is itself
  chain      the focused element is an editable panel with an endless chain of fresh parents
  huge       a panel claims 1,000,000 children (all labels) beside a small composer
  desktop    the window lists the desktop (the registry's root) among its children
  foreign    the window lists another application's root among its children
  slow       every call is answered 50-200 ms late, one at a time
  errors     every call is answered with an error
  flood      each caller's first call is answered after 80 MB of signals it never asked for
  linebreak  a well-behaved tree under a name with a carriage return and a line feed
  dies       the process ends in the middle of a composer walk, on the first children read
  mix        most of the above in one tree
  negative   two entries claim negative sizes (-2^31 x -2^31, -1 x -2^31) beside a 400 x 30 composer

Calls are answered one at a time, in arrival order, by one worker thread, as a single-threaded
toolkit would. Prints "ready <window id>" once it is listed, and one line per focus request
("grab <path>"); each call it is asked goes to standard error."""

import argparse
import os
import queue
import random
import struct
import sys
import threading
import time
import warnings

os.environ["NO_AT_BRIDGE"] = "1"  # the tree below is the only one this process offers

import gi  # noqa: E402

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import GdkX11, Gio, GLib, Gtk  # noqa: E402,F401

ROOT = "/org/a11y/atspi/accessible/root"
REGISTRY = "org.a11y.atspi.Registry"
ATSPI = "org.a11y.atspi."
ANSWERED = {ATSPI + name for name in ("Accessible", "Component", "Text", "EditableText", "Value", "Action",
                                       "Collection", "Application")} | {"org.freedesktop.DBus.Properties"}

# AtspiRole and AtspiStateType numbers.
ROLE = {"application": 75, "frame": 23, "panel": 39, "text": 61, "label": 29, "push button": 43}
ACTIVE, EDITABLE, ENABLED, FOCUSABLE, FOCUSED, MULTI_LINE, SENSITIVE, SHOWING, VISIBLE = 1, 7, 8, 11, 12, 17, 24, 25, 30
SHOWN = {ENABLED, SENSITIVE, SHOWING, VISIBLE}

HUGE = 1_000_000


class Failure(Exception):
    """Answered as a D-Bus error."""


class Node:
    def __init__(self, role, states=(), name="", children=(), parent=None, text=None, extents=(0, 0, 0, 0),
                 child_count=None, errors=False, slow=False):
        self.role = ROLE[role]
        self.states = set(states) | SHOWN
        self.name = name
        self.children = list(children)
        self.parent = parent
        self.text = text
        self.extents = extents
        self.child_count = child_count
        self.errors = errors
        self.slow = slow


def children_variant(bus, paths):
    """(a(so)) for many children, serialised directly: building a million tuples through PyGObject
    takes half a minute, the bytes one second."""
    name = bus.encode() + b"\0"
    items = [name + path.encode() + b"\0" + bytes([len(name)]) for path in paths]
    ends = []
    end = 0
    for item in items:
        end += len(item)
        ends.append(end)
    body = b"".join(items)
    width = 1
    while len(body) + len(items) * width >= 1 << (8 * width):
        width *= 2
    offsets = struct.pack("<%d%s" % (len(items), {1: "B", 2: "H", 4: "I", 8: "Q"}[width]), *ends)
    return GLib.Variant.new_from_bytes(GLib.VariantType.new("(a(so))"), GLib.Bytes.new(body + offsets), True)


class HostileTree:
    def __init__(self, scenario, connection, desktop, foreign_pid):
        self.scenario = scenario
        self.foreign_pid = foreign_pid
        self.connection = connection
        self.me = connection.get_unique_name()
        self.desktop = desktop
        self.delays = random.Random(11)
        self.huge_reply = None
        self.bystander = None
        self.flooded = set()
        self.nodes = {}
        self.focus = None
        self.flood_body = GLib.Variant.new_from_bytes(
            GLib.VariantType.new("(ay)"), GLib.Bytes.new(b"\1" * 262144), True)
        getattr(self, "build_" + scenario.replace("-", "_"))()

    # --- Trees -------------------------------------------------------------------------------

    def ref(self, path):
        return (self.me, path)

    def add(self, path, node):
        self.nodes[path] = node
        return self.ref(path)

    def window(self, children, name="focusprobe-hostile"):
        self.add(ROOT, Node("application", name=name, children=[self.ref("/frame")], parent=self.desktop))
        self.add("/frame", Node("frame", {ACTIVE}, "focusprobe hostile window", children, self.ref(ROOT),
                                extents=(0, 0, 600, 400)))

    def button(self, path="/button"):
        return self.add(path, Node("push button", {FOCUSABLE}, "Send", parent=self.ref("/frame"),
                                   extents=(10, 10, 80, 30)))

    def composer(self, size=(400, 200)):
        return self.add("/composer", Node("text", {EDITABLE, FOCUSABLE, MULTI_LINE}, "composer",
                                          parent=self.ref("/frame"), text="hostile draft",
                                          extents=(10, 50) + size))

    def editable_panel(self, path, parent, size=(300, 100)):
        return self.add(path, Node("panel", {EDITABLE, FOCUSABLE}, "editing", parent=parent, text="editing",
                                   extents=(10, 50) + size))

    def huge_panel(self):
        return self.add("/huge", Node("panel", name="list", parent=self.ref("/frame"), child_count=HUGE,
                                      extents=(10, 300, 500, 90)))

    def build_cycle(self):
        panel = self.editable_panel("/cycle/a", self.ref("/cycle/b"))
        self.editable_panel("/cycle/b", panel)
        self.window([self.button(), panel])
        self.focus = "/cycle/a"

    def build_chain(self):
        self.window([self.button(), self.ref("/chain/0")])
        self.focus = "/chain/0"

    def build_huge(self):
        self.window([self.button(), self.huge_panel(), self.composer()])
        self.focus = "/button"

    def build_desktop(self):
        self.window([self.button(), self.composer((100, 20)), self.desktop_ref()])
        self.focus = "/button"

    def build_foreign(self):
        self.window([self.button(), self.composer((100, 20)), ("foreign", ROOT)])
        self.focus = "/button"

    def build_slow(self):
        panels = []
        for i in range(10):
            labels = [self.add("/slow/%d/%d" % (i, j), Node("label", name="label", parent=self.ref("/slow/%d" % i)))
                      for j in range(20)]
            panels.append(self.add("/slow/%d" % i, Node("panel", children=labels, parent=self.ref("/frame"))))
        self.window([self.button()] + panels + [self.composer()])
        self.focus = "/button"

    def build_errors(self):
        self.window([self.button(), self.composer()])
        self.focus = "/button"

    def build_flood(self):
        self.window([self.button(), self.composer()])
        self.focus = "/composer"

    def build_dies(self):
        self.build_slow()

    def build_linebreak(self):
        self.window([self.button(), self.composer()], name="focusprobe\r\nhostile")
        self.focus = "/composer"

    def build_negative(self):
        entries = [self.add("/negative/%d" % i, Node("text", {EDITABLE, FOCUSABLE}, "negative", parent=self.ref("/frame"),
                                                     text="negative", extents=(10, 10) + size))
                   for i, size in enumerate([(-2 ** 31, -2 ** 31), (-1, -2 ** 31)])]
        self.window([self.button()] + entries + [self.composer((400, 30))])
        self.focus = "/button"

    def build_mix(self):
        broken = self.add("/broken", Node("panel", errors=True))
        cycle = self.editable_panel("/cycle/a", self.ref("/cycle/b"), size=(1, 1))
        self.editable_panel("/cycle/b", cycle, size=(1, 1))
        labels = [self.add("/slow/%d" % i, Node("label", name="late", slow=True)) for i in range(5)]
        late = self.add("/late", Node("panel", children=labels, slow=True))
        # The registry by its unique name this time, not by the well-known one.
        owner = self.connection.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                          "GetNameOwner", GLib.Variant("(s)", (REGISTRY,)), None,
                                          Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
        self.window([self.composer(), broken, self.huge_panel(), (owner, ROOT), ("foreign", ROOT), cycle, late,
                     self.ref("/chain/0")])
        self.focus = "/chain/0"

    def desktop_ref(self):
        return (REGISTRY, ROOT)

    # --- Lookups -----------------------------------------------------------------------------

    def node(self, path):
        if path in self.nodes:
            return self.nodes[path]
        if path.startswith("/chain/"):
            # A fresh editable parent every time: the chain never ends.
            index = int(path[len("/chain/"):])
            return Node("panel", {EDITABLE, FOCUSABLE}, "chain %d" % index, parent=self.ref("/chain/%d" % (index + 1)),
                        text="editing", extents=(10, 50, 1, 1))
        if path.startswith("/h/") and self.scenario in ("huge", "mix"):
            return Node("label", name="item", parent=self.ref("/huge"), extents=(0, 0, 10, 10))
        raise Failure("no such object")

    def resolve(self, reference):
        """The reference with the other application's bus name filled in; None while it is not
        listed."""
        if reference[0] != "foreign":
            return reference
        if self.bystander is None:
            apps = self.connection.call_sync(REGISTRY, ROOT, ATSPI + "Accessible", "GetChildren", None, None,
                                             Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
            others = [bus for bus, _ in apps if bus != self.me and self.pid_of(bus) == self.foreign_pid]
            if not others:
                return None
            self.bystander = others[0]
        return (self.bystander, reference[1])

    def pid_of(self, bus):
        return self.connection.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                         "GetConnectionUnixProcessID", GLib.Variant("(s)", (bus,)), None,
                                         Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]

    def children(self, path, node):
        if node.child_count is not None:
            return None
        return [child for child in map(self.resolve, node.children) if child is not None]

    def states(self, path, node):
        states = set(node.states)
        if path == self.focus:
            states.add(FOCUSED)
        return states

    # --- Answers -----------------------------------------------------------------------------

    def answer(self, message):
        path = message.get_path()
        interface = message.get_interface()
        member = message.get_member()
        args = message.get_body().unpack() if message.get_body() is not None else ()
        if self.scenario == "errors":
            raise Failure("refused")
        node = self.node(path)
        if node.errors:
            raise Failure("refused")
        if node.slow or self.scenario == "slow":
            threading.Event().wait(self.delays.uniform(0.05, 0.2))
        if self.scenario == "dies" and path == "/frame" and member == "GetChildren":
            os._exit(0)
        if self.scenario == "flood" and message.get_sender() not in self.flooded:
            self.flooded.add(message.get_sender())
            self.flood(message.get_sender())
        if interface == "org.freedesktop.DBus.Properties":
            if member == "Get":
                return GLib.Variant("(v)", (self.property(path, node, args[0], args[1]),))
            if member == "GetAll" and args[0] == ATSPI + "Accessible":
                return GLib.Variant("(a{sv})", ({name: self.property(path, node, args[0], name)
                                                 for name in ("Name", "Description", "Parent", "ChildCount")},))
            raise Failure("unknown property call")
        method = getattr(self, "call_%s_%s" % (interface[len(ATSPI):], member), None)
        if method is None:
            raise Failure("unknown method")
        return method(path, node, *args)

    def property(self, path, node, interface, name):
        if interface == ATSPI + "Accessible":
            if name == "Name":
                return GLib.Variant("s", node.name)
            if name == "Description":
                return GLib.Variant("s", "")
            if name == "Parent":
                return GLib.Variant("(so)", node.parent or ("", "/org/a11y/atspi/null"))
            if name == "ChildCount":
                count = node.child_count if node.child_count is not None else len(node.children)
                return GLib.Variant("i", count)
        if interface == ATSPI + "Text" and node.text is not None:
            if name == "CharacterCount":
                return GLib.Variant("i", len(node.text))
            if name == "CaretOffset":
                return GLib.Variant("i", 0)
        if interface == ATSPI + "Application" and path == ROOT:
            if name == "Id":
                return GLib.Variant("i", 1)
            return GLib.Variant("s", {"ToolkitName": "hostile", "Version": "1", "AtspiVersion": "2.1"}.get(name, ""))
        raise Failure("no such property")

    def call_Accessible_GetRole(self, path, node):
        return GLib.Variant("(u)", (node.role,))

    def call_Accessible_GetRoleName(self, path, node):
        return GLib.Variant("(s)", ("role %d" % node.role,))

    def call_Accessible_GetState(self, path, node):
        words = [0, 0]
        for bit in self.states(path, node):
            words[bit // 32] |= 1 << (bit % 32)
        return GLib.Variant("(au)", (words,))

    def call_Accessible_GetChildren(self, path, node):
        children = self.children(path, node)
        if children is None:
            if self.huge_reply is None:
                self.huge_reply = children_variant(self.me, ("/h/%d" % i for i in range(node.child_count)))
            return self.huge_reply
        return GLib.Variant("(a(so))", (children,))

    def call_Accessible_GetChildAtIndex(self, path, node, index):
        children = self.children(path, node)
        if children is None:
            if not 0 <= index < node.child_count:
                raise Failure("no such child")
            return GLib.Variant("((so))", (self.ref("/h/%d" % index),))
        if not 0 <= index < len(children):
            raise Failure("no such child")
        return GLib.Variant("((so))", (children[index],))

    def call_Accessible_GetIndexInParent(self, path, node):
        return GLib.Variant("(i)", (0,))

    def call_Accessible_GetAttributes(self, path, node):
        return GLib.Variant("(a{ss})", ({},))

    def call_Accessible_GetInterfaces(self, path, node):
        interfaces = [ATSPI + "Accessible", ATSPI + "Component", ATSPI + "Collection"]
        if node.text is not None:
            interfaces += [ATSPI + "Text", ATSPI + "EditableText"]
        return GLib.Variant("(as)", (interfaces,))

    def call_Accessible_GetApplication(self, path, node):
        return GLib.Variant("((so))", (self.ref(ROOT),))

    def call_Accessible_GetRelationSet(self, path, node):
        return GLib.Variant("(a(ua(so)))", ([],))

    def call_Collection_GetMatches(self, path, node, rule, sort, count, traverse):
        wanted = {bit for bit in range(64) if rule[0][bit // 32] >> (bit % 32) & 1} if len(rule[0]) >= 2 else set()
        if traverse:
            # The application knows where its focus is; anything else it searches for it does not have.
            found = [self.ref(self.focus)] if wanted == {FOCUSED} and self.focus else []
        else:
            children = self.children(path, node) or []  # a claimed million are labels: none matches
            found = []
            for child in children:
                if child[0] != self.me:
                    continue  # another application's nodes are not this one's to match
                try:
                    child_node = self.node(child[1])
                except Failure:
                    continue
                if wanted <= self.states(child[1], child_node):
                    found.append(child)
        return GLib.Variant("(a(so))", (found[:count] if count > 0 else found,))

    def call_Component_GetExtents(self, path, node, coord_type):
        return GLib.Variant("((iiii))", (node.extents,))

    def call_Component_GrabFocus(self, path, node):
        if FOCUSABLE not in node.states:
            return GLib.Variant("(b)", (False,))
        self.focus = path
        print("grab", path, flush=True)
        return GLib.Variant("(b)", (True,))

    def call_Text_GetText(self, path, node, start, end):
        if node.text is None:
            raise Failure("no text")
        return GLib.Variant("(s)", (node.text[start:] if end < 0 else node.text[start:end],))

    def flood(self, sender):
        # 80 MB of signals nobody subscribed to, sent straight to the caller ahead of its first
        # answer: a client that keeps them all while it waits grows past any bound.
        for _ in range(320):
            signal = Gio.DBusMessage.new_signal("/flood", ATSPI + "Event.Object", "PropertyChange")
            signal.set_destination(sender)
            signal.set_body(self.flood_body)
            self.connection.send_message(signal, Gio.DBusSendMessageFlags.NONE)


def serve(tree, calls):
    started = time.monotonic()
    while True:
        message = calls.get()
        # Every call on standard error, for whoever wonders what a client asked.
        print("%.3f %s %s.%s" % (time.monotonic() - started, message.get_path(), message.get_interface(),
                                 message.get_member()), file=sys.stderr, flush=True)
        try:
            reply = Gio.DBusMessage.new_method_reply(message)
            reply.set_body(tree.answer(message))
        except Failure as failure:
            reply = Gio.DBusMessage.new_method_error_literal(message, "org.freedesktop.DBus.Error.Failed", str(failure))
        except Exception as error:  # a fault of this script still answers, and says so
            print("error", type(error).__name__, error, file=sys.stderr, flush=True)
            reply = Gio.DBusMessage.new_method_error_literal(message, "org.freedesktop.DBus.Error.Failed", "internal")
        try:
            tree.connection.send_message(reply, Gio.DBusSendMessageFlags.NONE)
        except GLib.Error:
            pass  # the caller has gone


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scenario", required=True,
                        choices=["cycle", "chain", "huge", "desktop", "foreign", "slow", "errors", "flood", "linebreak",
                                 "dies", "mix", "negative"])
    parser.add_argument("--foreign-pid", type=int, default=0, help="the application a foreign reference names")
    options = parser.parse_args()

    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None, None,
                                Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
    connection = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)

    calls = queue.Queue()

    def on_message(_connection, message, incoming):
        if incoming and message.get_message_type() == Gio.DBusMessageType.METHOD_CALL \
                and message.get_interface() in ANSWERED:
            calls.put(message)
            return None
        return message

    connection.add_filter(on_message)
    desktop = connection.call_sync(REGISTRY, ROOT, ATSPI + "Socket", "Embed",
                                   GLib.Variant("((so))", ((connection.get_unique_name(), ROOT),)), None,
                                   Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
    tree = HostileTree(options.scenario, connection, tuple(desktop), options.foreign_pid)
    threading.Thread(target=serve, args=(tree, calls), daemon=True).start()

    window = Gtk.Window(title="focusprobe hostile window")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # the one way to name the class
        window.set_wmclass("focusprobe-hostile", "org.focusprobe.Hostile")
    window.set_default_size(600, 400)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    window.present()
    print("ready", window.get_window().get_xid(), flush=True)
    Gtk.main()


if __name__ == "__main__":
    main()
