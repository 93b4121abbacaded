#!/usr/bin/env python3
"""Makes the release zip with cpack from a build tree and checks what a user
would download: it unpacks; it holds tolvanik-x86.exe (a PE32 console
program), tolvanik-x64.exe (PE32+), README.txt and SHA256SUMS.txt, and
nothing else; both programs need only system DLLs and show the banner of the
package's version; the checksums match.

Prints one line per check and "N passed, N failed"; exits 77 (skipped) where
MinGW-w64's objdump is missing on a machine that is not CI."""

import argparse
import hashlib
import os
import pathlib
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
import windows_programs  # noqa: E402

SKIPPED = 77


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--build-dir", type=pathlib.Path, required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()

    missing = [arch for arch in windows_programs.ARCHITECTURES
               if windows_programs.objdump_for(arch) is None]
    if missing or not (args.build_dir / "CPackConfig.cmake").exists():
        message = "MinGW-w64 is missing: no Windows programs, no package"
        if os.environ.get("CI"):
            print(f"FAIL: {message} (CI must make the package)\n0 passed, 1 failed")
            return 1
        print(f"SKIPPED: {message}; './check' installs it when run as root")
        return SKIPPED

    suite = windows_programs.Suite()
    top = f"tolvanik-{args.version}-windows"
    with tempfile.TemporaryDirectory() as workdir:
        work = pathlib.Path(workdir)
        made = subprocess.run([args.cpack, "-G", "ZIP", "--config",
                               str(args.build_dir / "CPackConfig.cmake"), "-B", str(work)],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=240)
        package = work / f"{top}.zip"
        if not suite.check(made.returncode == 0 and package.exists(), f"cpack makes {package.name}",
                           made.stdout.decode(errors="replace")):
            print(f"{suite.passed} passed, {suite.failed} failed")
            return 1
        with zipfile.ZipFile(package) as archive:
            names = sorted(n for n in archive.namelist() if not n.endswith("/"))
            want = sorted(f"{top}/{n}" for n in ("README.txt", "SHA256SUMS.txt",
                                                  "tolvanik-x64.exe", "tolvanik-x86.exe"))
            suite.check(names == want, "it holds both programs, README.txt and SHA256SUMS.txt",
                        f"holds {names}")
            suite.check(archive.testzip() is None, "every member unpacks with its CRC")
            archive.extractall(work / "unpacked")
        files = work / "unpacked" / top
        for name, arch in (("tolvanik-x86.exe", "win32"), ("tolvanik-x64.exe", "win64")):
            exe = files / name
            if not suite.check(exe.exists(), f"{name} unpacks"):
                continue
            windows_programs.check_executable(suite, exe, arch)
            banner = f"TOLVANIK v{args.version}: Clean up Quillorbex".encode()
            suite.check(banner in exe.read_bytes(), f"{name} shows the banner of {args.version}")
        sums = {}
        if (files / "SHA256SUMS.txt").exists():
            for line in (files / "SHA256SUMS.txt").read_text().splitlines():
                digest, name = line.split("  ", 1)
                sums[name] = digest
        for name in ("tolvanik-x86.exe", "tolvanik-x64.exe", "README.txt"):
            path = files / name
            actual = hashlib.sha256(path.read_bytes()).hexdigest() if path.exists() else None
            suite.check(sums.get(name) == actual, f"the checksum of {name} matches",
                        f"listed {sums.get(name)}, file {actual}")
        readme = (files / "README.txt").read_bytes() if (files / "README.txt").exists() else b""
        suite.check(b"tolvanik-x64.exe" in readme and b"64-bit Windows" in readme and
                    b"33" in readme and b"\r\n" in readme and readme.count(b"\n") ==
                    readme.count(b"\r\n"),
                    "README.txt says which program to run where and the status, with CR LF")

    print(f"{suite.passed} passed, {suite.failed} failed")
    return 0 if suite.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
