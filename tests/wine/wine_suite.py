#!/usr/bin/env python3
"""End-to-end runs of the Windows program on Wine's registry.

One scratch prefix per build directory, made once and reused. `run` does
everything Wine must do and records it: under each ANSI code page of
CODE_PAGES (Wine takes its page from the locale named by LANG and LC_ALL at
start-up; no locale needs to be installed for that) every fixture (the same
registry export files the host tests feed to the emulated registry, 8-bit
REGEDIT4 and UTF-16) is imported under its own test key, the whole prefix is
exported, the program runs once over it within a time limit, a walk and a
second export follow, and the emulated registry runs on the same fixtures
under the same page. `check --group G` then checks one group on what was
recorded, each group a CTest case of its own:
  executable       the program's PE header and import table;
  output           exit status 33 and the exact output bytes, dots included
                   (worked out from what a walk of the prefix after the run
                   visits, plus the removed keys the program met);
  nothing-created  the second export holds no key the first did not, and
                   Wine's exports parse;
  fixture          for one fixture (--fixture): it imports whole, the keys
                   left are those of its .after.reg (or .after.PAGE.reg)
                   file with every value intact, and the emulated registry
                   leaves the same keys (the differential check).

Each prints one line per check and a closing "N passed, N failed" line, and
exits 0 when all passed, 1 when any failed, and 77 (skipped) when Wine or the
Windows build is missing on a machine that is not CI.
"""

import argparse
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
import windows_programs  # noqa: E402

SKIPPED = 77
TEST_ROOTS = [r"HKEY_CURRENT_USER\Software\TolvanikTest",
              r"HKEY_LOCAL_MACHINE\Software\TolvanikTest"]
ROOTS = windows_programs.ROOT_KEYS
# What a whole export covers: HKEY_CLASSES_ROOT is a view of keys below
# HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, which is a key below HKEY_USERS.
EXPORTED_ROOTS = ["HKEY_LOCAL_MACHINE", "HKEY_USERS"]
# Where Wine itself adds keys while programs run: it registers a display
# device (a new GUID below Control\Video) when it starts a desktop. Keys
# there are no sign that the program created anything.
WINE_OWN_KEYS = [r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Video",
                 r"HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control\Video"]
# (ANSI code page, the locale that makes Wine use it).
CODE_PAGES = [("1252", "en_US.UTF-8"), ("932", "ja_JP.UTF-8")]
RUN_TIMEOUT = 120
BANNER = windows_programs.BANNER
CLOSING = windows_programs.CLOSING


Suite = windows_programs.Suite


def skip_or_fail(message):
    if os.environ.get("CI"):
        print(f"FAIL: {message} (CI must run the Wine suite)")
        print("0 passed, 1 failed")
        sys.exit(1)
    print(f"SKIPPED: {message}; './check' installs what is missing when run as root")
    sys.exit(SKIPPED)


# ---- registry export files ----

def fold(path):
    """Key names compare without regard to case, beyond ASCII too: each
    character upper-cased where that gives one character."""
    return "".join(c.upper() if len(c.upper()) == 1 else c for c in path)


def read_export(path, code_page="1252"):
    """The text of a registry export: UTF-16LE after a byte-order mark, as
    regedit and reg export write it; UTF-8 after one; else 8-bit text in the
    ANSI code page."""
    data = pathlib.Path(path).read_bytes()
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8")
    return data.decode(f"cp{code_page}", errors="replace")


def parse_reg_file(path, code_page="1252", problems=None):
    """Returns {folded key path: {value name: [type, data]}} with implied keys;
    two sections that name one key in different cases add to the same key.
    A line that is not a section or a value is left out and reported in
    `problems` as "file:line: ..." (a ValueError when no list is given)."""
    keys = {}
    current = None
    pending = ""
    for number, raw in enumerate(read_export(path, code_page).splitlines()[1:], start=2):
        line = pending + raw
        if line.endswith("\\") and current is not None and not line.startswith("["):
            pending = line[:-1].strip() if pending else line[:-1]
            continue
        pending = ""
        if line.startswith("["):
            if "]" not in line:
                report(problems, f"{path}:{number}: a section header without ']'")
                current = None
                continue
            current = fold(line[1:line.rindex("]")])
            parts = current.split("\\")
            for i in range(2, len(parts) + 1):
                keys.setdefault("\\".join(parts[:i]), {})
            continue
        stripped = line.strip()
        if not stripped or stripped.startswith(";"):
            continue
        value = parse_value_line(stripped)
        if value is None or current is None:
            report(problems, f"{path}:{number}: not a value line: {stripped[:60]!r}")
            continue
        keys[current][value[0]] = value[1]
    return keys


