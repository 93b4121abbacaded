"""What the tests know of the Windows programs: the root keys they walk, in
their order, and what each program file must be, checked with MinGW-w64's
objdump: a PE32 (32-bit) or PE32+ (64-bit) console program that needs only
system DLLs."""

import re
import shutil
import subprocess
import time

# The root keys a run walks, in its order: the one table of them for the
# Python tests.
ROOT_KEYS = ["HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"]
# The banner and the closing text as the tool writes them, byte for byte.
BANNER = b"\r\nTOLVANIK v1.2: Clean up Quillorbex references from Windows registry\r\n"
CLOSING = b"\r\n\r\nRegistry successfully cleaned.\r\n"
ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
# (objdump, the PE optional header's magic) by architecture.
ARCHITECTURES = {"win32": ("i686-w64-mingw32-objdump", "010b"),
                 "win64": ("x86_64-w64-mingw32-objdump", "020b")}


class Suite:
    """Records checks: one line each ("ok: ..." or "FAIL: ..." with the
    detail), and the counts for the closing "N passed, N failed" line."""

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


def objdump_for(arch):
    """The objdump for `arch`, or None where it is not installed."""
    return shutil.which(ARCHITECTURES[arch][0])


def check_executable(suite, exe, arch):
    """Records on `suite` (check(ok, what, detail)) the three checks."""
    objdump, magic = ARCHITECTURES[arch]
    dump = subprocess.run([objdump, "-p", str(exe)], stdout=subprocess.PIPE, check=True,
                          timeout=60).stdout.decode()
    suite.check(f"Magic\t\t\t{magic}" in dump,
                f"{exe.name} is {'PE32' if arch == 'win32' else 'PE32+'} (magic {magic})")
    suite.check(re.search(r"Subsystem\s+00000003", dump) is not None,
                f"{exe.name} is a console program")
    dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
    suite.check(bool(dlls) and dlls <= ALLOWED_DLLS, f"{exe.name} imports only system DLLs",
                f"imports: {sorted(dlls)}")
