#!/usr/bin/python3
# A desktop notification service for tests: owns org.freedesktop.Notifications
# on the session bus it is started on, prints "ready" once the name is owned,
# then one JSON line per Notify call (summary, body, actions) and answers it
# with a new id. With the argument "choose", the user then chooses the
# notification's first action at once.
import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.last = 0

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.last += 1
        print(json.dumps({"app": str(app), "summary": str(summary), "body": str(body),
                          "actions": [str(a) for a in actions]}), flush=True)
        if "choose" in sys.argv[1:] and actions:
            chosen = (self.last, str(actions[0]))
            GLib.timeout_add(50, lambda: self.ActionInvoked(*chosen) and False)
        return dbus.UInt32(self.last)

    @dbus.service.method("org.freedesktop.Notifications", out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.signal("org.freedesktop.Notifications", signature="us")
    def ActionInvoked(self, id, key):
        pass


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
session = dbus.SessionBus()
service = Notifications(session)
name = dbus.service.BusName("org.freedesktop.Notifications", session)
print("ready", flush=True)
GLib.MainLoop().run()
