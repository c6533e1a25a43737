#!/usr/bin/python3
# A stand-in for the desktop's notification service on the session bus: records every Notify
# call as one JSON line (with the id it answered) in the file named by its argument.
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"


class Service(dbus.service.Object):
    def __init__(self, bus, record):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.record = record
        self.next_id = 0

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        if replaces:
            nid = int(replaces)
        else:
            self.next_id += 1
            nid = self.next_id
        line = {"app": str(app), "replaces": int(replaces), "icon": str(icon),
                "summary": str(summary), "body": str(body), "id": nid,
                "urgency": int(hints.get("urgency", -1))}
        with open(self.record, "a") as f:
            f.write(json.dumps(line) + "\n")
        return dbus.UInt32(nid)

    @dbus.service.method(NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(NAME, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("stand-in", "torvanix tests", "1", "1.2")


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
service = Service(bus, sys.argv[1])
name = dbus.service.BusName(NAME, bus)
print("ready", flush=True)
GLib.MainLoop().run()
