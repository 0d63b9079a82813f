#!/usr/bin/python3
# "Another application" for the delivery tests in GNOME sessions, where the
# fields users type into are GTK 4's: one entry named "entry". It speaks the
# line protocol of DeliveryTestWindow.cpp (the GTK 3 window) so
# DeliveryWindowProcess drives it unchanged: commands on stdin, one a line;
# reports on stdout.
#   gtk4_field_window.py [--app-id ID] [--class CLASS]
import argparse
import os
import sys

import gi

gi.require_version("Gdk", "4.0")
gi.require_version("Gtk", "4.0")
from gi.repository import Gdk, Gio, GLib, Gtk  # noqa: E402


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def fnv_hash(data):
    value = 1469598103934665603
    for byte in data:
        value = ((value ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return value


def clip_summary(target, data):
    return f"{target} {len(data)} {fnv_hash(data)}"


def escape(text):
    return text.replace("\\", "\\\\").replace("\n", "\\n")


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            i += 1
            out.append("\n" if text[i] == "n" else text[i])
        else:
            out.append(text[i])
        i += 1
    return "".join(out)


class FieldWindow:
    def __init__(self, application):
        self.window = Gtk.ApplicationWindow(application=application)
        self.window.set_title("Delivery test window")
        self.window.set_default_size(600, 400)
        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
        self.entry = Gtk.Entry(name="entry")
        box.append(self.entry)
        self.window.set_child(box)
        self.entry.connect("changed", lambda _: self.report())
        # Seen on the way down to the entry, before it takes the key for its text.
        keys = Gtk.EventControllerKey(propagation_phase=Gtk.PropagationPhase.CAPTURE)
        keys.connect("key-pressed", self.key_event, "press")
        keys.connect("key-released", self.key_event, "release")
        self.window.add_controller(keys)
        self.clipboard = Gdk.Display.get_default().get_clipboard()
        self.pending = b""
        GLib.unix_fd_add_full(
            GLib.PRIORITY_DEFAULT,
            0,
            GLib.IOCondition.IN | GLib.IOCondition.HUP | GLib.IOCondition.ERR,
            self.read_commands,
        )
        self.window.present()
        self.entry.grab_focus()

    def report(self):
        say("text entry " + escape(self.entry.get_text()))

    # "key press v control+shift": the key and the modifiers held with it.
    def key_event(self, _controller, keyval, _keycode, state, kind):
        modifiers = [
            name
            for mask, name in (
                (Gdk.ModifierType.CONTROL_MASK, "control"),
                (Gdk.ModifierType.SHIFT_MASK, "shift"),
                (Gdk.ModifierType.ALT_MASK, "alt"),
            )
            if state & mask
        ]
        say(f"key {kind} {Gdk.keyval_name(keyval) or '?'} {'+'.join(modifiers) or 'none'}")
        return False

    def read_commands(self, _fd, _condition):
        chunk = os.read(0, 65536)
        if not chunk:
            os._exit(0)  # the test has gone
        self.pending += chunk
        *lines, self.pending = self.pending.split(b"\n")
        for line in lines:
            self.command(line.decode())
        return GLib.SOURCE_CONTINUE

    def command(self, line):
        verb, _, rest = line.partition(" ")
        name, _, argument = rest.partition(" ")
        if verb == "focus":
            self.window.present()
            self.entry.grab_focus()
            say("focused " + name)
        elif verb == "set" and name == "entry":
            self.entry.set_text(unescape(argument))
            say("set entry")
        elif verb == "report" and name == "entry":
            self.report()
        elif verb == "copy-text":
            self.clipboard.set(unescape(rest))  # as GtkText copies: a string
            say("copied")
        elif verb == "dump-clipboard":
            types = list(self.clipboard.get_formats().get_mime_types() or [])
            self.dump_next(types, types)

    def dump_next(self, offered, remaining):
        """Reads the offered types one after another without blocking the loop,
        each reported as "clip TYPE SIZE HASH" (or "clip TYPE none"), then
        "clip-end". UTF-8 text also shows as UTF8_STRING, the name the GTK 3
        window reads it by, so tests compare one line whatever the toolkit."""
        if not remaining:
            say("clip-end")
            return
        target, rest = remaining[0], remaining[1:]

        def got(data):
            names = [target]
            if target == "text/plain;charset=utf-8" and "UTF8_STRING" not in offered:
                names.insert(0, "UTF8_STRING")
            for name in names:
                say("clip " + (name + " none" if data is None else clip_summary(name, data)))
            self.dump_next(offered, rest)

        def opened(clipboard, result):
            try:
                stream, _ = clipboard.read_finish(result)
            except GLib.Error:
                return got(None)
            sink = Gio.MemoryOutputStream.new_resizable()
            splice = Gio.OutputStreamSpliceFlags
            flags = splice.CLOSE_SOURCE | splice.CLOSE_TARGET
            sink.splice_async(stream, flags, GLib.PRIORITY_DEFAULT, None, copied)

        def copied(sink, result):
            try:
                sink.splice_finish(result)
            except GLib.Error:
                return got(None)
            got(sink.steal_as_bytes().get_data())

        self.clipboard.read_async([target], GLib.PRIORITY_DEFAULT, None, opened)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app-id")
    parser.add_argument("--class", dest="window_class")
    options = parser.parse_args()
    # Without an ID the Wayland app ID is the program's name, as for the GTK 3
    # window: the class's lower case, or the file's own name (a copy named
    # after a terminal passes for one).
    program = os.path.basename(sys.argv[0]).removesuffix(".py")
    GLib.set_prgname(options.window_class.lower() if options.window_class else program)
    application = Gtk.Application(
        application_id=options.app_id, flags=Gio.ApplicationFlags.NON_UNIQUE
    )
    windows = []  # keeps the window's Python side alive

    def activate(app):
        windows.append(FieldWindow(app))
        app.hold()
        # The display's kind tells whether the window runs on X11 or natively on Wayland.
        display = Gdk.Display.get_default().__gtype__.name
        GLib.timeout_add(300, lambda: say(f"ready {os.getpid()} {display}") or GLib.SOURCE_REMOVE)

    application.connect("activate", activate)
    sys.exit(application.run([sys.argv[0]]))


if __name__ == "__main__":
    main()
