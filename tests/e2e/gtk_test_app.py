#!/usr/bin/python3
"""A small GTK 3 window with the widgets the end-to-end checks focus: an entry, a multi-line text
view, buttons, a read-only entry and an editable combo box. With --filler N it also carries N
labels ahead of the text view, for a large accessibility tree."""

import argparse
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def build(window, filler):
    outer = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
    window.add(outer)

    entry = Gtk.Entry(name="entry")
    entry.set_text("hello")
    outer.pack_start(entry, False, False, 0)

    readonly = Gtk.Entry(name="readonly")
    readonly.set_text("fixed")
    readonly.set_editable(False)
    outer.pack_start(readonly, False, False, 0)

    combo = Gtk.ComboBoxText.new_with_entry()
    combo.append_text("one")
    combo.append_text("two")
    combo.get_child().set_text("one")
    outer.pack_start(combo, False, False, 0)

    buttons = Gtk.Box(spacing=4)
    send = Gtk.Button(label="Send")
    clear = Gtk.Button(label="Clear")
    buttons.pack_start(send, False, False, 0)
    buttons.pack_start(clear, False, False, 0)
    outer.pack_start(buttons, False, False, 0)

    if filler > 0:
        # Rows of labels ahead of the composer, so a breadth-first walk meets them first.
        grid = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
        per_row = 50
        for row_start in range(0, filler, per_row):
            row = Gtk.Box()
            for i in range(row_start, min(row_start + per_row, filler)):
                row.pack_start(Gtk.Label(label=str(i)), False, False, 0)
            grid.pack_start(row, False, False, 0)
        scroller = Gtk.ScrolledWindow()
        scroller.set_min_content_height(120)
        scroller.add(grid)
        outer.pack_start(scroller, False, False, 0)

    view = Gtk.TextView(name="composer")
    view.get_buffer().set_text("draft text")
    view.set_size_request(400, 150)
    outer.pack_start(view, True, True, 0)

    return {"entry": entry, "readonly": readonly, "combo": combo.get_child(), "button": send, "textview": view}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--focus", default="entry")
    parser.add_argument("--filler", type=int, default=0)
    parser.add_argument("--title", default="focusprobe test window")
    options = parser.parse_args()

    GLib.set_prgname("focusprobe-gtk-test")
    GLib.set_application_name("Focusprobe GTK Test")
    app = Gtk.Application(application_id="org.focusprobe.GtkTest")

    def activate(application):
        window = Gtk.ApplicationWindow(application=application, title=options.title)
        window.set_default_size(600, 500)
        widgets = build(window, options.filler)
        window.show_all()
        widgets[options.focus].grab_focus()

        # Commands on standard input move the focus, so one running app serves every check.
        def on_stdin(_source, _condition):
            line = sys.stdin.readline()
            if not line:
                application.quit()
                return False
            name = line.strip()
            if name == "entry-reset":
                widgets["entry"].set_text("hello")
            elif name in widgets:
                window.present()
                widgets[name].grab_focus()
            return True

        GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_stdin)

    app.connect("activate", activate)
    app.run([])


if __name__ == "__main__":
    main()
