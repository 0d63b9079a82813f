#!/usr/bin/env python3
"""Mutation check: makes one small fault at a time in core source files,
rebuilds the unit-test programs that cover the file, and records whether the
tests notice (killed), miss it (survived) or the fault does not compile.

Mutant ids are `path:line:operator:occurrence`; the product files do not change
between runs, so `--only-ids` re-runs exactly the same mutants on another suite.

  scripts/mutate.py                              # default files, 12 mutants each
  scripts/mutate.py --files src/text/Tidy.cpp --max-per-file 5
  scripts/mutate.py --only-ids scripts/mutants/baseline.txt --out after.txt
"""

import argparse
import concurrent.futures
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# Every core file that makes decisions (branches, comparisons, tables). Left
# out: files of data or plain calls (BuiltInPrompts, ConfigDefaults,
# ServiceResult, DateFormat, LetterCase, PageScript) and the few with one or
# two checks each (Paths, NotificationCenter, ConfigFile, TakeFile, InputLevel,
# Transcription, BrandIcon).
DEFAULT_FILES = [
    "src/delivery/Paster.cpp", "src/delivery/Inserter.cpp", "src/capture/HotkeyMonitor.cpp",
    "src/capture/Recorder.cpp", "src/app/DictationController.cpp", "src/config/Config.cpp",
    "src/records/StatsEvent.cpp", "src/records/StatsQueries.cpp", "src/text/Corrections.cpp",
    "src/text/Tidy.cpp", "src/services/APIError.cpp", "src/feedback/Overlay.cpp",
    "src/home/HomeActions.cpp", "src/platform/KeyTranslator.cpp", "service/Service.cpp",
    "service/HttpMessage.cpp", "service/HttpServer.cpp",
    "src/base/Files.cpp", "src/base/Strings.cpp", "src/base/Uuid.cpp", "src/base/AppState.cpp",
    "src/base/Log.cpp",
    "src/config/ConfigMigration.cpp",
    "src/services/Url.cpp", "src/services/APITransport.cpp", "src/services/Answers.cpp",
    "src/services/Auth.cpp", "src/services/Account.cpp", "src/services/Polishing.cpp",
    "src/services/Multipart.cpp", "src/services/TextPieces.cpp",
    "src/text/Smart.cpp", "src/text/Graphemes.cpp", "src/text/RegexText.cpp",
    "src/records/LocalCalendar.cpp", "src/records/Stats.cpp", "src/records/History.cpp",
    "src/capture/TakeFiles.cpp", "src/capture/KeptTake.cpp", "src/capture/KeyNames.cpp",
    "src/delivery/Utf16.cpp",
    "src/feedback/OverlayPlacement.cpp", "src/feedback/OverlayView.cpp",
    "src/home/WebText.cpp", "src/home/HomeSettings.cpp", "src/home/HomeFeeds.cpp",
    "src/home/Home.cpp", "src/home/PageMessage.cpp",
    "src/app/DictationRetry.cpp", "src/app/DictationPipeline.cpp", "src/app/CommandLine.cpp",
    "src/app/CommandHandOver.cpp",
    "src/app/TranscribeCommand.cpp", "src/app/TakeGuards.cpp", "src/app/AppDelegate.cpp",
]

# Which unit-test programs cover a source folder, the folder's own first; a
# mutant is killed by the first program that fails. Later programs are those
# whose tests drive the folder's code through their own (the controller's
# tests run the text, services and records of a real dictation).
PROGRAMS = {
    "src/base": ["tests_base", "tests_capture", "tests_home", "tests_app"],
    "src/delivery": ["tests_delivery", "tests_app"],
    "src/capture": ["tests_capture", "tests_app"],
    "src/app": ["tests_app"],
    "src/platform": ["tests_platform"],
    "src/config": ["tests_base", "tests_app"],
    "src/records": ["tests_records", "tests_home", "tests_app"],
    "src/text": ["tests_text", "tests_records", "tests_home", "tests_app"],
    "src/services": ["tests_services", "tests_home", "tests_app"],
    "src/feedback": ["tests_feedback", "tests_app"],
    "src/home": ["tests_home", "tests_app"],
    "service": ["tests_service"],
}
# The service's cases run against SQLite and PostgreSQL (instance /1); the
# embedded store is enough to judge a mutant and much faster.
TEST_ARGS = {"tests_service": ["--gtest_filter=-*/1"]}

