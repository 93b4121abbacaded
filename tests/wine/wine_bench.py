#!/usr/bin/env python3
"""Times the Windows program on Wine's registry against the bare walk and
against what a user would run instead.

On one prepared 32-bit prefix with a few thousand added keys (Quillorbex
leftovers among them, imported afresh before every run of the tool) it
times, as medians of several runs of the whole process:
  tolvanik.exe             the tool
  registry_walk.exe floor  the same registry calls, no matching, no output
  reg query <root> /s      over the four roots, its output filtered for the
                           name in this script (Wine's reg has no /f)
and prints a table, then one line "wine: tool=... floor=... reg_query=...".
"""

import argparse
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from wine_suite import ROOTS, Wine  # noqa: E402
BENCH_KEY = r"HKEY_CURRENT_USER\Software\TolvanikBench"


def bench_file(path, keys):
    lines = ["REGEDIT4", ""]
    count = 0
    vendor = 0
    while count < keys:
        base = f"{BENCH_KEY}\\Vendor {vendor:04d}"
        for product in range(4):
            lines += [f"[{base}\\Product {product}\\Settings]", '"Size"=dword:00000010', ""]
            count += 3 if product == 0 else 2
        if vendor % 25 == 0:
            lines += [f"[{base}\\Quillorbex Files\\Cache]", ""]
            count += 2
        vendor += 1
    path.write_text("\r\n".join(lines) + "\r\n", encoding="latin-1")
    return count


def timed(function):
    start = time.monotonic()
    result = function()
    return time.monotonic() - start, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", type=pathlib.Path, required=True)
    parser.add_argument("--walker", type=pathlib.Path, required=True)
    parser.add_argument("--prefix", type=pathlib.Path, required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--keys", type=int, default=3000)
    args = parser.parse_args()

    wine = Wine(args.prefix, "win32")
    wine.start()
    tool, floor, query = [], [], []
    try:
        with tempfile.TemporaryDirectory() as work:
            reg = pathlib.Path(work) / "bench.reg"
            added = bench_file(reg, args.keys)
            out = pathlib.Path(work) / "out.txt"
            for _ in range(args.runs):
                wine.run("reg", "delete", BENCH_KEY, "/f")
                wine.run("regedit", "/s", reg, check=True)
                with open(out, "wb") as sink:
                    seconds, (status, _) = timed(lambda: wine.run(args.exe, stdout=sink))
                if status != 33:
                    raise RuntimeError(f"tolvanik.exe ended with {status}")
                tool.append(seconds)
                wine.run("regedit", "/s", reg, check=True)
                seconds, (_, walk) = timed(lambda: wine.run(args.walker, "floor"))
                floor.append(seconds)
                entries = int(walk.decode().split("total")[1])

                def reg_query():
                    found = []
                    for root in ROOTS:
                        _, listing = wine.run("reg", "query", root, "/s")
                        found += [line for line in listing.decode("latin-1").splitlines()
                                  if "quillorbex" in line.lower()]
                    return found
                seconds, found = timed(reg_query)
                query.append(seconds)
    finally:
        wine.run("reg", "delete", BENCH_KEY, "/f")
        wine.stop()

    rows = [("tolvanik.exe", tool), ("registry_walk.exe floor", floor),
            ("reg query /s x4, filtered", query)]
    print(f"prefix: {entries} entries over the four roots, {added} of them added "
          f"(leftovers included); median of {args.runs} runs")
    print(f"{'program':28} {'median s':>9} {'min s':>7} {'us/entry':>9} {'vs floor':>9}")
    for name, times in rows:
        median = statistics.median(times)
        print(f"{name:28} {median:9.2f} {min(times):7.2f} {median * 1e6 / entries:9.1f} "
              f"{median / statistics.median(floor):9.2f}")
    print(f"wine: tool={statistics.median(tool):.2f}s floor={statistics.median(floor):.2f}s "
          f"reg_query={statistics.median(query):.2f}s "
          f"ratio={statistics.median(tool) / statistics.median(floor):.3f} "
          f"found_by_reg_query={len(found)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
