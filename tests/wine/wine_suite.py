#!/usr/bin/env python3
"""End-to-end runs of the Windows program on Wine's registry.

One scratch prefix per build directory, made once and reused. The run is
repeated under each ANSI code page of CODE_PAGES (Wine takes its page from
the locale named by LANG and LC_ALL at start-up; no locale needs to be
installed for that). Under each page every fixture (the same registry export
files the host tests feed to the emulated registry, 8-bit REGEDIT4 and
UTF-16) is imported under its own test key, the whole prefix is exported,
the program runs once over it within a time limit, and then:
  - its output must be the exact bytes expected, dots included: the dots are
    worked out from what a walk of the prefix after the run visits, plus the
    removed keys the program met on its way;
  - the exit status must be 33;
  - the keys left under each test key must be those of the fixture's
    .after.reg (or .after.PAGE.reg) file, with every value of every kept key
    intact;
  - a second export of the whole prefix must hold no key the first did not:
    nothing was created;
  - the emulated registry, run on the same fixtures under the same code page,
    must leave the same keys (the differential check).
Before that, the program's PE header and import table are checked.

Prints one line per check and a closing "N passed, N failed" line. Exits 0
when all passed, 1 when any failed, and 77 (skipped) when Wine or the Windows
build is missing on a machine that is not CI.
"""

import argparse
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
ROOTS = ["HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"]
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
BANNER = b"\r\nTOLVANIK v1.2: Clean up Quillorbex references from Windows registry\r\n"
CLOSING = b"\r\n\r\nRegistry successfully cleaned.\r\n"


class Suite:
    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.start = time.monotonic()

    def check(self, ok, what, detail=""):
        at = f"[{time.monotonic() - self.start:5.1f} s]"
        if ok:
            self.passed += 1
            print(f"ok: {what} {at}", flush=True)
        else:
            self.failed += 1
            print(f"FAIL: {what} {at}", flush=True)
            if detail:
                print("      " + detail.replace("\n", "\n      "))
        return ok


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


def parse_reg_file(path, code_page="1252"):
    """Returns {folded key path: {value name: (type, data)}} with implied keys;
    two sections that name one key in different cases add to the same key."""
    keys = {}
    current = None
    pending = ""
    for raw in read_export(path, code_page).splitlines()[1:]:
        line = pending + raw
        if line.endswith("\\") and current is not None and not line.startswith("["):
            pending = line[:-1].strip() if pending else line[:-1]
            continue
        pending = ""
        if line.startswith("["):
            current = fold(line[1:line.rindex("]")])
            parts = current.split("\\")
            for i in range(2, len(parts) + 1):
                keys.setdefault("\\".join(parts[:i]), {})
            continue
        stripped = line.strip()
        if not stripped or stripped.startswith(";"):
            continue
        name, value = parse_value_line(stripped)
        keys[current][name] = value
    return keys


def parse_value_line(line):
    if line.startswith("@="):
        name, rest = "(Default)", line[2:]
    else:
        match = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
        name, rest = unescape(match.group(1)), match.group(2)
    if rest.startswith('"'):
        return name, ("REG_SZ", unescape(rest[1:-1]))
    if rest.startswith("dword:"):
        return name, ("REG_DWORD", int(rest[6:], 16))
    if rest.startswith("hex:"):
        data = "".join(part.strip() for part in rest[4:].split(",") if part.strip())
        return name, ("REG_BINARY", data.upper())
    # hex(2):, hex(7): and the other typed forms, as their text.
    return name, ("RAW", "".join(rest.split()).upper())


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

    def export_keys(self, root):
        """{folded key path: {value name: (type, data)}} at and below `root`,
        from reg export, which writes UTF-16 and so every name as it is."""
        with tempfile.TemporaryDirectory() as workdir:
            path = pathlib.Path(workdir) / "export.reg"
            status, _ = self.run("reg", "export", root, path, "/y")
            if status != 0 or not path.exists():
                return {}
            return parse_reg_file(path)

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
    return set(parse_reg_file(store, code_page))


def after_file(fixture, code_page):
    """X.after.PAGE.reg where what a run leaves depends on the page, else
    X.after.reg."""
    paged = fixture.with_name(f"{fixture.stem}.after.{code_page}.reg")
    return paged if paged.exists() else fixture.with_name(fixture.stem + ".after.reg")


def whole_prefix(wine):
    keys = {}
    for root in EXPORTED_ROOTS:
        keys.update(wine.export_keys(root))
    return keys


