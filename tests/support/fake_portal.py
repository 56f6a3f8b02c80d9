#!/usr/bin/python3
# A screenshot portal for tests: owns org.freedesktop.portal.Desktop on the
# session bus it is started on and answers every Screenshot call as MODE says:
#   png DIR   Response 0 with a 3x2 PNG written into DIR
#   cancel    Response 1
#   fail      Response 2
#   never     no Response at all
#   error     the call itself fails with a D-Bus error
# Prints "ready" once the name is owned, then one line per call with the
# options it was given.
import json
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

MODE = sys.argv[1]
PNG_DIR = sys.argv[2] if len(sys.argv) > 2 else None

# A 3x2 picture: red, white and green on top, blue below.
PNG = bytes.fromhex(
    "89504e470d0a1a0a0000000d49484452000000030000000208020000001216f14d"
    "0000001649444154789c63f8cfc0f0ffff7f0620c5002240080057bc07f980705f"
    "590000000049454e44ae426082")


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, code, results):
        pass

    @dbus.service.method("org.freedesktop.portal.Request")
    def Close(self):
        print(json.dumps({"closed": self._object_path}), flush=True)


class Portal(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.bus = bus
        self.requests = []

    @dbus.service.method("org.freedesktop.portal.Screenshot", in_signature="sa{sv}",
                         out_signature="o", sender_keyword="sender")
    def Screenshot(self, parent, options, sender=None):
        token = str(options.get("handle_token", "t"))
        print(json.dumps({"parent_window": str(parent),
                          "interactive": bool(options.get("interactive", True)),
                          "token": token}), flush=True)
        if MODE == "error":
            raise dbus.exceptions.DBusException(
                "Screenshot is not allowed", name="org.freedesktop.portal.Error.NotAllowed")
        path = "/org/freedesktop/portal/desktop/request/%s/%s" % (
            sender[1:].replace(".", "_"), token)
        request = Request(self.bus, path)
        self.requests.append(request)
        if MODE != "never":
            GLib.timeout_add(20, self.answer, request)
        return dbus.ObjectPath(path)

    def answer(self, request):
        if MODE == "png":
            file = os.path.join(PNG_DIR, "Screenshot.png")
            with open(file, "wb") as out:
                out.write(PNG)
            request.Response(dbus.UInt32(0), {"uri": "file://" + file})
        else:
            request.Response(dbus.UInt32(1 if MODE == "cancel" else 2),
                             dbus.Dictionary({}, signature="sv"))
        return False


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
session = dbus.SessionBus()
portal = Portal(session)
name = dbus.service.BusName("org.freedesktop.portal.Desktop", session)
print("ready", flush=True)
GLib.MainLoop().run()
