#!/usr/bin/python3
"""Key presses and clicks on the GNOME rig, as a person at the keyboard and mouse: through mutter's own
remote desktop interface, whose session lives only as long as the connection that made it.

    gnome_keys.py alt+s [return ...]   each argument one chord: modifiers and a key, joined by "+",
                                       or "click@DX,DY": the pointer moved by DX,DY, the left button
"""
import sys
import time

from gi.repository import Gio, GLib

KEYSYMS = {"alt": 0xFFE9, "ctrl": 0xFFE3, "shift": 0xFFE1, "return": 0xFF0D, "escape": 0xFF1B}
NAME = "org.gnome.Mutter.RemoteDesktop"


def call(bus, path, iface, method, args=None):
    return bus.call_sync(NAME, path, iface, method, args, None, Gio.DBusCallFlags.NONE, 5000, None)


def keysym(name):
    return KEYSYMS.get(name.lower(), ord(name[0]) if len(name) == 1 else 0)


def main(chords):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    session = call(bus, "/org/gnome/Mutter/RemoteDesktop", NAME, "CreateSession").unpack()[0]
    call(bus, session, NAME + ".Session", "Start")
    # The new virtual keyboard reaches the focused client only after a moment.
    time.sleep(0.5)
    for chord in chords:
        if chord.startswith("click@"):
            dx, dy = (float(v) for v in chord[6:].split(","))
            call(bus, session, NAME + ".Session", "NotifyPointerMotionRelative", GLib.Variant("(dd)", (dx, dy)))
            time.sleep(0.3)
            for state in (True, False):
                call(bus, session, NAME + ".Session", "NotifyPointerButton", GLib.Variant("(ib)", (0x110, state)))
                time.sleep(0.1)
            continue
        keys = [keysym(k) for k in chord.split("+")]
        for state in (True, False):
            for key in keys if state else reversed(keys):
                call(bus, session, NAME + ".Session", "NotifyKeyboardKeysym", GLib.Variant("(ub)", (key, state)))
                time.sleep(0.05)
        time.sleep(0.3)
    call(bus, session, NAME + ".Session", "Stop")


if __name__ == "__main__":
    main(sys.argv[1:])
