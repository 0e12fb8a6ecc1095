#!/usr/bin/python3
"""A tabbed GTK 3 window in the shape of a mail client: a small recipient entry above a notebook
whose current page (the second) holds the composer, a text view, and a focused Send button. Each
focus change is logged ("focus <name>")."""

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    GLib.set_prgname("focusprobe-tabbed-test")
    app = Gtk.Application(application_id="org.focusprobe.TabbedTest")

    def activate(application):
        window = Gtk.ApplicationWindow(application=application, title="focusprobe tabbed window")
        window.set_default_size(600, 420)
        outer = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
        window.add(outer)

        recipient = Gtk.Entry(name="recipient")
        recipient.set_text("to")
        recipient.set_width_chars(8)
        outer.pack_start(recipient, False, False, 0)

        notebook = Gtk.Notebook()
        notebook.append_page(Gtk.Label(label="No new messages"), Gtk.Label(label="Inbox"))
        composer = Gtk.TextView(name="composer")
        composer.get_buffer().set_text("draft in tab")
        composer.set_size_request(500, 220)
        notebook.append_page(composer, Gtk.Label(label="Compose"))
        outer.pack_start(notebook, True, True, 0)

        send = Gtk.Button(label="Send", name="send")
        outer.pack_start(send, False, False, 0)

        def on_focus(_window, widget):
            print("focus", widget.get_name() if widget else "none", flush=True)

        window.connect("set-focus", on_focus)
        window.show_all()
        notebook.set_current_page(1)
        send.grab_focus()
        print("ready", window.get_window().get_xid(), flush=True)

    app.connect("activate", activate)
    app.run([])


if __name__ == "__main__":
    main()
