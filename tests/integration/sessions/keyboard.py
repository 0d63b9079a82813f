#!/usr/bin/python3
"""The keyboard of a headless compositor session, and the command tests type with.

A headless GNOME Shell or KWin has no keyboard: no window gets the focus and
nothing can be typed until the compositor's remote-input service holds a
session open. This helper holds one for the whole test session and types what
the command below asks for:

  keyboard.py mutter SOCKET [READY_FILE]   GNOME: org.gnome.Mutter.RemoteDesktop
  keyboard.py portal SOCKET [READY_FILE]   KDE: the RemoteDesktop portal, keyboard only
  keyboard.py type SOCKET KEY...           press and release, in order:
      NAME          a keysym name (Return, a, Control_L, F9, ...)
      A+B+C         a chord: A, B and C pressed in turn, released in reverse
      --press NAME  pressed and left down (a held shortcut)
      --release NAME
      --text TEXT   each character's keysym pressed and released
      --sleep SECS  a pause between keys

The server runs on python3-gi (GLib, Gio, and Gdk for the keysym names).
"""
import json
import os
import socket
import sys
import time


def send(path, args):
    """The client side: one request, one answer; exit status 1 on an error."""
    actions = []
    it = iter(args)
    for arg in it:
        if arg in ("--press", "--release"):
            actions.append([arg[2:], next(it)])
        elif arg == "--text":
            actions.append(["text", next(it)])
        elif arg == "--sleep":
            actions.append(["sleep", next(it)])
        else:
            keys = arg.split("+") if arg != "+" else ["plus"]
            actions += [["press", k] for k in keys]
            actions += [["release", k] for k in reversed(keys)]
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as client:
        client.connect(path)
        client.sendall(json.dumps(actions).encode() + b"\n")
        answer = client.makefile().readline().strip()
    if answer != "ok":
        print(f"type-keys: {answer or 'no answer from the session keyboard'}", file=sys.stderr)
        return 1
    return 0


def serve(kind, path, ready_file):
    import gi
    gi.require_version("Gdk", "3.0")
    from gi.repository import Gdk, Gio, GLib

    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    loop = GLib.MainLoop()

    def call(name, obj, iface, method, params, reply=None):
        return bus.call_sync(name, obj, iface, method, params,
                             GLib.VariantType(reply) if reply else None,
                             Gio.DBusCallFlags.NONE, 10000, None)

    def wait_for_name(name):
        while not call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                       "NameHasOwner", GLib.Variant("(s)", (name,)), "(b)").unpack()[0]:
            time.sleep(0.05)

    if kind == "mutter":
        wait_for_name("org.gnome.Mutter.RemoteDesktop")
        session = call("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                       "org.gnome.Mutter.RemoteDesktop", "CreateSession", None,
                       "(o)").unpack()[0]
        call("org.gnome.Mutter.RemoteDesktop", session,
             "org.gnome.Mutter.RemoteDesktop.Session", "Start", None)

        def key(keysym, pressed):
            call("org.gnome.Mutter.RemoteDesktop", session,
                 "org.gnome.Mutter.RemoteDesktop.Session", "NotifyKeyboardKeysym",
                 GLib.Variant("(ub)", (keysym, pressed)))
        closed = ("org.gnome.Mutter.RemoteDesktop", "org.gnome.Mutter.RemoteDesktop.Session",
                  "Closed", session)
    else:
        session = portal_session(bus, call, GLib)

        def key(keysym, pressed):
            call("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                 "org.freedesktop.portal.RemoteDesktop", "NotifyKeyboardKeysym",
                 GLib.Variant("(oa{sv}iu)", (session, {}, keysym, 1 if pressed else 0)))
        closed = ("org.freedesktop.portal.Desktop", "org.freedesktop.portal.Session",
                  "Closed", session)

    # The session ending under the tests (the compositor's restart) ends the
    # helper, so a test's keys fail loudly instead of going nowhere.
    bus.signal_subscribe(closed[0], closed[1], closed[2], closed[3], None,
                         Gio.DBusSignalFlags.NONE, lambda *a: loop.quit())

    def keysym_of(name):
        keysym = Gdk.keyval_from_name(name)
        if keysym in (0, 0xFFFFFF):
            raise ValueError(f"no keysym named {name!r}")
        return keysym

    def run(actions):
        for action, value in actions:
            if action == "sleep":
                time.sleep(float(value))
            elif action == "text":
                for character in value:
                    keysym = Gdk.unicode_to_keyval(ord(character))
                    key(keysym, True)
                    key(keysym, False)
            else:
                key(keysym_of(value), action == "press")

    # The first key after the virtual keyboard appears can be lost: a modifier
    # nobody watches goes first.
    shift = keysym_of("Shift_L")
    key(shift, True)
    key(shift, False)

    if os.path.exists(path):
        os.unlink(path)
    listener = Gio.SocketService()
    listener.add_address(Gio.UnixSocketAddress.new(path), Gio.SocketType.STREAM,
                         Gio.SocketProtocol.DEFAULT, None)

    def on_incoming(_service, connection, _source):
        stream = Gio.DataInputStream.new(connection.get_input_stream())
        line, _ = stream.read_line_utf8(None)
        try:
            run(json.loads(line or "[]"))
            answer = "ok"
        except (GLib.Error, ValueError) as error:
            answer = f"error: {error}"
        connection.get_output_stream().write_all((answer + "\n").encode(), None)
        connection.close(None)
        return True

    listener.connect("incoming", on_incoming)
    listener.start()
    if ready_file:
        with open(ready_file, "w") as ready:
            ready.write(session + "\n")
    loop.run()