CONFIGURE = ["-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug", "-DVELVOX_SANITIZE=OFF",
             "-DVELVOX_BENCHMARKS=OFF"]
# ccache makes each rebuild after a mutant cheaper where it is installed; the
# check runs without it (an empty launcher clears one an older build set).
CONFIGURE.append("-DCMAKE_CXX_COMPILER_LAUNCHER=" + ("ccache" if shutil.which("ccache") else ""))
BUILD_TIMEOUT = 900

# (operator name, pattern on the code-only line, replacement for the match)
SPACED = r"(?<=\s){}(?=\s)"  # a binary operator as clang-format spaces it (not a template)
SWAPS = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">",
         "&&": "||", "||": "&&", "true": "false", "false": "true"}
OPERATORS = [
    ("cmp", SPACED.format(r"(?:==|!=|<=|>=|<|>)"), lambda m: SWAPS[m.group()]),
    ("logic", SPACED.format(r"(?:&&|\|\|)"), lambda m: SWAPS[m.group()]),
    ("bool", r"\b(?:true|false)\b", lambda m: SWAPS[m.group()]),
    ("int", r"(?<![\w.'])\d+(?![\w.'])", lambda m: str(int(m.group()) + 1)),
]
CALL = re.compile(r"^\s*[A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*\s*\(.*\);\s*$")
NOT_CALLS = {"if", "for", "while", "switch", "return", "delete", "throw", "sizeof", "static_assert"}


def in_number(text, i):
    """Whether the quote at i separates digits (1'000), rather than opening a
    character literal after an encoding prefix (u'0', L'x')."""
    start = i
    while start and (text[start - 1].isalnum() or text[start - 1] in "_'"):
        start -= 1
    return start < i and text[start].isdigit()


def code_mask(text):
    """The text with comments, string and character literals blanked out
    (newlines kept), so that operators are only looked for in code."""
    out, i, n = list(text), 0, len(text)

    def blank(a, b):
        for k in range(a, min(b, n)):  # an unterminated literal ends with the text
            if out[k] != "\n":
                out[k] = " "

    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
        elif text.startswith('R"', i) and not text[i - 1:i].isidentifier():  # raw string
            delim = text[i + 2:text.find("(", i)]
            end = text.find(")" + delim + '"', i)
            end = n if end < 0 else end + len(delim) + 2
        elif c in "\"'" and not (c == "'" and in_number(text, i)):  # 1'000 separators
            end = i + 1
            while end < n and text[end] != c:
                end += 2 if text[end] == "\\" else 1
            end += 1
        else:
            i += 1
            continue
        blank(i, end)
        i = end
    return "".join(out)


def is_call_statement(code, previous):
    """A line that is a whole statement made of one call (balanced parentheses,
    the line before ends a statement or opens a block)."""
    head = code.strip().split("(")[0].split("::")[0].split(".")[0].split("->")[0].strip()
    return (bool(CALL.match(code)) and head not in NOT_CALLS and code.count("(") == code.count(")")
            and previous.rstrip().endswith((";", "{", "}", ":")))


def candidates(path, root=ROOT):
    """Every mutant of one file, in file order: (id, line number, original, mutated)."""
    lines = (root / path).read_text().split("\n")
    code_lines = code_mask("\n".join(lines)).split("\n")
    found, previous = [], ";"
    for number, (line, code) in enumerate(zip(lines, code_lines), start=1):
        stripped = code.strip()
        if not stripped or line.lstrip().startswith("#") or set(stripped) <= set("{}();"):
            continue
        for name, pattern, replace in OPERATORS:
            for k, m in enumerate(re.finditer(pattern, code)):
                mutated = line[:m.start()] + replace(m) + line[m.end():]
                found.append((f"{path}:{number}:{name}:{k}", number, line, mutated))
        if is_call_statement(code, previous):
            indent = line[:len(line) - len(line.lstrip())]
            found.append((f"{path}:{number}:call:0", number, line, indent + ";"))
        previous = stripped
    return found


