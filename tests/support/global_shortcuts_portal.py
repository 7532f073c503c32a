#!/usr/bin/python3
# A desktop's GlobalShortcuts portal as far as a program sees it, for tests on a private session bus:
# no portal of that kind exists on this machine (Debian 12's xdg-desktop-portal 1.16 has none).
# It owns org.freedesktop.portal.Desktop, answers CreateSession and BindShortcuts through Request
# objects (the keys granted are the ones asked for), writes each BindShortcuts call to LOG as a line
# of JSON, and presses a shortcut when the test calls its Press(id) method
# (interface io.github.quorvane.TestPortal): Activated, then Deactivated.
#
#   global_shortcuts_portal.py LOG
import json
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PATH = "/org/freedesktop/portal/desktop"
IFACE = "org.freedesktop.portal.GlobalShortcuts"


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass


class Session(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Session")
    def Close(self):
        self.remove_from_connection()


class Portal(dbus.service.Object):
    def __init__(self, bus, log):
        super().__init__(bus, PATH)
        self.bus, self.log, self.session = bus, log, None

    def answer(self, sender, token, results):
        """The Request object for the caller's token, answered once the call has returned."""
        path = "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"), token)
        request = Request(self.bus, path)
        GLib.idle_add(lambda: (request.Response(0, results), request.remove_from_connection())[-1])
        return dbus.ObjectPath(path)

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == IFACE and name == "version":
            return dbus.UInt32(1, variant_level=1)
        raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.UnknownProperty")

    @dbus.service.method(IFACE, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender):
        self.session = "%s/session/%s/%s" % (PATH, sender[1:].replace(".", "_"), options["session_handle_token"])
        Session(self.bus, self.session)
        return self.answer(sender, options["handle_token"], {"session_handle": dbus.String(self.session)})

    @dbus.service.method(IFACE, in_signature="oa(sa{sv})sa{sv}", out_signature="o", sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender):
        asked = {str(i): {str(k): str(v) for k, v in props.items()} for i, props in shortcuts}
        with open(self.log, "a") as f:
            f.write(json.dumps({"session": str(session), "shortcuts": asked}) + "\n")
        granted = dbus.Array(
            [(i, {"description": p.get("description", ""), "trigger_description": p.get("preferred_trigger", "")})
             for i, p in asked.items()], signature="(sa{sv})")
        return self.answer(sender, options["handle_token"], {"shortcuts": granted})

    @dbus.service.signal(IFACE, signature="osta{sv}")
    def Activated(self, session, shortcut, timestamp, options):
        pass

    @dbus.service.signal(IFACE, signature="osta{sv}")
    def Deactivated(self, session, shortcut, timestamp, options):
        pass

    @dbus.service.method("io.github.quorvane.TestPortal", in_signature="s")
    def Press(self, shortcut):
        now = dbus.UInt64(int(time.time() * 1000))
        self.Activated(dbus.ObjectPath(self.session), shortcut, now, {})
        self.Deactivated(dbus.ObjectPath(self.session), shortcut, now, {})


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    Portal(bus, sys.argv[1])
    name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus, do_not_queue=True)
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    main()
