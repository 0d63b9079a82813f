#!/usr/bin/python3
# "Another application" for the delivery tests in GNOME sessions, where the
# fields users type into are GTK 4's: one entry named "entry". It speaks the
# line protocol of DeliveryTestWindow.cpp (the GTK 3 window), field_protocol.py
# beside it, so DeliveryWindowProcess drives it unchanged.
#   gtk4_field_window.py [--app-id ID] [--class CLASS]
import sys

import gi

gi.require_version("Gdk", "4.0")
gi.require_version("Gtk", "4.0")
from gi.repository import Gdk, Gio, GLib, Gtk  # noqa: E402

# The protocol is imported from beside this file; its compiled copy is not
# written there, so running the window leaves the source tree as it was.
sys.dont_write_bytecode = True
import field_protocol as protocol  # noqa: E402


class FieldWindow(protocol.FieldWindowProtocol):
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
        GLib.unix_fd_add_full(
            GLib.PRIORITY_DEFAULT,
            0,
            GLib.IOCondition.IN | GLib.IOCondition.HUP | GLib.IOCondition.ERR,
            self.stdin_readable,
        )
        self.focus()

    def entry_text(self):
        return self.entry.get_text()

    def set_entry_text(self, text):
        self.entry.set_text(text)

    def focus(self):
        self.window.present()
        self.entry.grab_focus()

    def copy_text(self, text):
        self.clipboard.set(text)  # as GtkText copies: a string

    def key_event(self, _controller, keyval, _keycode, state, kind):
        protocol.say_key(kind, Gdk.keyval_name(keyval) or "?", state)
        return False

    def stdin_readable(self, _fd, _condition):
        self.read_commands()
        return GLib.SOURCE_CONTINUE

    def dump_clipboard(self):
        types = list(self.clipboard.get_formats().get_mime_types() or [])
        self.dump_next(types, types)

    def dump_next(self, offered, remaining):
        """Reads the offered types one after another without blocking the loop,
        each reported as a "clip" line, then "clip-end"."""
        if not remaining:
            protocol.say("clip-end")
            return
        target, rest = remaining[0], remaining[1:]

        def got(data):
            protocol.say_clip(target, data, offered)
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
    options = protocol.argument_parser().parse_args()
    # Without an ID the Wayland app ID is the program's name, as for the GTK 3 window.
    GLib.set_prgname(protocol.program_name(options))
    application = Gtk.Application(
        application_id=options.app_id, flags=Gio.ApplicationFlags.NON_UNIQUE
    )
    windows = []  # keeps the window's Python side alive

    def activate(app):
        windows.append(FieldWindow(app))
        app.hold()
        display = Gdk.Display.get_default().__gtype__.name
        GLib.timeout_add(300, lambda: protocol.say_ready(display) or GLib.SOURCE_REMOVE)

    application.connect("activate", activate)
    sys.exit(application.run([sys.argv[0]]))


if __name__ == "__main__":
    main()
