#!/usr/bin/python3
# "Another application" for the delivery tests in KDE sessions, where the fields
# users type into are Qt's: one line edit named "entry". It speaks the line
# protocol of DeliveryTestWindow.cpp (the GTK 3 window) so DeliveryWindowProcess
# drives it unchanged: commands on stdin, one a line; reports on stdout.
#   qt_field_window.py [--app-id ID] [--class CLASS]
import argparse
import ctypes
import os
import sys

# Natively on Wayland whenever there is one: Qt 5 would otherwise pick XWayland
# on GNOME, and the ready line is how a test tells the two apart.
if os.environ.get("WAYLAND_DISPLAY"):
    os.environ.setdefault("QT_QPA_PLATFORM", "wayland")

from PyQt5.QtCore import QEvent, QObject, QSocketNotifier, QTimer
from PyQt5.QtGui import QGuiApplication
from PyQt5.QtWidgets import QApplication, QLineEdit, QVBoxLayout, QWidget

# On Wayland and X11 alike, Qt's native virtual key is the keysym; xkbcommon
# names it the way GDK names its keyvals, so key lines read as the GTK window's.
xkb = ctypes.CDLL("libxkbcommon.so.0")


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


def keysym_name(keysym):
    name = ctypes.create_string_buffer(64)
    return name.value.decode() if xkb.xkb_keysym_get_name(keysym, name, 64) > 0 else "?"


class KeyReporter(QObject):
    """ "key press v control+shift": the key and the modifiers held with it."""

    def eventFilter(self, watched, event):
        # Qt repeats a held key as release+press pairs; GTK as presses alone,
        # and a stuck key must read the same in both windows.
        if event.type() in (QEvent.KeyPress, QEvent.KeyRelease) and not (
            event.type() == QEvent.KeyRelease and event.isAutoRepeat()
        ):
            # The modifier state as the compositor sent it (an X11-style mask,
            # as GDK reads it), not Qt's, which counts a modifier key as held
            # while it is being pressed.
            held = event.nativeModifiers()
            modifiers = [
                name for mask, name in ((4, "control"), (1, "shift"), (8, "alt")) if held & mask
            ]
            kind = "press" if event.type() == QEvent.KeyPress else "release"
            name = keysym_name(event.nativeVirtualKey())
            say(f"key {kind} {name} {'+'.join(modifiers) or 'none'}")
        return False


class FieldWindow(QWidget):
    def __init__(self):
        super().__init__()
        self.setWindowTitle("Delivery test window")
        self.resize(600, 400)
        self.entry = QLineEdit(objectName="entry")
        layout = QVBoxLayout(self)
        layout.addWidget(self.entry)
        layout.addStretch()
        self.entry.textChanged.connect(self.report)
        self.keys = KeyReporter()
        self.entry.installEventFilter(self.keys)
        self.pending = b""
        self.stdin = QSocketNotifier(0, QSocketNotifier.Read)
        self.stdin.activated.connect(self.read_commands)

    def report(self):
        say("text entry " + escape(self.entry.text()))

    def focus(self):
        self.raise_()
        if QGuiApplication.platformName() != "wayland":  # Wayland lets no client take the focus
            self.activateWindow()
        self.entry.setFocus()
        # As GTK's entries do when focused: what the user types replaces it all.
        self.entry.selectAll()

    def read_commands(self):
        chunk = os.read(0, 65536)
        if not chunk:
            os._exit(0)  # the test has gone
        self.pending += chunk
        *lines, self.pending = self.pending.split(b"\n")
        for line in lines:
            self.command(line.decode())

    def command(self, line):
        verb, _, rest = line.partition(" ")
        name, _, argument = rest.partition(" ")
        if verb == "focus":
            self.focus()
            say("focused " + name)
        elif verb == "set" and name == "entry":
            self.entry.setText(unescape(argument))
            say("set entry")
        elif verb == "report" and name == "entry":
            self.report()
        elif verb == "copy-text":
            QApplication.clipboard().setText(unescape(rest))
            say("copied")
        elif verb == "dump-clipboard":
            self.dump_clipboard()

    def dump_clipboard(self):
        """Every type the clipboard's owner offers as "clip TYPE SIZE HASH", then
        "clip-end". UTF-8 text also shows as UTF8_STRING, the name the GTK 3
        window reads it by, so tests compare one line whatever the toolkit."""
        data = QApplication.clipboard().mimeData()
        # Once each, as offered: Qt may list a text type twice (seen on GNOME),
        # and adds its own image type to any offered image, which nobody offered.
        formats = dict.fromkeys(data.formats() if data else [])
        offered = [target for target in formats if target != "application/x-qt-image"]
        for target in offered:
            payload = bytes(data.data(target))
            if target == "text/plain;charset=utf-8" and "UTF8_STRING" not in offered:
                say("clip " + clip_summary("UTF8_STRING", payload))
            say("clip " + clip_summary(target, payload))
        say("clip-end")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app-id")
    parser.add_argument("--class", dest="window_class")
    options, qt_arguments = parser.parse_known_args()
    application = QApplication([sys.argv[0]] + qt_arguments)
    if options.window_class:
        application.setApplicationName(options.window_class)
    # The Wayland app ID; as the GTK window, the class's lower case or else the
    # program's own name (a copy named after a terminal passes for one).
    program = os.path.basename(sys.argv[0]).removesuffix(".py")
    window_class = options.window_class.lower() if options.window_class else None
    QGuiApplication.setDesktopFileName(options.app_id or window_class or program)
    window = FieldWindow()
    window.show()
    window.focus()
    # The platform's name tells whether the window runs natively on Wayland.
    kind = "Qt" + QGuiApplication.platformName().capitalize()
    QTimer.singleShot(300, lambda: say(f"ready {os.getpid()} {kind}"))
    sys.exit(application.exec_())


if __name__ == "__main__":
    main()
