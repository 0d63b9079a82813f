#!/usr/bin/env python3
"""Checks that the code's layers hold: no include runs back up, and no library
links one above it.

Includes (every `#include "..."` under src/ and service/):
  - base/ includes only base/ and the seam's registry (platform/Platform.h);
  - the seam (platform/, and its HTTP client platform/curl/) includes only
    base/ and platform/;
  - a core folder includes base/, the seam's interfaces and the core folders
    below it in CORE; never the port (linux/) nor the HTTP client;
  - a backend (linux/NAME/) includes base/, the seam's interfaces, itself and
    the backends BACKENDS lets it build on; never the core;
  - the wiring beside main.cpp includes base/, the seam and the backends;
    only the programs' main.cpp (the application's, and the command front's
    in linux/front/) include the core;
  - velvox-service includes base/, the seam and services/ (with the HTTP client).
Link lines (target_link_libraries, and LINKS of velvox_module and
velvox_backend, in every CMakeLists.txt and cmake/*.cmake):
  - the fakes link neither a backend nor the HTTP client, even through another library;
  - a backend links no core library; a core library links no backend.

  scripts/check-layers.py [--root DIR]     # exit 1 and one line per fault
"""

import argparse
import re
import sys
from pathlib import Path

# The core, from the floor up: a folder may include those before it.
CORE = ["base", "platform", "config", "services", "text", "records", "capture", "delivery",
        "feedback", "home", "app"]
# What each backend of the port is built on, besides base/ and the seam.
BACKENDS = {
    "glib": [], "dbus": [], "draw": [], "x11": ["glib"], "atspi": ["glib"], "gst": ["glib"],
    # GTK draws the pill with the drawing helpers and finds the active
    # window's monitor on the X server it runs on.
    "gtk": ["glib", "dbus", "draw", "x11"], "wayland": ["glib", "draw"], "home": ["glib"],
}
SERVICE_MAY_INCLUDE = {"base", "platform", "services"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    """(layer, detail) of a source file relative to the root: ("core", name),
    ("curl", None), ("backend", name), ("wiring", None), ("main", None),
    ("service", None); None for files the layers do not cover."""
    parts = path.parts
    if parts[0] == "service":
        return ("service", None)
    if parts[0] != "src" or len(parts) < 3:
        return None
    top = parts[1]
    if top == "linux":
        if parts[2:] == ("front", "main.cpp"):
            return ("main", None)
        if len(parts) == 3:
            return ("main", None) if parts[2] == "main.cpp" else ("wiring", None)
        return ("backend", parts[2])
    if top == "platform" and len(parts) > 3 and parts[2] == "curl":
        return ("curl", None)
    if top in CORE:
        return ("core", top)
    return None


def include_fault(layer, detail, target):
    """Why including `target` (as written, from src/) breaks the layers, or None."""
    head = target.split("/")[0]
    if "/" not in target:
        return None  # generated headers and system-style local names
    in_port = head == "linux"
    in_curl = target.startswith("platform/curl/")
    if layer == "main":
        return None
    if layer == "service":
        if head in SERVICE_MAY_INCLUDE:
            return None
        return "velvox-service includes " + head + "/"
    if layer == "curl":
        return None if head in ("base", "platform") else "the HTTP client includes " + head + "/"
    if layer == "core":
        if in_port:
            return "the core includes the port"
        if in_curl:
            return "the core includes the HTTP client (the seam's interface is platform/HttpClient.h)"
        if head not in CORE:
            return None
        if detail == "base":
            if head == "base" or target == "platform/Platform.h":
                return None
            return "base/ includes " + target + " above it"
        if CORE.index(head) > CORE.index(detail):
            return detail + "/ includes " + head + "/ above it"
        return None
    # The port: backends and the wiring.
    if head in CORE and head not in ("base", "platform"):
        return "the port includes the core (" + head + "/): it is given plain values"
    if in_curl:
        return "the port includes the HTTP client"
    if in_port and layer == "backend":
        backend = target.split("/")[1] if target.count("/") > 1 else ""
        if backend != detail and backend not in BACKENDS.get(detail, []):
            return "backend " + detail + " includes backend " + (backend or target)
    return None


def check_includes(root):
    faults = []
    for base in ("src", "service"):
        for path in sorted((root / base).rglob("*")):
            if path.suffix not in (".h", ".cpp") or not path.is_file():
                continue
            relative = path.relative_to(root)
            where = folder_of(relative)
            if not where:
                continue
            text = path.read_text(errors="replace")
            for match in INCLUDE.finditer(text):
                target = match.group(1)
                if (path.parent / target).exists() and "/" not in target:
                    continue  # a sibling, by its own name
                fault = include_fault(where[0], where[1], target)
                if fault:
                    line = text.count("\n", 0, match.start()) + 1
                    faults.append(f"{relative}:{line}: {fault} (#include \"{target}\")")
    return faults


CALL = re.compile(r"\b(target_link_libraries|velvox_module|velvox_backend)\s*\(([^)]*)\)", re.S)
KEYWORDS = {"PUBLIC", "PRIVATE", "INTERFACE", "LINKS", "SOURCES", "FOLDERS", "EXCLUDE"}


def link_graph(root):
    """target -> set of libraries it links, from every CMake file."""
    graph = {}
    files = [p for p in root.rglob("CMakeLists.txt") if "build" not in p.relative_to(root).parts]
    files += list((root / "cmake").glob("*.cmake"))
    for path in files:
        text = re.sub(r"#[^\n]*", "", path.read_text(errors="replace"))
        for kind, args in CALL.findall(text):
            words = args.split()
            if not words or words[0].startswith("$"):
                continue
            name = words[0]
            if kind == "velvox_module":
                name = "velvox_" + name
            elif kind == "velvox_backend":
                name = "velvox_linux_" + name
            if kind != "target_link_libraries":
                words = words[words.index("LINKS"):] if "LINKS" in words else []
            else:
                words = words[1:]
            graph.setdefault(name, set()).update(
                w for w in words if w not in KEYWORDS and not w.startswith("$"))
    return graph


def reach(graph, start):
    seen, todo = set(), [start]
    while todo:
        for library in graph.get(todo.pop(), ()):
            if library not in seen:
                seen.add(library)
                todo.append(library)
    return seen


def is_backend(library):
    return library.startswith("velvox_linux") or library == "velvox-home"


def check_links(root):
    graph = link_graph(root)
    faults = []
    core = {"velvox_" + name for name in CORE if name != "platform"}
    fakes = reach(graph, "velvox_fakes")
    for library in sorted(fakes):
        if is_backend(library) or library == "velvox_http":
            faults.append(f"velvox_fakes links {library}: a fake stands in for the system")
    for target in sorted(graph):
        linked = reach(graph, target)
        if target.startswith("velvox_linux_") or target == "velvox_linux":
            for library in sorted(linked & (core - {"velvox_base"})):
                faults.append(f"{target} links the core library {library}")
        if target in core:
            for library in sorted(l for l in linked if is_backend(l) or l == "velvox_http"):
                faults.append(f"the core library {target} links {library}")
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", type=Path, default=Path(__file__).resolve().parent.parent)
    args = parser.parse_args()
    faults = check_includes(args.root) + check_links(args.root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} layering fault(s)", file=sys.stderr)
        return 1
    print("layers hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())
