#!/usr/bin/python3
"""A stand-in for systemd-localed on a private system bus: Mutter takes its keymap from
org.freedesktop.locale1's X11Layout and X11Variant when it starts. Usage: locale1.py LAYOUT [VARIANT]"""

import sys

from gi.repository import Gio, GLib

XML = """
<node>
  <interface name="org.freedesktop.locale1">
    <property name="Locale" type="as" access="read"/>
    <property name="VConsoleKeymap" type="s" access="read"/>
    <property name="VConsoleKeymapToggle" type="s" access="read"/>
    <property name="X11Layout" type="s" access="read"/>
    <property name="X11Model" type="s" access="read"/>
    <property name="X11Variant" type="s" access="read"/>
    <property name="X11Options" type="s" access="read"/>
  </interface>
</node>
"""


def main():
    layout = sys.argv[1] if len(sys.argv) > 1 else "us"
    variant = sys.argv[2] if len(sys.argv) > 2 else ""
    values = {
        "Locale": GLib.Variant("as", ["LANG=C.UTF-8"]),
        "VConsoleKeymap": GLib.Variant("s", ""),
        "VConsoleKeymapToggle": GLib.Variant("s", ""),
        "X11Layout": GLib.Variant("s", layout),
        "X11Model": GLib.Variant("s", "pc105"),
        "X11Variant": GLib.Variant("s", variant),
        "X11Options": GLib.Variant("s", ""),
    }
    bus = Gio.bus_get_sync(Gio.BusType.SYSTEM, None)
    info = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]
    bus.register_object("/org/freedesktop/locale1", info, None, lambda *args: values[args[4]], None)
    loop = GLib.MainLoop()

    def acquired(*_args):
        print("ready", flush=True)

    Gio.bus_own_name_on_connection(bus, "org.freedesktop.locale1", 0, acquired, lambda *_args: loop.quit())
    loop.run()


if __name__ == "__main__":
    main()
