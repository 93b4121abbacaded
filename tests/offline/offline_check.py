#!/usr/bin/python3
"""tolvanik-offline on a Windows installation folder made here (installation.py):
what it removes under each code page, what it leaves (read back through hivex
and through libregf's regfexport), its dry run, its undo file, its refusals,
and its write-back killed or failed at every system call.

  offline_check.py --program PATH CASE      CASE: one of CASES below

Prints a line per check; exits 0 when all pass, 1 otherwise, 77 (skipped)
where a tool it needs is missing on a machine that is not CI."""

import argparse
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SKIPPED = 77

try:
    import hivex  # noqa: F401
except ImportError:
    if os.environ.get("CI"):
        print("FAIL: hivex's Python binding (python3-hivex) is not installed")
        sys.exit(1)
    print("SKIPPED: hivex's Python binding (python3-hivex) is not installed; ./check installs it")
    sys.exit(SKIPPED)

import hive_builder  # noqa: E402
import installation  # noqa: E402
import undo_import  # noqa: E402
from strace_steps import write_back_steps  # noqa: E402
import windows_programs  # noqa: E402
from windows_programs import ROOT_KEYS as ROOTS  # noqa: E402

BANNER = windows_programs.BANNER.decode("ascii").replace("\r\n", "\n")
CLOSING = windows_programs.CLOSING.decode("ascii").replace("\r\n", "\n")
TRACED = "openat,write,writev,pwrite64,fsync,close,rename,renameat2,link,unlink,fchmod,fchown"


class Checks:
    def __init__(self):
        self.failed = 0
        self.passed = 0

    def check(self, ok, what, detail=""):
        if ok:
            self.passed += 1
            print(f"ok: {what}")
        else:
            self.failed += 1
            print(f"FAIL: {what}" + (f"\n  {detail}" if detail else ""))
        return ok


def snapshot(root):
    """{path below root: bytes} of every file."""
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*"))
            if p.is_file()}


def run(program, *args, strace=None, timeout=120):
    command = [program, *map(str, args)]
    if strace:
        command = strace + command
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=timeout)
    return result.returncode, result.stdout, result.stderr.decode("utf-8", "replace")


def listed(stderr, verb):
    """[(path, hive)] of the "VERB PATH (hive HIVE)" lines."""
    pattern = re.compile(rf"^tolvanik-offline: {verb} (.*) \(hive (.*)\)$")
    return sorted(m.groups() for m in map(pattern.match, stderr.splitlines()) if m)


def output_lines(stdout):
    """The root key lines of the tool's output, or None when the output is
    not banner, four root key lines and closing text in Windows line ends."""
    text = stdout.decode("latin-1")
    if "\n" in text.replace("\r\n", ""):
        return None
    text = text.replace("\r\n", "\n")
    if not text.startswith(BANNER) or not text.endswith(CLOSING):
        return None
    lines = text[len(BANNER):-len(CLOSING)].split("\nEnumerating ")[1:]
    return lines if [line.split(" ")[0] for line in lines] == ROOTS else None


def keys_of(root, page):
    """{hive file: {key path: values}} of every hive of the installation."""
    return {name: hive_builder.read_hive(str(root / name)) for name in installation.hives(page)}


def regf_key_paths(path):
    """Key paths of a hive as libregf's regfexport reads them, below the root."""
    out = subprocess.run(["regfexport", str(path)], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, check=True).stdout.decode("utf-8")
    paths = [line[len("Key path: "):] for line in out.splitlines() if line.startswith("Key path: ")]
    return sorted(p.split("\\", 1)[1] for p in paths if "\\" in p)


def without(keys, removed_paths):
    """`keys` less every key at or below one of `removed_paths`."""
    return {path: values for path, values in keys.items()
            if not any(path == r or path.startswith(r + "\\") for r in removed_paths)}


def inside_hive(live_path, hive):
    """The path inside `hive` of a key at `live_path`."""
    for prefix, name in installation.MOUNTS.items():
        if name == hive and live_path.startswith(prefix + "\\"):
            return live_path[len(prefix) + 1:]
    raise ValueError(live_path)


