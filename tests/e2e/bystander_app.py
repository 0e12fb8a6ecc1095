#!/usr/bin/python3
"""An ordinary GTK 3 application beside the hostile one: a wide read-only entry and a focused
button. A composer search that leaves the hostile application finds the entry here; every change
of this window's focus and activity is logged ("focus <name>", "active"), so a check can tell
whether anything reached into it."""

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    GLib.set_prgname("focusprobe-bystander")
    window = Gtk.Window(title="focusprobe bystander window")
    window.set_default_size(600, 200)
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
    window.add(box)

    readonly = Gtk.Entry(name="readonly")
    readonly.set_text("not yours")
    readonly.set_editable(False)
    readonly.set_size_request(560, 60)
    box.pack_start(readonly, False, False, 0)
    button = Gtk.Button(label="Archive", name="button")
    box.pack_start(button, False, False, 0)

    def on_focus(_window, widget):
        print("focus", widget.get_name() if widget else "none", flush=True)

    def on_active(_window, _param):
        if window.is_active():
            print("active", flush=True)

    window.connect("set-focus", on_focus)
    window.connect("notify::is-active", on_active)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    button.grab_focus()
    print("ready", window.get_window().get_xid(), flush=True)
    Gtk.main()


if __name__ == "__main__":
    main()
