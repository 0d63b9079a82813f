# The line protocol of DeliveryTestWindow.cpp (the GTK 3 window), spoken by
# the field windows of the other toolkits (gtk4_field_window.py,
# qt_field_window.py) so DeliveryWindowProcess drives them all unchanged:
# commands on stdin, one a line; reports on stdout. Kept in one place so the
# windows cannot drift apart in what a test reads from them.
import argparse
import os
import sys

# X11-style modifier masks, as GDK has them and as compositors send them.
MODIFIER_MASKS = ((4, "control"), (1, "shift"), (8, "alt"))


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


def say_key(kind, name, state):
    """ "key press v control+shift": the key and the modifiers held with it
    (STATE a mask of MODIFIER_MASKS)."""
    modifiers = [modifier for mask, modifier in MODIFIER_MASKS if state & mask]
    say(f"key {kind} {name} {'+'.join(modifiers) or 'none'}")


def say_clip(target, data, offered):
    """The "clip TYPE SIZE HASH" line of one offered type ("clip TYPE none"
    when DATA could not be read). UTF-8 text also shows as UTF8_STRING, the
    name the GTK 3 window reads it by, so tests compare one line whatever the
    toolkit."""
    names = [target]
    if target == "text/plain;charset=utf-8" and "UTF8_STRING" not in offered:
        names.insert(0, "UTF8_STRING")
    for name in names:
        say("clip " + (name + " none" if data is None else clip_summary(name, data)))


def say_ready(display_kind):
    """The line a test waits for; the display's kind tells whether the window
    runs on X11 or natively on Wayland."""
    say(f"ready {os.getpid()} {display_kind}")


def argument_parser():
    """[--app-id ID] [--class CLASS]"""
    parser = argparse.ArgumentParser()
    parser.add_argument("--app-id")
    parser.add_argument("--class", dest="window_class")
    return parser


def program_name(options):
    """The Wayland app ID a window takes without --app-id, as the GTK 3
    window's: the class's lower case, or the file's own name (a copy named
    after a terminal passes for one)."""
    if options.window_class:
        return options.window_class.lower()
    return os.path.basename(sys.argv[0]).removesuffix(".py")


class FieldWindowProtocol:
    """The commands, read from stdin, for a window of one entry named "entry".
    A toolkit's window provides entry_text(), set_entry_text(text), focus(),
    copy_text(text) and dump_clipboard(), which ends with "clip-end"; it
    calls read_commands() when stdin is readable and report() when the entry
    changes."""

    pending = b""

    def report(self):
        say("text entry " + escape(self.entry_text()))

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
            self.set_entry_text(unescape(argument))
            say("set entry")
        elif verb == "report" and name == "entry":
            self.report()
        elif verb == "copy-text":
            self.copy_text(unescape(rest))
            say("copied")
        elif verb == "dump-clipboard":
            self.dump_clipboard()