def case_clean(checks, program, work, page):
    root = work / "windows"
    installation.make(root, page)
    before = snapshot(root)
    keys_before = keys_of(root, page)
    expected = installation.removed(page)
    (root / installation.BOB_USER).chmod(0o640)
    owned = os.geteuid() == 0
    if owned:
        os.chown(root / installation.ALICE_USER, 1234, 5678)

    status, stdout, stderr = run(program, "--dry-run", root)
    checks.check(status == 33, f"{page}: dry run ends with status 33", f"status {status}: {stderr}")
    checks.check(listed(stderr, "would remove") == expected,
                 f"{page}: dry run lists each key tree it would remove, with its hive",
                 f"got {listed(stderr, 'would remove')}")
    checks.check(snapshot(root) == before, f"{page}: dry run writes nothing")
    lines = output_lines(stdout)
    checks.check(lines is not None and lines[1] == "HKEY_CURRENT_USER ",
                 f"{page}: the tool's output, HKEY_CURRENT_USER's line without dots",
                 repr(stdout[-300:]))
    checks.check(lines is not None and lines[0].endswith("."),
                 f"{page}: HKEY_CLASSES_ROOT walks the machine's classes (a dot per 1000 keys)",
                 repr(lines))

    undo = work / "undo.reg"
    status, stdout, stderr = run(program, "--undo", undo, root)
    checks.check(status == 33, f"{page}: run ends with status 33", f"status {status}: {stderr}")
    checks.check(listed(stderr, "removed") == expected,
                 f"{page}: run lists each key tree removed, with its hive",
                 f"got {listed(stderr, 'removed')}")
    keys_after = keys_of(root, page)
    for hive in installation.hives(page):
        gone = [inside_hive(path, hive) for path, name in expected if name == hive]
        checks.check(keys_after[hive] == without(keys_before[hive], gone),
                     f"{page}: {hive}: every other key and value stands (hivex)",
                     f"missing {sorted(set(keys_before[hive]) - set(keys_after[hive]))[:5]}; "
                     f"extra {sorted(set(keys_after[hive]) - set(without(keys_before[hive], gone)))[:5]}")
        checks.check(regf_key_paths(root / hive) == sorted(keys_after[hive]),
                     f"{page}: {hive}: libregf reads the same keys")
    checks.check(((root / installation.BOB_USER).stat().st_mode & 0o777) == 0o640,
                 f"{page}: a hive keeps its mode")
    if owned:
        status_ = (root / installation.ALICE_USER).stat()
        checks.check((status_.st_uid, status_.st_gid) == (1234, 5678),
                     f"{page}: a hive keeps its owner and group")
    left = sorted(p.name for p in root.rglob(".tolvanik-*"))
    checks.check(not left, f"{page}: no temporary file stays", str(left))

    # The undo file is what "reg import" reads, and importing it gives back
    # every key and value exactly.
    text = undo.read_bytes()
    checks.check(text.startswith(b"\xff\xfe" + "Windows Registry Editor Version 5.00\r\n".encode(
        "utf-16-le")), f"{page}: undo file is a UTF-16LE export with its header")
    undo_import.apply(undo, root, installation)
    checks.check(keys_of(root, page) == keys_before,
                 f"{page}: importing the undo file restores every key and value removed")

    # A second run on the cleaned installation finds nothing.
    installation.make(root, page)
    run(program, root)
    cleaned = snapshot(root)
    status, _, stderr = run(program, root)
    checks.check(status == 33 and listed(stderr, "removed") == [] and snapshot(root) == cleaned,
                 f"{page}: a second run removes nothing and writes nothing", stderr)


def set_sequence(path, number):
    data = bytearray(path.read_bytes())
    struct.pack_into("<I", data, 8, number)
    path.write_bytes(bytes(data))


def make_li_list(path, key_path):
    """Rewrites the sub-key list of the key at `key_path` as an "li" list."""
    import hivex
    h = hivex.Hivex(str(path))
    node = h.root()
    for name in key_path.split("\\"):
        node = h.node_get_child(node, name)
    data = bytearray(path.read_bytes())
    (list_offset,) = struct.unpack_from("<I", data, node + 4 + 0x1C)
    cell = 0x1000 + list_offset
    signature, count = struct.unpack_from("<2sH", data, cell + 4)
    assert signature in (b"lf", b"lh"), signature
    offsets = [struct.unpack_from("<I", data, cell + 8 + 8 * i)[0] for i in range(count)]
    struct.pack_into(f"<2sH{count}I", data, cell + 4, b"li", count, *offsets)
    path.write_bytes(bytes(data))


