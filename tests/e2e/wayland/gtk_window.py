#!/usr/bin/python3
"""The GTK 3 test window of tests/e2e/gtk_test_app.py under an application id and title of its own,
so that two of them run as two applications on one Wayland session. Standard input moves the
focus as in that app; "text NAME" prints the widget's text, "active" whether the window is
active. Each command is answered with one line."""

import argparse
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from gtk_test_app import build  # noqa: E402


def text_of(widget):
    if isinstance(widget, Gtk.TextView):
        buffer = widget.get_buffer()
        return buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), False)
    return widget.get_text()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app-id", default="org.focusprobe.WaylandOne")
    parser.add_argument("--prgname", default="focusprobe-wayland-one")
    parser.add_argument("--title", default="focusprobe wayland one")
    parser.add_argument("--focus", default="entry")
    options = parser.parse_args()

    GLib.set_prgname(options.prgname)
    app = Gtk.Application(application_id=options.app_id)

    def activate(application):
        window = Gtk.ApplicationWindow(application=application, title=options.title)
        window.set_default_size(600, 400)
        widgets = build(window, 0)
        window.show_all()
        widgets[options.focus].grab_focus()

        def on_stdin(_source, _condition):
            line = sys.stdin.readline()
            if not line:
                application.quit()
                return False
            words = line.split()
            if not words:
                return True
            if words[0] == "entry-reset":
                widgets["entry"].set_text("hello")
                print("ok", flush=True)
            elif words[0] == "active":
                print(window.is_active(), flush=True)
            elif words[0] == "text" and len(words) > 1 and words[1] in widgets:
                print(text_of(widgets[words[1]]), flush=True)
            elif words[0] in widgets:
                widgets[words[0]].grab_focus()
                if words[0] == "entry":
                    widgets["entry"].set_position(-1)
                print("ok", flush=True)
            else:
                print("failed", flush=True)
            return True

        GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_stdin)
        print("shown", flush=True)

    app.connect("activate", activate)
    app.run([])


if __name__ == "__main__":
    main()
