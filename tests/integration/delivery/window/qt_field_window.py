#!/usr/bin/python3
# "Another application" for the delivery tests in KDE sessions, where the fields
# users type into are Qt's: one line edit named "entry". It speaks the line
# protocol of DeliveryTestWindow.cpp (the GTK 3 window), field_protocol.py
# beside it, so DeliveryWindowProcess drives it unchanged.
#   qt_field_window.py [--app-id ID] [--class CLASS]
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

# The protocol is imported from beside this file; its compiled copy is not
# written there, so running the window leaves the source tree as it was.
sys.dont_write_bytecode = True
import field_protocol as protocol

# On Wayland and X11 alike, Qt's native virtual key is the keysym; xkbcommon
# names it the way GDK names its keyvals, so key lines read as the GTK window's.
xkb = ctypes.CDLL("libxkbcommon.so.0")


def keysym_name(keysym):
    name = ctypes.create_string_buffer(64)
    return name.value.decode() if xkb.xkb_keysym_get_name(keysym, name, 64) > 0 else "?"


class KeyReporter(QObject):
    def eventFilter(self, watched, event):
        # Qt repeats a held key as release+press pairs; GTK as presses alone,
        # and a stuck key must read the same in both windows.
        if event.type() in (QEvent.KeyPress, QEvent.KeyRelease) and not (
            event.type() == QEvent.KeyRelease and event.isAutoRepeat()
        ):
            # The modifier state as the compositor sent it (an X11-style mask,
            # as GDK reads it), not Qt's, which counts a modifier key as held
            # while it is being pressed.
            kind = "press" if event.type() == QEvent.KeyPress else "release"
            protocol.say_key(kind, keysym_name(event.nativeVirtualKey()), event.nativeModifiers())
        return False


class FieldWindow(QWidget, protocol.FieldWindowProtocol):
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
        self.stdin = QSocketNotifier(0, QSocketNotifier.Read)
        self.stdin.activated.connect(self.read_commands)

    def entry_text(self):
        return self.entry.text()

    def set_entry_text(self, text):
        self.entry.setText(text)

    def focus(self):
        self.raise_()
        if QGuiApplication.platformName() != "wayland":  # Wayland lets no client take the focus
            self.activateWindow()
        self.entry.setFocus()
        # As GTK's entries do when focused: what the user types replaces it all.
        self.entry.selectAll()

    def copy_text(self, text):
        QApplication.clipboard().setText(text)

    def dump_clipboard(self):
        """Every type the clipboard's owner offers as a "clip" line, then "clip-end"."""
        data = QApplication.clipboard().mimeData()
        # Once each, as offered: Qt may list a text type twice (seen on GNOME),
        # and adds its own image type to any offered image, which nobody offered.
        formats = dict.fromkeys(data.formats() if data else [])
        offered = [target for target in formats if target != "application/x-qt-image"]
        for target in offered:
            protocol.say_clip(target, bytes(data.data(target)), offered)
        protocol.say("clip-end")


def main():
    options, qt_arguments = protocol.argument_parser().parse_known_args()
    application = QApplication([sys.argv[0]] + qt_arguments)
    if options.window_class:
        application.setApplicationName(options.window_class)
    # The Wayland app ID: as the GTK window's without --app-id.
    QGuiApplication.setDesktopFileName(options.app_id or protocol.program_name(options))
    window = FieldWindow()
    window.show()
    window.focus()
    # The platform's name tells whether the window runs natively on Wayland.
    kind = "Qt" + QGuiApplication.platformName().capitalize()
    QTimer.singleShot(300, lambda: protocol.say_ready(kind))
    sys.exit(application.exec_())


if __name__ == "__main__":
    main()