def case_refusals(checks, program, work):
    """Each case: what is done to the installation, the arguments, a text the
    message must hold. Every one ends with status 2 and nothing written."""
    def remove(name):
        return lambda root: (root / name).unlink()

    def garbage(name):
        return lambda root: (root / name).write_bytes(b"not a hive" * 500)

    def dirty(name):
        return lambda root: set_sequence(root / name, 7)

    def read_only(name):
        return lambda root: (root / name).chmod(0o444)

    def page(number):
        def change(root):
            keys = installation.system(1252)
            keys[1] = (keys[1][0], [("ACP", hive_builder.REG_SZ, str(number))])
            hive_builder.write_hive(str(root / installation.SYSTEM), keys)
        return change

    def exists(root):
        (root.parent / "undo.reg").write_bytes(b"earlier")

    nothing = lambda root: None  # noqa: E731
    cases = [
        ("a dirty user hive", dirty(installation.BOB_USER), [], "Users/bob/NTUSER.DAT: the hive is dirty"),
        ("a dirty SOFTWARE, dry run too", dirty(installation.SOFTWARE), ["--dry-run"], "dirty"),
        ("no SOFTWARE hive", remove(installation.SOFTWARE), [], "no SOFTWARE hive"),
        ("no SYSTEM hive", remove(installation.SYSTEM), [], "no SYSTEM hive"),
        ("DEFAULT is no hive", garbage(installation.DEFAULT), [], "config/DEFAULT: not a registry hive"),
        ("a read-only hive", read_only(installation.ALICE_USER), [], "may not write it"),
        ("a code page this build does not know", page(1250), [], "code page is 1250"),
        ("an undo file that exists", exists, ["--undo", "{undo}"], "already exists"),
        ("an \"li\" sub-key list above a leftover",
         lambda root: make_li_list(root / installation.SOFTWARE, "Vendor"), [],
         "\"li\" sub-key list"),
        ("no folder given", nothing, ["--dry-run"], "no WINDOWS_DIR"),
        ("an unknown option", nothing, ["--force", "{root}"], "unknown option --force"),
        ("two folders", nothing, ["{root}", "{root}"], "one WINDOWS_DIR only"),
        ("a folder without Windows", nothing, ["{root}/Users"], "not a Windows folder"),
    ]
    root = work / "windows"
    for what, change, arguments, message in cases:
        shutil.rmtree(work)
        work.mkdir()
        installation.make(root, 1252)
        change(root)
        before = snapshot(work)
        args = [a.format(root=root, undo=work / "undo.reg") for a in arguments]
        if not any("{root}" in a for a in arguments) and what != "no folder given":
            args.append(str(root))
        status, stdout, stderr = run(program, *args)
        checks.check(status == 2 and message in stderr and snapshot(work) == before,
                     f"refused with status 2, nothing written: {what}",
                     f"status {status}, stderr: {stderr[-400:]}")
        if what == "a read-only hive":
            status, _, stderr = run(program, "--dry-run", root)
            checks.check(status == 33 and snapshot(work) == before,
                         "a dry run reads a read-only hive and writes nothing", stderr[-300:])
        if "li" in what:
            status, _, stderr = run(program, "--dry-run", root)
            checks.check(status == 33 and "would remove HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor" in stderr,
                         "the dry run still shows what lies below an \"li\" list")


def case_crash(checks, program, work):
    """Kills, and fails with EIO, each system call of the write-back in turn:
    every hive must be old or new, the undo file whole or absent, and nothing
    but a .tolvanik-* file may stay beside them."""
    strace = shutil.which("strace")
    if strace is None:
        if os.environ.get("CI"):
            return checks.check(False, "strace is installed (CI must run this)")
        print("SKIPPED: strace is not installed")
        return SKIPPED
    root = work / "windows"
    installation.make(root, 1252)
    old = snapshot(root)
    run(program, "--undo", work / "undo.reg", root)
    new = snapshot(root)
    whole_undo = (work / "undo.reg").read_bytes()
    log = work / "trace.log"

    def reset():
        shutil.rmtree(root)
        for name, data in old.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_bytes(data)
        for extra in work.glob("undo.reg*"):
            extra.unlink()
        for extra in work.glob(".tolvanik-*"):
            extra.unlink()

    reset()
    run(program, "--undo", work / "undo.reg", root,
        strace=[strace, "-f", "-o", str(log), "-e", f"trace={TRACED}"])
    steps = write_back_steps(log.read_text(), TRACED.split(","))
    if not checks.check(len(steps) > 20, f"the write-back's system calls are traced ({len(steps)})"):
        return None
    bad = 0
    for name, number, call in steps:
        for action in ("error=EIO", "signal=KILL"):
            reset()
            run(program, "--undo", work / "undo.reg", root,
                strace=[strace, "-f", "-o", os.devnull, "-e",
                        f"inject={name}:{action}:when={number}"])
            now = snapshot(root)
            mixed = [n for n in old if now.get(n) not in (old[n], new[n])]
            undo = work / "undo.reg"
            undo_ok = not undo.exists() or undo.read_bytes() == whole_undo
            hives_changed = any(now[n] != old[n] for n in old)
            strays = [str(p.relative_to(work)) for p in work.rglob("*") if p.is_file()
                      and p.name not in ("trace.log", "undo.reg")
                      and str(p.relative_to(work))[len("windows/"):] not in old]
            clean = (not strays) if action.startswith("error") else all(
                os.path.basename(s).startswith(".tolvanik-") for s in strays)
            ok = not mixed and undo_ok and clean and (undo.exists() or not hives_changed)
            if not ok:
                bad += 1
                checks.check(False, f"{name} #{number} ({call}...) with {action}",
                             f"mixed {mixed}, undo whole {undo_ok}, strays {strays}, "
                             f"hives changed {hives_changed}")
    checks.check(bad == 0, f"every hive old or new, the undo file whole or absent and written "
                           f"first, no stray file but .tolvanik-* after SIGKILL: "
                           f"{len(steps)} calls, each failed and killed")
    return None