def run_under_code_page(suite, wine, args, fixtures, code_page):
    """One import, run and check of every fixture with the ANSI code page
    `code_page`."""
    before, after = {}, {}
    for fixture in fixtures:
        before.update(parse_reg_file(fixture, code_page))
        after.update(parse_reg_file(after_file(fixture, code_page), code_page))

    for root in TEST_ROOTS:
        wine.run("reg", "delete", root, "/f")
    for fixture in fixtures:
        wine.run("regedit", "/s", fixture, check=True)
    exported = whole_prefix(wine)
    imported = {}
    for root in TEST_ROOTS:
        imported.update(wine.export_keys(root))
    suite.check(below(imported, TEST_ROOTS) == below(before, TEST_ROOTS),
                "the fixtures import whole",
                f"differ: {sorted(below(imported, TEST_ROOTS) ^ below(before, TEST_ROOTS))}")

    # Keys that the program removes and meets, each counted where it is met.
    removed = set(before) - set(after)
    tops = {k for k in removed if k.rsplit("\\", 1)[0] not in removed}

    out_file = args.prefix.parent / f"tolvanik-{args.arch}-{code_page}.out"
    try:
        with open(out_file, "wb") as out:
            status, _ = wine.run(args.exe, "ignored", "/?", stdout=out, timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        wine.stop()
        suite.check(False, f"the run ends within {RUN_TIMEOUT} s")
        return
    output = out_file.read_bytes()
    suite.check(status == 33, "exit status is 33", f"status {status}")

    walk = wine.run(args.walker)[1].decode()
    visited = {line.split()[0]: int(line.split()[1]) for line in walk.splitlines() if line}
    for top in tops:
        visited[top.split("\\", 1)[0].upper()] += 1
    expected = expected_output(visited)
    suite.check(output == expected, "output bytes: banner, root lines, dots, closing, CR LF",
                f"expected {expected!r}\ngot      {output!r}")
    suite.check(b"\r\r\n" not in output and output.count(b"\n") == output.count(b"\r\n"),
                "every line break is one CR LF")

    created = set(whole_prefix(wine)) - set(exported)
    created -= below(created, WINE_OWN_KEYS)
    suite.check(not created, "a whole export after the run holds no key that was not there",
                f"created: {sorted(created)}")
    remaining = {}
    for root in TEST_ROOTS:
        remaining.update(wine.export_keys(root))
    got, want = below(remaining, TEST_ROOTS), below(after, TEST_ROOTS)
    suite.check(got == want, "the keys left are exactly those of the .after files",
                f"left but should be gone: {sorted(got - want)}\n"
                f"gone but should be left: {sorted(want - got)}")
    lost = [k for k in sorted(want & got) if remaining[k] != after[k]]
    suite.check(not lost, "every value of every kept key is intact",
                "\n".join(f"{k}: {remaining[k]} != {after[k]}" for k in lost))

    with tempfile.TemporaryDirectory() as workdir:
        emulated = set()
        for fixture in fixtures:
            emulated |= emulated_keys(args.host_tool, fixture, code_page, workdir)
    emulated = below(emulated, TEST_ROOTS)
    suite.check(emulated == got, "the emulated registry leaves the same keys as Wine",
                f"only emulated: {sorted(emulated - got)}\nonly Wine: {sorted(got - emulated)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", type=pathlib.Path, required=True)
    parser.add_argument("--walker", type=pathlib.Path, required=True)
    parser.add_argument("--host-tool", type=pathlib.Path, required=True)
    parser.add_argument("--fixtures", type=pathlib.Path, required=True)
    parser.add_argument("--prefix", type=pathlib.Path, required=True)
    parser.add_argument("--arch", choices=["win32", "win64"], required=True)
    args = parser.parse_args()

    if shutil.which("wine") is None or shutil.which("wineboot") is None:
        skip_or_fail("wine is not installed")
    if not args.exe.exists() or not args.walker.exists():
        skip_or_fail(f"{args.exe} was not built (MinGW-w64 missing?)")
    if windows_programs.objdump_for(args.arch) is None:
        skip_or_fail(f"{windows_programs.ARCHITECTURES[args.arch][0]} is not installed")

    suite = Suite()
    windows_programs.check_executable(suite, args.exe, args.arch)

    fixtures = sorted(p for p in args.fixtures.glob("*.reg") if ".after." not in p.name)
    wine = Wine(args.prefix, args.arch)
    try:
        wine.start()
        for code_page, locale in CODE_PAGES:
            print(f"-- code page {code_page} ({locale})", flush=True)
            wine.use_locale(locale)
            run_under_code_page(suite, wine, args, fixtures, code_page)
    finally:
        for root in TEST_ROOTS:
            wine.run("reg", "delete", root, "/f")
        wine.stop()

    print(f"{suite.passed} passed, {suite.failed} failed")
    return 0 if suite.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
