#!/usr/bin/python3
"""Whole runs of tolvanik-offline on a Windows installation folder whose
SOFTWARE hive holds 10^4 to 10^5 keys (vendor and product trees with a value
or two, ProgIDs under Classes, in groups of 200; Quillorbex leftovers in one
vendor in 30),
beside the floor for any cleaner that works through hivex: a bare walk of
the same hives that reads every key's name and commits each hive to a new
file, flushed (bench/hive_walk.cpp).

Prints for each size the best of a few runs of each, on a fresh copy of the
folder every time (the copy not timed), then one line
  offline: tool/walk=... growth=...
at the largest size. Run with Debian's python3, which has hivex's binding."""

import argparse
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "offline"))

from hive_builder import REG_DWORD, REG_SZ, write_hive  # noqa: E402


def make_installation(root, keys):
    software = [("Microsoft\\Windows NT\\CurrentVersion\\ProfileList", [])]
    count = vendor = 0
    while count < keys:
        # hivex copies a key's whole sub-key list on every add and never
        # reuses the space, so keys with thousands of sub-keys would make
        # hives of gigabytes: vendors and classes come in groups of 200.
        group = f"{vendor // 200:03d}"
        base = f"Vendors {group}\\Vendor {vendor:05d}"
        for product in range(4):
            software.append((f"{base}\\Product {product}", [("Version", REG_SZ, f"{vendor}.{product}")]))
            software.append((f"{base}\\Product {product}\\Settings", [("Size", REG_DWORD, 16)]))
            count += 2
        software.append((f"Classes\\Group {group}\\Vendor{vendor:05d}.Document\\CLSID", [("", REG_SZ, "{0}")]))
        count += 2
        if vendor % 30 == 0:
            software.append((f"{base}\\Quillorbex Cache\\Items", [("Path", REG_SZ, "C:\\Temp")]))
            count += 2
        vendor += 1
    config = root / "Windows" / "System32" / "config"
    config.mkdir(parents=True)
    write_hive(str(config / "SOFTWARE"), software)
    write_hive(str(config / "SYSTEM"), [
        ("Select", [("Current", REG_DWORD, 1)]),
        ("ControlSet001\\Control\\Nls\\CodePage", [("ACP", REG_SZ, "1252")])])
    return [config / "SOFTWARE", config / "SYSTEM"]


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--walk", required=True)
    parser.add_argument("--sizes", default="10000,100000")
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    rows = []
    print(f"{'keys':>8} {'hive MB':>8} {'walk s':>8} {'tool s':>8} {'tool/walk':>10}")
    with tempfile.TemporaryDirectory() as workdir:
        work = pathlib.Path(workdir)
        for keys in [int(size) for size in args.sizes.split(",")]:
            source = work / f"source-{keys}"
            hives = make_installation(source, keys)
            size = sum(h.stat().st_size for h in hives)
            walk = tool = 1e9
            for _ in range(args.repeats):
                copy = work / "copy"
                shutil.rmtree(copy, ignore_errors=True)
                shutil.copytree(source, copy)
                walk = min(walk, timed([args.walk, *(str(copy / h.relative_to(source))
                                                     for h in hives)]))
                tool = min(tool, timed([args.tool, str(copy)]))
            rows.append((keys, walk, tool))
            print(f"{keys:>8} {size / 1e6:>8.1f} {walk:>8.3f} {tool:>8.3f} {tool / walk:>10.2f}",
                  flush=True)
    keys, walk, tool = rows[-1]
    growth = (tool / keys) / (rows[0][2] / rows[0][0])
    print(f"offline: tool/walk={tool / walk:.2f} growth={growth:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