def portal_session(bus, call, GLib):
    """A keyboard-only RemoteDesktop portal session, started without a parent window."""
    call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
         "StartServiceByName", GLib.Variant("(su)", ("org.freedesktop.portal.Desktop", 0)))
    sender = bus.get_unique_name()[1:].replace(".", "_")
    counter = iter(range(1, 1000))

    def request(method, params_of):
        token = f"velvox_test_{next(counter)}"
        handle = f"/org/freedesktop/portal/desktop/request/{sender}/{token}"
        answer = {}
        context = GLib.MainContext.default()
        subscription = bus.signal_subscribe(
            "org.freedesktop.portal.Desktop", "org.freedesktop.portal.Request", "Response",
            handle, None, 0, lambda *a: answer.update(result=a[5].unpack()))
        call("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
             "org.freedesktop.portal.RemoteDesktop", method, params_of(token))
        deadline = time.monotonic() + 30
        while "result" not in answer and time.monotonic() < deadline:
            context.iteration(False) or time.sleep(0.01)
        bus.signal_unsubscribe(subscription)
        if answer.get("result", (2,))[0] != 0:
            raise SystemExit(f"keyboard.py: RemoteDesktop.{method} refused: {answer}")
        return answer["result"][1]

    # The backend, just started, knows no output for a moment and refuses
    # to start sessions until it does.
    for attempt in range(40):
        created = request("CreateSession", lambda token: GLib.Variant("(a{sv})", ({
            "handle_token": GLib.Variant("s", token),
            "session_handle_token": GLib.Variant("s", f"velvox_test_keyboard_{attempt}")},)))
        session = created["session_handle"]
        request("SelectDevices", lambda token: GLib.Variant("(oa{sv})", (session, {
            "handle_token": GLib.Variant("s", token), "types": GLib.Variant("u", 1)})))
        try:
            request("Start", lambda token: GLib.Variant("(osa{sv})", (session, "", {
                "handle_token": GLib.Variant("s", token)})))
            return session
        except SystemExit as refused:
            print(refused, file=sys.stderr)
            time.sleep(0.25)
    raise SystemExit("keyboard.py: the RemoteDesktop portal started no session")


def main():
    kind, path, *rest = sys.argv[1:]
    if kind == "type":
        return send(path, rest)
    serve(kind, path, rest[0] if rest else None)
    return 0


if __name__ == "__main__":
    sys.exit(main())