def spread(items, count):
    """A deterministic, evenly spread sample of `count` items."""
    if len(items) <= count:
        return items
    return [items[(2 * i + 1) * len(items) // (2 * count)] for i in range(count)]


def programs_for(path):
    return PROGRAMS[str(Path(path).parent)]


def build(build_dir, program, jobs):
    """Builds one test program; True when it compiled and linked."""
    command = ["nice", "cmake", "--build", str(build_dir), "-j", str(jobs), "--target", program]
    try:
        return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=BUILD_TIMEOUT).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def run_tests(root, build_dir, program, timeout):
    """Runs one test program; returns (passed, first failing test or 'timeout')."""
    binary = build_dir / "tests" / program
    env = dict(os.environ, VELVOX_TEST_DATA=str(root / "tests/data"))
    try:
        done = subprocess.run(["nice", str(binary), *TEST_ARGS.get(program, [])], env=env,
                              cwd=build_dir, capture_output=True, text=True, errors="replace",
                              timeout=timeout, start_new_session=True)
    except subprocess.TimeoutExpired:
        return False, "timeout"
    failed = re.search(r"^\[  FAILED  \] ([^\s,]+)", done.stdout, re.M)
    return done.returncode == 0, failed.group(1) if failed else f"exit {done.returncode}"


def apply_mutant(root, path, number, original, mutated):
    """Writes the mutated line into the file; returns the original text."""
    file = root / path
    text = file.read_text()
    lines = text.split("\n")
    if lines[number - 1] != original:
        raise RuntimeError(f"{path}:{number} is not the line the mutant was made from")
    lines[number - 1] = mutated
    file.write_text("\n".join(lines))
    return text


class Worker:
    """One source tree and its build folder; mutants in it run one at a time."""

    def __init__(self, root, build_dir, jobs):
        self.root, self.build_dir, self.jobs = root, build_dir, jobs
        self.timeouts = {}

    def prepare(self, programs):
        """Configures the build and checks that the untouched programs pass;
        each program's time-out is ten times its clean run (at least 15 s)."""
        subprocess.run(["cmake", "-S", str(self.root), "-B", str(self.build_dir), *CONFIGURE],
                       check=True, stdout=subprocess.DEVNULL)
        for program in programs:
            if not build(self.build_dir, program, self.jobs):
                sys.exit(f"{program} does not build without mutants")
            start = time.monotonic()
            passed, failed = run_tests(self.root, self.build_dir, program, 1800)
            if not passed:
                sys.exit(f"{program} fails without mutants ({failed})")
            self.timeouts[program] = max(15, 10 * (time.monotonic() - start))

    def judge(self, mutant):
        """Applies one mutant, rebuilds and runs its programs, always restores
        the file. Returns (status, detail)."""
        ident, number, original, mutated = mutant
        path = ident.split(":")[0]
        backup = self.build_dir / "mutate-backup" / path
        backup.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(self.root / path, backup)
        try:
            apply_mutant(self.root, path, number, original, mutated)
            for program in programs_for(path):
                if not build(self.build_dir, program, self.jobs):
                    return "did-not-compile", program
                passed, failed = run_tests(self.root, self.build_dir, program,
                                           self.timeouts[program])
                if not passed:
                    return "killed", f"{program} {failed}"
            return "survived", ""
        finally:
            # A fresh time stamp, so that the next build compiles the original again.
            shutil.copyfile(backup, self.root / path)
            backup.unlink()


def copy_tree(target):
    """A copy of the sources for a parallel worker (its own build folder inside)."""
    ignore = shutil.ignore_patterns(".git", "build", "node_modules", "test-artifacts")
    shutil.copytree(ROOT, target, ignore=ignore, copy_function=shutil.copyfile,
                    dirs_exist_ok=True)
    return target


def restore_leftovers(build_dir):
    """Puts back any file a killed earlier run left mutated."""
    backups = build_dir / "mutate-backup"
    for backup in backups.rglob("*") if backups.exists() else []:
        if backup.is_file():
            shutil.copyfile(backup, ROOT / backup.relative_to(backups))
            backup.unlink()
            print(f"restored {backup.relative_to(backups)} from an interrupted run")


def select(args):
    """The mutants to run: the ids from a file, or a sample of each file's."""
    if args.only_ids:
        wanted = [line.split()[0] for line in Path(args.only_ids).read_text().splitlines()
                  if line[:1] not in ("", " ", "#")]
        by_id = {}
        for path in dict.fromkeys(ident.split(":")[0] for ident in wanted):
            by_id.update((m[0], m) for m in candidates(path))
        missing = [ident for ident in wanted if ident not in by_id]
        if missing:
            sys.exit("unknown mutant ids (has a product file changed?): " + ", ".join(missing))
        return [by_id[ident] for ident in wanted]
    return [m for path in args.files for m in spread(candidates(path), args.max_per_file)]


def describe(results):
    """Each mutant's line (id, status, what killed it) and its two texts."""
    lines = []
    for (ident, _, original, mutated), (status, detail) in results:
        lines += [f"{ident} {status} {detail}".rstrip(),
                  f"    - {original.strip()}", f"    + {mutated.strip()}"]
    return lines


def write_results(out, results):
    """All mutants with a summary per file and in total; the killed ones alone
    beside them (OUT-killed.txt), ready for --only-ids."""
    lines = describe(results)
    lines += ["", "# file: mutants killed survived did-not-compile"]
    files = dict.fromkeys(m[0].split(":")[0] for m, _ in results)
    for path in [*files, None]:
        statuses = [s for m, (s, _) in results if path in (None, m[0].split(":")[0])]
        counts = [statuses.count(s) for s in ("killed", "survived", "did-not-compile")]
        lines.append(f"# {path or 'total'}: {len(statuses)} {' '.join(map(str, counts))}")
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text("\n".join(lines) + "\n")
    killed = describe([r for r in results if r[1][0] == "killed"])
    out.with_name(out.stem + "-killed.txt").write_text("\n".join(killed) + "\n")


def git_is_clean(paths):
    return subprocess.run(["git", "-C", str(ROOT), "diff", "--quiet", "--", *paths]).returncode == 0


def interrupted(*_):
    raise KeyboardInterrupt


def lock_build(build_dir):
    """Holds the build folder for this run; a second run there stops at once."""
    build_dir.mkdir(parents=True, exist_ok=True)
    lock = open(build_dir / "mutate.lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.exit(f"another mutation run is using {build_dir}")
    return lock


def make_workers(main_build, jobs):
    """The tree itself, plus a copy for each further job."""
    workers = [Worker(ROOT, main_build, 2 if jobs == 1 else 1)]
    for k in range(1, jobs):
        tree = copy_tree(ROOT / f"build/mutate-copy-{k}")
        workers.append(Worker(tree, tree / "build", 1))
    return workers


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", nargs="+", default=DEFAULT_FILES)
    parser.add_argument("--max-per-file", type=int, default=12)
    parser.add_argument("--only-ids", help="re-run exactly the ids listed in this file")
    parser.add_argument("--out", default="build/mutate/mutants.txt")
    parser.add_argument("--jobs", type=int, default=1,
                        help="mutants at once, each in its own copy of the tree")
    parser.add_argument("--list", action="store_true", help="print the mutants, run nothing")
    args = parser.parse_args()
    # A terminated run restores the file like an interrupted one (also when
    # started in the background, where Ctrl-C would otherwise be ignored).
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGINT, interrupted)

    mutants = select(args)
    if args.list:
        for ident, _, original, mutated in mutants:
            print(f"{ident}\n    - {original.strip()}\n    + {mutated.strip()}")
        return
    main_build = ROOT / "build/mutate"
    lock = lock_build(main_build)  # held until the run ends
    restore_leftovers(main_build)
    workers = make_workers(main_build, args.jobs)
    programs = list(dict.fromkeys(p for m in mutants for p in programs_for(m[0].split(":")[0])))
    for worker in workers:
        worker.prepare(programs)

    results = []
    try:
        for mutant, outcome in zip(mutants, judge_all(workers, mutants)):
            results.append((mutant, outcome))
            print(f"{mutant[0]}: {' '.join(outcome)}", flush=True)
    finally:
        write_results(ROOT / args.out, results)
        print(f"results in {args.out}")
        if not git_is_clean({m[0].split(":")[0] for m in mutants}):
            sys.exit("the source tree is not clean after the run: check git diff")


def judge_all(workers, mutants):
    """Outcomes in the mutants' order: one at a time in the tree, or spread
    over the workers' copies."""
    if len(workers) == 1:
        yield from map(workers[0].judge, mutants)
        return
    free = list(workers)

    def judge(mutant):
        worker = free.pop()
        try:
            return worker.judge(mutant)
        finally:
            free.append(worker)

    with concurrent.futures.ThreadPoolExecutor(len(workers)) as pool:
        yield from pool.map(judge, mutants)


if __name__ == "__main__":
    main()
