#!/usr/bin/python3
# Does to the first StatusNotifierItem registered on the session bus what a
# tray host does:
#   tray_item.py registered     prints the registered items, one a line
#   tray_item.py activate       a left click on the icon (Activate)
#   tray_item.py menu LABEL     chooses the entry LABEL of its menu
# Exits 1 when there is no item or no such entry.
import sys

import dbus

bus = dbus.SessionBus()
watcher = bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
items = [str(i) for i in watcher.Get("org.kde.StatusNotifierWatcher",
                                     "RegisteredStatusNotifierItems",
                                     dbus_interface="org.freedesktop.DBus.Properties")]
if sys.argv[1] == "registered":
    print("\n".join(items))
    sys.exit(0 if items else 1)
if not items:
    sys.exit(1)
service, _, path = items[0].partition("/")
item = bus.get_object(service, "/" + path)
if sys.argv[1] == "activate":
    item.Activate(0, 0, dbus_interface="org.kde.StatusNotifierItem")
    sys.exit(0)

menu_path = item.Get("org.kde.StatusNotifierItem", "Menu",
                     dbus_interface="org.freedesktop.DBus.Properties")
menu = bus.get_object(service, menu_path)
_, layout = menu.GetLayout(0, -1, dbus.Array([], signature="s"),
                           dbus_interface="com.canonical.dbusmenu")


def find(node, label):
    node_id, props, children = node
    if str(props.get("label", "")).replace("_", "") == label:
        return int(node_id)
    for child in children:
        found = find(child, label)
        if found is not None:
            return found
    return None


entry = find(layout, sys.argv[2])
if entry is None:
    sys.exit(1)
menu.AboutToShow(0, dbus_interface="com.canonical.dbusmenu")
menu.Event(entry, "clicked", dbus.String("", variant_level=1), dbus.UInt32(0),
           dbus_interface="com.canonical.dbusmenu")