def report(problems, problem):
    if problems is None:
        raise ValueError(problem)
    problems.append(problem)


def parse_value_line(line):
    """(name, [type, data]) of a value line, or None for another line. The
    data is taken whole, blanks and all."""
    if line.startswith("@="):
        name, rest = "(Default)", line[2:]
    else:
        match = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
        if match is None:
            return None
        name, rest = unescape(match.group(1)), match.group(2)
    if rest.startswith('"') and rest.endswith('"') and len(rest) >= 2:
        return name, ["REG_SZ", unescape(rest[1:-1])]
    if re.fullmatch(r"dword:[0-9a-fA-F]{8}", rest):
        return name, ["REG_DWORD", int(rest[6:], 16)]
    if rest.startswith("hex:"):
        data = "".join(part.strip() for part in rest[4:].split(",") if part.strip())
        return name, ["REG_BINARY", data.upper()]
    if re.match(r"hex\([0-9a-fA-F]+\):", rest):
        # hex(2):, hex(7): and the other typed forms, as their text.
        return name, ["RAW", "".join(rest.split()).upper()]
    return None


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def below(keys, roots):
    return {k for k in keys if any(k.startswith(fold(r) + "\\") for r in roots)}


# ---- Wine ----

class Wine:
    def __init__(self, prefix, arch):
        self.env = dict(os.environ)
        self.env.update({"WINEPREFIX": str(pathlib.Path(prefix).resolve()), "WINEARCH": arch,
                         "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="})
        self.env.pop("DISPLAY", None)
        self.prefix = pathlib.Path(prefix).resolve()

    def use_locale(self, locale):
        """Restarts the prefix's server so that programs start under `locale`,
        and with it its ANSI code page."""
        self.stop()
        self.env.update({"LANG": locale, "LC_ALL": locale})

    def run(self, *args, stdout=None, check=False, timeout=180):
        """Runs a program under Wine; returns (status, standard output bytes).

        Output goes to files, never pipes: the helper processes that Wine
        starts with the first program inherit its descriptors and would hold
        a pipe open long after the program ended."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            status = subprocess.run(["wine", *map(str, args)], env=self.env,
                                    stdin=subprocess.DEVNULL,
                                    stdout=stdout if stdout is not None else out,
                                    stderr=err, timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            if check and status != 0:
                raise RuntimeError(f"wine {' '.join(map(str, args))}: status {status}: "
                                   f"{err.read().decode(errors='replace')}")
            return status, out.read()

    def start(self):
        """Makes the prefix if it is new."""
        if not (self.prefix / "system.reg").exists():
            self.prefix.parent.mkdir(parents=True, exist_ok=True)
            subprocess.run(["wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300, check=True)
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=300, check=True)

    def export_keys(self, root, problems):
        """{folded key path: {value name: [type, data]}} at and below `root`,
        from reg export, which writes UTF-16 and so every name as it is."""
        with tempfile.TemporaryDirectory() as workdir:
            path = pathlib.Path(workdir) / "export.reg"
            status, _ = self.run("reg", "export", root, path, "/y")
            if status != 0 or not path.exists():
                return {}
            return parse_reg_file(path, problems=problems)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


def expected_output(visited_per_root):
    out = BANNER
    total = 0
    for root in ROOTS:
        before = total // 1000
        total += visited_per_root[root]
        out += b"\r\nEnumerating " + root.encode() + b" " + b"." * (total // 1000 - before)
    return out + CLOSING


def emulated_keys(host_tool, fixture, code_page, workdir):
    store = pathlib.Path(workdir) / fixture.name
    shutil.copyfile(fixture, store)
    env = dict(os.environ, EMULATED_REGISTRY=str(store), EMULATED_PLATFORM="nt",
               EMULATED_CODEPAGE=code_page)
    result = subprocess.run([host_tool], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
    if result.returncode != 33:
        raise RuntimeError(f"emulated run on {fixture.name}: status {result.returncode}: "
                           f"{result.stderr.decode()}")
    return sorted(parse_reg_file(store, code_page))


def after_file(fixture, code_page):
    """X.after.PAGE.reg where what a run leaves depends on the page, else
    X.after.reg."""
    paged = fixture.with_name(f"{fixture.stem}.after.{code_page}.reg")
    return paged if paged.exists() else fixture.with_name(fixture.stem + ".after.reg")


def fixture_files(directory):
    return sorted(p for p in pathlib.Path(directory).glob("*.reg") if ".after." not in p.name)


def whole_prefix(wine, problems):
    keys = {}
    for root in EXPORTED_ROOTS:
        keys.update(wine.export_keys(root, problems))
    return keys


def test_keys(wine, problems):
    keys = {}
    for root in TEST_ROOTS:
        keys.update(wine.export_keys(root, problems))
    return keys


# ---- the run: everything Wine does, recorded for the checks ----

def run_under_code_page(wine, args, fixtures, code_page):
    """Imports every fixture, exports the prefix, runs the program within the
    time limit, walks and exports again, and runs the emulated registry on
    the same fixtures: what the checks need, as plain data."""
    result = {"problems": []}
    problems = result["problems"]
    for root in TEST_ROOTS:
        wine.run("reg", "delete", root, "/f")
    for fixture in fixtures:
        wine.run("regedit", "/s", fixture, check=True)
    exported = whole_prefix(wine, problems)
    result["imported"] = sorted(below(test_keys(wine, problems), TEST_ROOTS))

    out_file = args.prefix.parent / f"tolvanik-{args.arch}-{code_page}.out"
    try:
        with open(out_file, "wb") as out:
            status, _ = wine.run(args.exe, "ignored", "/?", stdout=out, timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        wine.stop()
        result["timed_out"] = True
        return result
    result["timed_out"] = False
    result["status"] = status
    result["output"] = out_file.read_bytes().decode("latin-1")
    walk = wine.run(args.walker)[1].decode()
    result["walk"] = {line.split()[0]: int(line.split()[1]) for line in walk.splitlines() if line}
    created = set(whole_prefix(wine, problems)) - set(exported)
    result["created"] = sorted(created - below(created, WINE_OWN_KEYS))
    remaining = test_keys(wine, problems)
    result["remaining"] = {k: remaining[k] for k in sorted(below(remaining, TEST_ROOTS))}
    with tempfile.TemporaryDirectory() as workdir:
        result["emulated"] = {fixture.name: emulated_keys(args.host_tool, fixture, code_page,
                                                          workdir) for fixture in fixtures}
    return result


def run(args):
    # A record left by an earlier run must not stand in for this one.
    args.results.unlink(missing_ok=True)
    if shutil.which("wine") is None or shutil.which("wineboot") is None:
        skip_or_fail("wine is not installed")
    if not args.exe.exists() or not args.walker.exists():
        skip_or_fail(f"{args.exe} was not built (MinGW-w64 missing?)")
    fixtures = fixture_files(args.fixtures)
    results = {"exe": str(args.exe), "arch": args.arch, "pages": {}}
    wine = Wine(args.prefix, args.arch)
    start = time.monotonic()
    try:
        wine.start()
        for code_page, locale in CODE_PAGES:
            wine.use_locale(locale)
            results["pages"][code_page] = run_under_code_page(wine, args, fixtures, code_page)
            print(f"code page {code_page} ({locale}): run and recorded "
                  f"[{time.monotonic() - start:5.1f} s]", flush=True)
    finally:
        for root in TEST_ROOTS:
            wine.run("reg", "delete", root, "/f")
        wine.stop()
    args.results.parent.mkdir(parents=True, exist_ok=True)
    args.results.write_text(json.dumps(results))
    print("1 passed, 0 failed")
    return 0


# ---- the checks, each group a test of its own ----

def runs_that_ended(suite, results):
    """The code pages whose run ended within the limit, the others failed."""
    pages = []
    for code_page, result in results["pages"].items():
        if suite.check(not result["timed_out"],
                       f"[{code_page}] the run ends within {RUN_TIMEOUT} s"):
            pages.append(code_page)
    return pages


def check_executable(suite, results, args):
    exe = pathlib.Path(results["exe"])
    if windows_programs.objdump_for(results["arch"]) is None:
        skip_or_fail(f"{windows_programs.ARCHITECTURES[results['arch']][0]} is not installed")
    windows_programs.check_executable(suite, exe, results["arch"])


def check_output(suite, results, args):
    for code_page in runs_that_ended(suite, results):
        result = results["pages"][code_page]
        suite.check(result["status"] == 33, f"[{code_page}] exit status is 33",
                    f"status {result['status']}")
        before, after = {}, {}
        for fixture in fixture_files(args.fixtures):
            before.update(parse_reg_file(fixture, code_page))
            after.update(parse_reg_file(after_file(fixture, code_page), code_page))
        # Keys that the program removes and meets, each counted where it is met.
        removed = set(before) - set(after)
        tops = {k for k in removed if k.rsplit("\\", 1)[0] not in removed}
        visited = dict(result["walk"])
        for top in tops:
            visited[top.split("\\", 1)[0].upper()] += 1
        expected = expected_output(visited)
        output = result["output"].encode("latin-1")
        suite.check(output == expected,
                    f"[{code_page}] output bytes: banner, root lines, dots, closing, CR LF",
                    f"expected {expected!r}\ngot      {output!r}")
        suite.check(b"\r\r\n" not in output and output.count(b"\n") == output.count(b"\r\n"),
                    f"[{code_page}] every line break is one CR LF")


def check_nothing_created(suite, results, args):
    for code_page in runs_that_ended(suite, results):
        result = results["pages"][code_page]
        suite.check(not result["problems"], f"[{code_page}] Wine's exports parse",
                    "\n".join(result["problems"]))
        suite.check(not result["created"],
                    f"[{code_page}] a whole export after the run holds no key that was not there",
                    f"created: {result['created']}")


def areas(keys):
    """The keys directly below the test roots that a fixture's keys lie in:
    each fixture has its own."""
    depth = len(TEST_ROOTS[0].split("\\")) + 1
    return {"\\".join(k.split("\\")[:depth]) for k in below(keys, TEST_ROOTS)}


def within(keys, area_set):
    return {k for k in keys if any(k == a or k.startswith(a + "\\") for a in area_set)}


def check_fixture(suite, results, args):
    fixture = args.fixtures / f"{args.fixture}.reg"
    for code_page, result in results["pages"].items():
        problems = []
        before = parse_reg_file(fixture, code_page, problems)
        after = parse_reg_file(after_file(fixture, code_page), code_page, problems)
        suite.check(not problems, f"[{code_page}] {fixture.name} and its .after file parse",
                    "\n".join(problems))
        own = areas(before)
        imported = within(result["imported"], own)
        suite.check(imported == below(before, TEST_ROOTS), f"[{code_page}] it imports whole",
                    f"differ: {sorted(imported ^ below(before, TEST_ROOTS))}")
        if result["timed_out"]:
            suite.check(False, f"[{code_page}] the run ends within {RUN_TIMEOUT} s")
            continue
        got, want = within(result["remaining"], own), below(after, TEST_ROOTS)
        suite.check(got == want, f"[{code_page}] the keys left are exactly those of the .after file",
                    f"left but should be gone: {sorted(got - want)}\n"
                    f"gone but should be left: {sorted(want - got)}")
        lost = [k for k in sorted(want & got) if result["remaining"][k] != after[k]]
        suite.check(not lost, f"[{code_page}] every value of every kept key is intact",
                    "\n".join(f"{k}: {result['remaining'][k]} != {after[k]}" for k in lost))
        emulated = below(set(result["emulated"][fixture.name]), TEST_ROOTS)
        suite.check(emulated == got,
                    f"[{code_page}] the emulated registry leaves the same keys as Wine",
                    f"only emulated: {sorted(emulated - got)}\nonly Wine: {sorted(got - emulated)}")


CHECKS = {"executable": check_executable, "output": check_output,
          "nothing-created": check_nothing_created, "fixture": check_fixture}


def check(args):
    if not args.results.exists():
        skip_or_fail(f"no record in {args.results}: the run was skipped or did not finish")
    results = json.loads(args.results.read_text())
    suite = Suite()
    CHECKS[args.group](suite, results, args)
    print(f"{suite.passed} passed, {suite.failed} failed")
    return 0 if suite.failed == 0 else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    run_parser = commands.add_parser("run", help="import, run, record")
    run_parser.add_argument("--exe", type=pathlib.Path, required=True)
    run_parser.add_argument("--walker", type=pathlib.Path, required=True)
    run_parser.add_argument("--host-tool", type=pathlib.Path, required=True)
    run_parser.add_argument("--fixtures", type=pathlib.Path, required=True)
    run_parser.add_argument("--prefix", type=pathlib.Path, required=True)
    run_parser.add_argument("--arch", choices=["win32", "win64"], required=True)
    run_parser.add_argument("--results", type=pathlib.Path, required=True)
    check_parser = commands.add_parser("check", help="one group of checks on recorded results")
    check_parser.add_argument("--results", type=pathlib.Path, required=True)
    check_parser.add_argument("--group", choices=sorted(CHECKS), required=True)
    check_parser.add_argument("--fixtures", type=pathlib.Path, required=True)
    check_parser.add_argument("--fixture", help="the fixture's name, for --group fixture")
    args = parser.parse_args()
    return run(args) if args.command == "run" else check(args)


if __name__ == "__main__":
    sys.exit(main())
