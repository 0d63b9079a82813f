#!/usr/bin/python3
"""Answers GNOME's remote desktop consent dialog as a user who allows it.

xdg-desktop-portal-gnome asks whether an application may control the
keyboard: its check box "Allow remote interaction" on, then "Share" (which
is insensitive until then). The dialog
is found on the accessibility bus (GTK registers there whether or not the
desktop's accessibility switch is on). Exit status 0 once both were pressed,
1 when no such dialog showed within the time given (seconds, 20 by default).
"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def walk(node, depth=0):
    if node is None or depth > 30:
        return
    yield node
    try:
        count = node.get_child_count()
    except gi.repository.GLib.Error:
        return
    for index in range(count):
        try:
            child = node.get_child_at_index(index)
        except gi.repository.GLib.Error:
            continue
        yield from walk(child, depth + 1)


def name(node):
    try:
        return (node.get_name() or "").strip().lower()
    except gi.repository.GLib.Error:
        return ""


def role(node):
    try:
        return node.get_role()
    except gi.repository.GLib.Error:
        return None


def has(node, state):
    return node.get_state_set().contains(state)


def press(node):
    try:
        return Atspi.Action.do_action(node, 0)
    except gi.repository.GLib.Error:
        return False


def answer():
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(index)
        if application is None:
            continue
        switch = share = None
        for node in walk(application):
            text, kind = name(node), role(node)
            if kind == Atspi.Role.CHECK_BOX and "remote interaction" in text:
                switch = node
            elif kind == Atspi.Role.PUSH_BUTTON and text.endswith("share"):
                share = node
        if share is None:
            continue
        if switch is not None and not has(switch, Atspi.StateType.CHECKED):
            press(switch)
            time.sleep(0.3)
        return has(share, Atspi.StateType.SENSITIVE) and press(share)
    return False


def main():
    Atspi.init()
    bound = float(sys.argv[1]) if len(sys.argv) > 1 else 20.0
    deadline = time.monotonic() + bound
    while time.monotonic() < deadline:
        if answer():
            return 0
        time.sleep(0.2)
    print("allow-remote-desktop: no consent dialog showed", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
