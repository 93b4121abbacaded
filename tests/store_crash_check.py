#!/usr/bin/env python3
"""The host program's write-back under failure at every step, with strace's
fault injection: each system call the write-back makes (creating the file
beside the store, setting its mode, writing (write, writev), flushing, closing, renaming,
flushing the directory) fails in turn with EIO, and in a second round the
process is killed with SIGKILL as it enters that call. After every run the
store must hold either its old content or the whole new one; after a failed
call no temporary file may stay beside it, and after SIGKILL only one that
no run takes for the store (named .tolvanik-*).

Prints one line per case and "N passed, N failed"; exits 77 (skipped) where
strace is missing on a machine that is not CI."""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

from strace_steps import write_back_steps

SKIPPED = 77
TRACED = "openat,write,writev,fsync,close,rename,fchmod,fchown"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--fixture", type=pathlib.Path, required=True)
    parser.add_argument("--after", type=pathlib.Path, required=True)
    args = parser.parse_args()
    strace = shutil.which("strace")
    if strace is None:
        if os.environ.get("CI"):
            print("FAIL: strace is not installed (CI must run this)\n0 passed, 1 failed")
            return 1
        print("SKIPPED: strace is not installed; './check' installs it when run as root")
        return SKIPPED

    old, new = args.fixture.read_bytes(), args.after.read_bytes()
    passed = failed = 0
    with tempfile.TemporaryDirectory() as workdir:
        work = pathlib.Path(workdir)
        store = work / "store.reg"
        env = dict(os.environ, EMULATED_REGISTRY=str(store))

        def run(*strace_args):
            store.write_bytes(old)
            with open(os.devnull, "wb") as sink:
                return subprocess.run([strace, "-f", *strace_args, args.tool], env=env,
                                      stdout=sink, stderr=subprocess.PIPE, timeout=120)

        # Where the write-back starts, and each call it makes, counted per
        # system call over the whole run as strace's "when" counts them.
        log = work / "trace.log"
        run("-o", str(log), "-e", f"trace={TRACED}")
        steps = [(name, number, call[:50]) for name, number, call in
                 write_back_steps(log.read_text(), TRACED.split(","))]
        if not steps:
            print("FAIL: no write-back found in the trace\n0 passed, 1 failed")
            return 1

        for name, number, call in steps:
            for action in ("error=EIO", "signal=KILL"):
                # The injected call is traced too (injection needs it); the
                # trace goes nowhere.
                result = run("-o", os.devnull, "-e", f"inject={name}:{action}:when={number}")
                content = store.read_bytes()
                left = sorted(p.name for p in work.iterdir()
                              if p.name not in ("store.reg", "trace.log"))
                whole = content in (old, new)
                clean = not left if action.startswith("error") else all(
                    n.startswith(".tolvanik-") for n in left)
                what = f"{name} #{number} ({call}...) with {action}"
                if whole and clean:
                    passed += 1
                    print(f"ok: {what}: store {'new' if content == new else 'old'}, "
                          f"left beside it: {left or 'nothing'}")
                else:
                    failed += 1
                    print(f"FAIL: {what}: store {'whole' if whole else 'MIXED'}, left {left}, "
                          f"status {result.returncode}: {result.stderr.decode()[-300:]}")
                for name_left in left:
                    (work / name_left).unlink()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
