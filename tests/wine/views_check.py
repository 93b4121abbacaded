#!/usr/bin/env python3
"""Both Windows programs in a 64-bit Wine prefix, against leftovers in both
views of the registry.

On 64-bit Windows a 32-bit program sees a redirected HKEY_LOCAL_MACHINE:
Software is the 32-bit view (Software\\Wow6432Node), and so are the classes
below it. two_views.reg puts one leftover in each view; it is imported with
the 64-bit regedit (Debian's wine starts regedit with the 32-bit loader,
whose imports would all land in the 32-bit view), and what is left is read
back with the 64-bit reg, which sees both. Then:
  - the 64-bit program removes the leftovers of both views;
  - the 32-bit program removes those of its own view and leaves those of the
    64-bit view: the limit that makes the 64-bit program the one to run on
    64-bit Windows, checked so that any change of it shows.

Prints one line per check and "N passed, N failed"; exits 77 (skipped) where
Wine or the Windows builds are missing on a machine that is not CI.
"""

import argparse
import pathlib
import shutil
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import wine_suite  # noqa: E402

WINE64 = "/usr/lib/wine/wine64"
FIXTURE = pathlib.Path(__file__).resolve().parent / "two_views.reg"
VIEW_ROOTS = [r"HKEY_LOCAL_MACHINE\Software\TolvanikViews",
              r"HKEY_LOCAL_MACHINE\Software\Wow6432Node\TolvanikViews",
              r"HKEY_LOCAL_MACHINE\Software\Classes\CLSID\TolvanikViews",
              r"HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\CLSID\TolvanikViews"]
LEFTOVER_64 = {r"HKEY_LOCAL_MACHINE\Software\TolvanikViews\Quillorbex",
               r"HKEY_LOCAL_MACHINE\Software\Classes\CLSID\TolvanikViews\Quillorbex.Object"}
LEFTOVER_32 = {r"HKEY_LOCAL_MACHINE\Software\Wow6432Node\TolvanikViews\Quillorbex",
               r"HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\CLSID\TolvanikViews"
               r"\Quillorbex.Object"}


class Wine64(wine_suite.Wine):
    """Runs the builtin programs (regedit, reg) with the 64-bit loader."""

    def run64(self, *args, check=False):
        with open("/dev/null", "wb") as sink:
            status = subprocess.run([WINE64, *map(str, args)], env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=sink, stderr=sink,
                                    timeout=180).returncode
        if check and status != 0:
            raise RuntimeError(f"wine64 {' '.join(map(str, args))}: status {status}")
        return status

    def keys_in_both_views(self, workdir):
        keys = set()
        for root in VIEW_ROOTS:
            path = pathlib.Path(workdir) / "view.reg"
            path.unlink(missing_ok=True)
            if self.run64("reg", "export", root, path, "/y") == 0 and path.exists():
                keys |= set(wine_suite.parse_reg_file(path))
        return keys


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe32", type=pathlib.Path, required=True)
    parser.add_argument("--exe64", type=pathlib.Path, required=True)
    parser.add_argument("--prefix", type=pathlib.Path, required=True)
    parser.add_argument("--workdir", type=pathlib.Path, required=True)
    args = parser.parse_args()

    if shutil.which("wine") is None or not pathlib.Path(WINE64).exists():
        wine_suite.skip_or_fail("wine and wine64 are not installed")
    for exe in (args.exe32, args.exe64):
        if not exe.exists():
            wine_suite.skip_or_fail(f"{exe} was not built (MinGW-w64 missing?)")

    suite = wine_suite.Suite()
    wine = Wine64(args.prefix, "win64")
    args.workdir.mkdir(parents=True, exist_ok=True)
    fixture = set(wine_suite.parse_reg_file(FIXTURE))
    fold = wine_suite.fold
    try:
        wine.start()
        for exe, bits, removed in ((args.exe64, "64", LEFTOVER_64 | LEFTOVER_32),
                                   (args.exe32, "32", LEFTOVER_32)):
            for root in VIEW_ROOTS:
                wine.run64("reg", "delete", root, "/f")
            wine.run64("regedit", "/s", FIXTURE, check=True)
            imported = wine.keys_in_both_views(args.workdir)
            suite.check(imported == fixture, f"the 64-bit regedit imports into both views",
                        f"differ: {sorted(imported ^ fixture)}")
            status, _ = wine.run(exe, timeout=wine_suite.RUN_TIMEOUT)
            suite.check(status == 33, f"the {bits}-bit program ends with status 33",
                        f"status {status}")
            left = wine.keys_in_both_views(args.workdir)
            want = {k for k in fixture
                    if not any(k == fold(r) or k.startswith(fold(r) + "\\") for r in removed)}
            what = ("removes the leftovers of both views" if bits == "64" else
                    "removes its own view's leftovers and leaves the 64-bit view's")
            suite.check(left == want, f"the {bits}-bit program {what}",
                        f"left but should be gone: {sorted(left - want)}\n"
                        f"gone but should be left: {sorted(want - left)}")
    finally:
        for root in VIEW_ROOTS:
            wine.run64("reg", "delete", root, "/f")
        wine.stop()

    print(f"{suite.passed} passed, {suite.failed} failed")
    return 0 if suite.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
