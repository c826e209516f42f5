#!/usr/bin/python3
"""A stand-in for the desktop portal (org.freedesktop.portal.Desktop) on the session bus.

ScreenCast hands out one PipeWire node on a connection to the PipeWire daemon of
$PIPEWIRE_RUNTIME_DIR; GlobalShortcuts binds shortcuts and sends Activated when told to. Every
call it answers is printed, one line each, for the tests to read.

    portal_double.py --node N [--no-shortcuts]

--no-shortcuts: a desktop without the GlobalShortcuts portal. The tests press a shortcut with
org.glimmora.PortalDouble.Activate(s id) and end the share as the user would from the desktop
with org.glimmora.PortalDouble.EndShare().
"""
import argparse
import os
import socket

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DESKTOP = "/org/freedesktop/portal/desktop"
SCREEN_CAST = "org.freedesktop.portal.ScreenCast"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
CONTROL = "org.glimmora.PortalDouble"


def say(line):
    print(line, flush=True)


class Shortcuts(dbus.service.FallbackObject):
    """The GlobalShortcuts half. Its methods share names with ScreenCast's, and dbus-python
    finds a method by its name along the class hierarchy, so each interface has a class."""

    def __init__(self, bus, options):
        super().__init__(bus, DESKTOP)
        self.bus = bus
        self.options = options
        self.screen_session = self.shortcut_session = "/"

    def path_of(self, sender, kind, token):
        """Where the caller's Request or Session with this token lives."""
        return f"{DESKTOP}/{kind}/{sender[1:].replace('.', '_')}/{token}"

    def answer_later(self, sender, options, code, results):
        """Returns the Request's path and sends its Response right after."""
        request = self.path_of(sender, "request", options.get("handle_token", ""))

        def respond():
            signal = dbus.lowlevel.SignalMessage(request, "org.freedesktop.portal.Request",
                                                 "Response")
            signal.append(dbus.UInt32(code), dbus.Dictionary(results, signature="sv"),
                          signature="ua{sv}")
            self.bus.send_message(signal)
            return False

        GLib.timeout_add(20, respond)
        return dbus.ObjectPath(request)

    def refuse_shortcuts(self):
        if self.options.no_shortcuts:
            raise dbus.exceptions.DBusException(
                "no GlobalShortcuts here", name="org.freedesktop.DBus.Error.UnknownMethod")

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender):
        self.refuse_shortcuts()
        self.shortcut_session = self.path_of(sender, "session", options["session_handle_token"])
        say("GlobalShortcuts.CreateSession")
        return self.answer_later(sender, options, 0, {"session_handle": self.shortcut_session})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender):
        self.refuse_shortcuts()
        say("BindShortcuts " + " ".join(
            f"{id}={p.get('preferred_trigger', '')}({p.get('description', '')})"
            for id, p in shortcuts))
        return self.answer_later(sender, options, 0, {})

    @dbus.service.method(CONTROL, in_signature="s", out_signature="")
    def Activate(self, id):
        say(f"Activate {id}")
        signal = dbus.lowlevel.SignalMessage(DESKTOP, SHORTCUTS, "Activated")
        signal.append(dbus.ObjectPath(self.shortcut_session), id, dbus.UInt64(0),
                      dbus.Dictionary({}, signature="sv"), signature="osta{sv}")
        self.bus.send_message(signal)


class Portal(Shortcuts):
    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        values = {(SCREEN_CAST, "version"): 4, (SCREEN_CAST, "AvailableSourceTypes"): 3,
                  (SCREEN_CAST, "AvailableCursorModes"): 7}
        if not self.options.no_shortcuts:
            values[(SHORTCUTS, "version")] = 1
        if (interface, name) not in values:
            raise dbus.exceptions.DBusException(
                f"{interface} {name}", name="org.freedesktop.DBus.Error.UnknownProperty")
        return dbus.UInt32(values[(interface, name)])

    @dbus.service.method(SCREEN_CAST, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender):
        self.screen_session = self.path_of(sender, "session", options["session_handle_token"])
        say("CreateSession")
        return self.answer_later(sender, options, 0, {"session_handle": self.screen_session})

    @dbus.service.method(SCREEN_CAST, in_signature="oa{sv}", out_signature="o",
                         sender_keyword="sender")
    def SelectSources(self, session, options, sender):
        say("SelectSources types=%d cursor_mode=%d persist_mode=%d restore_token=%s" % (
            options.get("types", 0), options.get("cursor_mode", 0),
            options.get("persist_mode", 0), options.get("restore_token", "")))
        return self.answer_later(sender, options, 0, {})

    @dbus.service.method(SCREEN_CAST, in_signature="osa{sv}", out_signature="o",
                         sender_keyword="sender")
    def Start(self, session, parent, options, sender):
        say("Start")
        size = dbus.Struct((640, 480), signature="ii", variant_level=1)
        stream = dbus.Struct((dbus.UInt32(self.options.node), {"size": size}), signature="ua{sv}")
        results = {
            "streams": dbus.Array([stream], signature="(ua{sv})"),
            "restore_token": "double-token-1"}
        return self.answer_later(sender, options, 0, results)

    @dbus.service.method(SCREEN_CAST, in_signature="oa{sv}", out_signature="h")
    def OpenPipeWireRemote(self, session, options):
        folder = os.environ.get("PIPEWIRE_RUNTIME_DIR") or os.environ.get("XDG_RUNTIME_DIR", "")
        try:
            connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            connection.connect(os.path.join(folder, "pipewire-0"))
        except OSError as error:
            say("OpenPipeWireRemote failed")
            raise dbus.exceptions.DBusException(f"no PipeWire daemon: {error}")
        say("OpenPipeWireRemote ok")
        with connection:
            return dbus.types.UnixFd(connection.fileno())

    @dbus.service.method("org.freedesktop.portal.Session", in_signature="", out_signature="",
                         path_keyword="path")
    def Close(self, path):
        say(f"Close {path}")

    @dbus.service.method(CONTROL, in_signature="", out_signature="")
    def EndShare(self):
        say(f"EndShare {self.screen_session}")
        signal = dbus.lowlevel.SignalMessage(self.screen_session,
                                             "org.freedesktop.portal.Session", "Closed")
        signal.append(dbus.Dictionary({}, signature="sv"), signature="a{sv}")
        self.bus.send_message(signal)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--node", type=int, required=True)
    parser.add_argument("--no-shortcuts", action="store_true")
    options = parser.parse_args()
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal(bus, options)
    name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
    say("ready")
    GLib.MainLoop().run()
    del portal, name


if __name__ == "__main__":
    main()
