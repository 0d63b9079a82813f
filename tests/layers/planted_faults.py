#!/usr/bin/env python3
"""The layering check passes on the tree as it is and fails on each fault
planted in a copy of it, naming that fault."""

import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CHECK = ROOT / "scripts" / "check-layers.py"
COPIED = ["src", "service", "cmake", "CMakeLists.txt", "tests/CMakeLists.txt",
          "tests/integration/CMakeLists.txt", "bench/CMakeLists.txt"]

# (file, text to add, or (old, new) to replace, what the check must say)
INCLUDE_PLANTS = [
    ("src/delivery/Paster.cpp", '#include "linux/x11/X11Clipboard.h"', "the core includes the port"),
    ("src/platform/Pasteboard.cpp", '#include "config/Config.h"', "platform/ includes config/ above it"),
    ("src/base/Strings.cpp", '#include "text/Tidy.h"', "base/ includes text/Tidy.h above it"),
    ("src/capture/Recorder.cpp", '#include "app/AppDelegate.h"', "capture/ includes app/ above it"),
    ("src/text/Tidy.cpp", '#include "platform/curl/CurlHttpClient.h"', "the core includes the HTTP client"),
    ("src/linux/wayland/PortalShortcuts.cpp", '#include "config/Config.h"', "the port includes the core"),
    ("src/linux/LinuxSession.cpp", '#include "capture/KeyNames.h"', "the port includes the core"),
    ("src/linux/x11/X11Clipboard.cpp", '#include "linux/gtk/GtkPanel.h"', "backend x11 includes backend gtk"),
    ("service/Service.cpp", '#include "app/CommandLine.h"', "velvox-service includes app/"),
]
LINK_PLANTS = [
    ("CMakeLists.txt", ("velvox_fakes PUBLIC velvox_base", "velvox_fakes PUBLIC velvox_base velvox_linux_x11"),
     "velvox_fakes links velvox_linux_x11"),
    # Through the wiring, which links every backend.
    ("CMakeLists.txt", ("velvox_fakes PUBLIC velvox_base", "velvox_fakes PUBLIC velvox_base velvox_linux"),
     "velvox_fakes links velvox_linux_gst"),
    ("cmake/Linux.cmake", ("velvox_backend(gst LINKS", "velvox_backend(gst LINKS velvox_config"),
     "velvox_linux_gst links the core library velvox_config"),
    ("CMakeLists.txt", ("velvox_module(config FOLDERS src/config LINKS velvox_base",
                        "velvox_module(config FOLDERS src/config LINKS velvox_base velvox_http"),
     "the core library velvox_config links velvox_http"),
]


def run_check(root):
    done = subprocess.run([sys.executable, str(CHECK), "--root", str(root)], capture_output=True, text=True)
    return done.returncode, done.stdout


def main():
    failures = []
    code, out = run_check(ROOT)
    if code != 0:
        failures.append("the tree itself:\n" + out)
    for file, plant, expected in INCLUDE_PLANTS + LINK_PLANTS:
        with tempfile.TemporaryDirectory() as folder:
            copy = Path(folder)
            for item in COPIED:
                source, target = ROOT / item, copy / item
                target.parent.mkdir(parents=True, exist_ok=True)
                (shutil.copytree if source.is_dir() else shutil.copy)(source, target)
            path = copy / file
            text = path.read_text()
            if isinstance(plant, tuple):
                if plant[0] not in text:
                    failures.append(f"{file}: nothing to plant into ({plant[0]!r} is gone)")
                    continue
                text = text.replace(plant[0], plant[1], 1)
            else:
                text += "\n" + plant + "\n"
            path.write_text(text)
            code, out = run_check(copy)
            if code != 1 or expected not in out:
                failures.append(f"{file} with {plant!r}: exit {code}, wanted {expected!r}, said:\n{out}")
    for failure in failures:
        print(failure)
    print(f"{len(INCLUDE_PLANTS) + len(LINK_PLANTS)} planted faults, {len(failures)} missed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
