#!/usr/bin/python3
# Takes a screenshot through the desktop portal, as any portal client does,
# and copies the picture to OUT:  portal_screenshot.py OUT
# Exits 0 on Response 0, else prints the response code and exits 1.
import shutil
import sys
from urllib.parse import unquote, urlparse

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
token = "brwktest"
sender = bus.get_unique_name()[1:].replace(".", "_")
path = "/org/freedesktop/portal/desktop/request/%s/%s" % (sender, token)
loop = GLib.MainLoop()
answer = {}


def response(code, results):
    answer["code"] = int(code)
    answer["uri"] = str(results.get("uri", ""))
    loop.quit()


bus.add_signal_receiver(response, "Response", "org.freedesktop.portal.Request",
                        "org.freedesktop.portal.Desktop", path)
portal = bus.get_object("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop")
portal.Screenshot("", {"handle_token": token, "interactive": False},
                  dbus_interface="org.freedesktop.portal.Screenshot")
GLib.timeout_add_seconds(30, loop.quit)
loop.run()
if answer.get("code") != 0:
    print("portal answered", answer.get("code"), file=sys.stderr)
    sys.exit(1)
shutil.copyfile(unquote(urlparse(answer["uri"]).path), sys.argv[1])
