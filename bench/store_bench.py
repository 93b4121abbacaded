#!/usr/bin/env python3
"""Whole runs of the host program on registry exports of 10^4 to 10^6 keys,
beside what a user could do instead: copy the file (cp) and filter it with
awk (drop every section whose last name begins with Quillorbex, the closest a
line filter comes). Realistic exports: vendor and product trees with one to
three values a key, ProgID and CLSID keys under the classes, hex values over
continuation lines, leftovers in one vendor in 30.

Prints, for each size, seconds (best of a few runs, the file in the page
cache) and peak memory, then one line
  store: tool/cp=... awk/tool=... memory/store=... growth=...
at the largest size: the tool's time over cp's, awk's over the tool's, the
tool's peak memory over the store's size, and the growth of the tool's time
per key from the smallest size to the largest."""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

AWK_FILTER = (r'/^\[/ { n = $0; sub(/\]\r?$/, "", n); sub(/.*\\/, "", n); '
              r'skip = (tolower(substr(n, 1, 10)) == "quillorbex") } !skip')


def make_export(path, keys):
    lines = ["Windows Registry Editor Version 5.00", ""]
    count = vendor = 0
    while count < keys:
        base = f"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor {vendor:05d}"
        for product in range(4):
            lines += [f"[{base}\\Product {product}]", f'"Version"="{vendor}.{product}"', ""]
            lines += [f"[{base}\\Product {product}\\Settings]", '"Size"=dword:00000010',
                      '"Blob"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\\',
                      "  14,15,16,17,18,19,1a", ""]
            count += 2
        progid = f"HKEY_CLASSES_ROOT\\Vendor{vendor:05d}.Document"
        lines += [f"[{progid}]", '@="Document"', "", f"[{progid}\\CLSID]",
                  f'@="{{{vendor:08X}-0000-0000-0000-000000000000}}"', ""]
        count += 2
        if vendor % 30 == 0:
            lines += [f"[{base}\\Quillorbex Cache]", '"Path"="C:\\\\Temp"', "",
                      f"[{base}\\Quillorbex Cache\\Items]", ""]
            count += 2
        vendor += 1
    pathlib.Path(path).write_bytes(("\r\n".join(lines) + "\r\n").encode("ascii"))


def timed(command, env=None, stdout=subprocess.DEVNULL):
    """(seconds, peak resident kilobytes) of one run."""
    with tempfile.NamedTemporaryFile() as report:
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%M", *command], env=env,
                       stdout=stdout, stderr=subprocess.DEVNULL, check=False)
        seconds = time.perf_counter() - start
        return seconds, int(pathlib.Path(report.name).read_text().split()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--sizes", default="10000,100000,1000000")
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    if not os.path.exists("/usr/bin/time"):
        print("store benchmark: /usr/bin/time is missing (Debian package time)")
        return 1
    sizes = [int(size) for size in args.sizes.split(",")]
    rows = []
    print(f"{'keys':>9} {'store MB':>9} {'cp s':>8} {'awk s':>8} {'tool s':>8} "
          f"{'tool MB':>8} {'tool/cp':>8} {'awk/tool':>9}")
    with tempfile.TemporaryDirectory() as workdir:
        work = pathlib.Path(workdir)
        for keys in sizes:
            source = work / f"export-{keys}.reg"
            make_export(source, keys)
            size = source.stat().st_size
            best = {"cp": (1e9, 0), "awk": (1e9, 0), "tool": (1e9, 0)}
            for _ in range(args.repeats):
                copy = work / "copy.reg"
                best["cp"] = min(best["cp"], timed(["cp", str(source), str(copy)]))
                with open(work / "filtered.reg", "wb") as out:
                    best["awk"] = min(best["awk"], timed(["awk", AWK_FILTER, str(source)],
                                                         stdout=out))
                shutil.copyfile(source, copy)
                env = dict(os.environ, EMULATED_REGISTRY=str(copy))
                best["tool"] = min(best["tool"], timed([args.tool], env=env))
            cp, awk, tool = best["cp"][0], best["awk"][0], best["tool"][0]
            memory = best["tool"][1] * 1024
            rows.append((keys, tool, memory, size, cp, awk))
            print(f"{keys:>9} {size / 1e6:>9.1f} {cp:>8.3f} {awk:>8.3f} {tool:>8.3f} "
                  f"{memory / 1e6:>8.1f} {tool / cp:>8.1f} {awk / tool:>9.2f}", flush=True)
    keys, tool, memory, size, cp, awk = rows[-1]
    growth = (tool / keys) / (rows[0][1] / rows[0][0])
    print(f"store: tool/cp={tool / cp:.1f} awk/tool={awk / tool:.2f} "
          f"memory/store={memory / size:.2f} growth={growth:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