def case_undo_wine(checks, program, work, prefix):
    """The undo file read by a real "reg import" (Wine's): every key and value
    arrives, read back with "reg export"."""
    if shutil.which("wine") is None:
        if os.environ.get("CI"):
            return checks.check(False, "wine is installed (CI must run this)")
        print("SKIPPED: wine is not installed")
        return SKIPPED
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "wine"))
    import wine_suite
    wine = wine_suite.Wine(prefix, "win32")
    wine.start()
    root = work / "windows"
    installation.make(root, 1252)
    undo = work / "undo.reg"
    status, _, stderr = run(program, "--undo", undo, root)
    checks.check(status == 33, "run with an undo file ends with status 33", stderr)
    expected = {path: values for path, values in undo_import.parse(undo)}
    # The values whose data Wine's own export cannot show exactly (strings
    # that are not plain text): only their presence and type are compared.
    text = undo.read_bytes()[2:].decode("utf-16-le")
    loose = {(path, name) for path, values in expected.items() for name, kind, _ in values
             if kind == hive_builder.REG_SZ and f'"{name}"=hex(1):' in text}
    try:
        status, _ = wine.run("reg", "import", undo)
        checks.check(status == 0, "reg import reads the undo file", f"status {status}")
        tops = [path for path, _ in installation.removed(1252)]
        back = {}
        for number, top in enumerate(tops):
            exported = work / f"back{number}.reg"
            status, _ = wine.run("reg", "export", top, exported, "/y")
            if status == 0:
                back.update(dict(undo_import.parse(exported)))
            wine.run("reg", "delete", top, "/f")
    finally:
        wine.stop()
    checks.check(sorted(back) == sorted(expected), "every key removed is back, by reg export",
                 f"missing {sorted(set(expected) - set(back))[:3]}, extra {sorted(set(back) - set(expected))[:3]}")
    for path, values in expected.items():
        def compared(items, path=path):
            return sorted((n, k, None if (path, n) in loose else d) for n, k, d in items)
        checks.check(compared(back.get(path, [])) == compared(values),
                     f"every value of {path[:70]} is back, data exact",
                     f"got {compared(back.get(path, []))}, wanted {compared(values)}")
    return None


CASES = {
    "clean-1252": lambda c, p, w: case_clean(c, p, w, 1252),
    "clean-1251": lambda c, p, w: case_clean(c, p, w, 1251),
    "clean-932": lambda c, p, w: case_clean(c, p, w, 932),
    "refusals": case_refusals,
    "crash-consistency": case_crash,
    "undo-wine": None,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--prefix", help="the Wine prefix of undo-wine (made when new)")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    if shutil.which("regfexport") is None:
        if os.environ.get("CI"):
            print("FAIL: regfexport (libregf-utils) is not installed")
            return 1
        print("SKIPPED: regfexport (libregf-utils) is not installed; ./check installs it")
        return SKIPPED
    checks = Checks()
    with tempfile.TemporaryDirectory() as directory:
        work = pathlib.Path(directory) / "work"
        work.mkdir()
        case = CASES[args.case] or (lambda c, p, w: case_undo_wine(c, p, w, args.prefix))
        if case(checks, args.program, work) == SKIPPED:
            return SKIPPED
    print(f"{checks.passed} passed, {checks.failed} failed")
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
