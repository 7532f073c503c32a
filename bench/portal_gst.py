#!/usr/bin/python3
"""The benchmark's other recorder on Wayland: GStreamer recording the screen the desktop's ScreenCast
portal shares, with the default sound input, into an MKV (H.264 by x264enc, Opus).

    portal_gst.py TOKEN SECONDS OUT.mkv

TOKEN is a restore token the desktop honours (so nothing asks). This process keeps the portal
session (it lives as long as this bus connection), runs gst-launch-1.0 on the PipeWire remote the
portal opened, and after SECONDS stops it with SIGINT, which -e turns into a finished file. The
desktop sends a picture only when the screen changed: keepalive-time repeats the last one each second,
without which a still screen left the pipeline with nothing to finish.
"""
import os
import signal
import subprocess
import sys
import time

from gi.repository import Gio, GLib

PORTAL = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
CAST = "org.freedesktop.portal.ScreenCast"


class Portal:
    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        self.sender = self.bus.get_unique_name()[1:].replace(".", "_")
        self.count = 0

    def request(self, method, args):
        """Calls a portal method whose answer comes as a Request's Response signal."""
        self.count += 1
        token = "qvbench%d" % self.count
        path = "%s/request/%s/%s" % (PATH, self.sender, token)
        answer = []
        sub = self.bus.signal_subscribe(PORTAL, "org.freedesktop.portal.Request", "Response", path, None,
                                        Gio.DBusSignalFlags.NONE, lambda *a: answer.append(a[5].unpack()), )
        args[-1]["handle_token"] = GLib.Variant("s", token)
        self.bus.call_sync(PORTAL, PATH, CAST, method, GLib.Variant(self.signature(method), tuple(args)), None,
                           Gio.DBusCallFlags.NONE, 10000, None)
        context = GLib.MainContext.default()
        deadline = time.monotonic() + 30
        while not answer and time.monotonic() < deadline:
            context.iteration(False) or time.sleep(0.01)
        self.bus.signal_unsubscribe(sub)
        if not answer or answer[0][0] != 0:
            sys.exit("portal_gst: %s was not granted" % method)
        return answer[0][1]

    @staticmethod
    def signature(method):
        return {"CreateSession": "(a{sv})", "SelectSources": "(oa{sv})", "Start": "(osa{sv})"}[method]


def main(token, seconds, out):
    portal = Portal()
    session = portal.request("CreateSession", [{"session_handle_token": GLib.Variant("s", "qvbench")}])["session_handle"]
    portal.request("SelectSources", [session, {
        "types": GLib.Variant("u", 1), "cursor_mode": GLib.Variant("u", 2), "persist_mode": GLib.Variant("u", 2),
        "restore_token": GLib.Variant("s", token)}])
    node = portal.request("Start", [session, "", {}])["streams"][0][0]
    reply, fds = portal.bus.call_with_unix_fd_list_sync(
        PORTAL, PATH, CAST, "OpenPipeWireRemote", GLib.Variant("(oa{sv})", (session, {})), None,
        Gio.DBusCallFlags.NONE, 10000, None, None)
    fd = fds.get(reply.unpack()[0])
    pipeline = ("pipewiresrc fd=%d path=%d do-timestamp=true keepalive-time=1000 ! videorate ! video/x-raw,framerate=25/1 ! "
                "videoconvert ! x264enc speed-preset=veryfast tune=zerolatency pass=qual quantizer=23 ! "
                "queue ! mux. pulsesrc do-timestamp=true ! audioconvert ! audioresample ! "
                "opusenc ! queue ! mux. matroskamux name=mux ! filesink location=%s" % (fd, node, out))
    gst = subprocess.Popen(["gst-launch-1.0", "-q", "-e"] + pipeline.split(), pass_fds=(fd,))
    time.sleep(seconds)
    gst.send_signal(signal.SIGINT)
    try:
        sys.exit(gst.wait(timeout=20))
    except subprocess.TimeoutExpired:
        gst.kill()
        sys.exit("portal_gst: gst-launch-1.0 did not finish its file")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(sys.argv[1], float(sys.argv[2]), sys.argv[3])
