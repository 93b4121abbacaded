"""A small Windows installation folder for the tests of tolvanik-offline:
the machine hives (SOFTWARE with a ProfileList, SYSTEM with a control set and
its ANSI code page, DEFAULT), two users' NTUSER.DAT and one UsrClass.dat, and
the system profile; Quillorbex leftovers in each, under Uninstall (kept: the
tool passes over Uninstall), below names outside the code page and with names
of 199, 200 and more bytes. Also what a run must remove, by code page."""

import os
import pathlib

from hive_builder import REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_QWORD, REG_SZ
from hive_builder import write_hive

ALICE = "S-1-5-21-1004336348-1177238915-682003330-1001"
BOB = "S-1-5-21-1004336348-1177238915-682003330-1002"
CAROL = "S-1-5-21-1004336348-1177238915-682003330-1003"
SYSTEM_SID = "S-1-5-18"

CONFIG = "Windows/System32/config"
SOFTWARE = f"{CONFIG}/SOFTWARE"
SYSTEM = f"{CONFIG}/SYSTEM"
DEFAULT = f"{CONFIG}/DEFAULT"
SYSTEM_PROFILE = f"{CONFIG}/systemprofile/NTUSER.DAT"
ALICE_USER = "Users/Alice/NTUSER.DAT"
ALICE_CLASSES = "Users/Alice/AppData/Local/Microsoft/Windows/UsrClass.dat"
BOB_USER = "Users/bob/NTUSER.DAT"

# Where a live registry shows each hive.
MOUNTS = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE": SOFTWARE,
    "HKEY_LOCAL_MACHINE\\SYSTEM": SYSTEM,
    "HKEY_USERS\\.DEFAULT": DEFAULT,
    f"HKEY_USERS\\{SYSTEM_SID}": SYSTEM_PROFILE,
    f"HKEY_USERS\\{ALICE}": ALICE_USER,
    f"HKEY_USERS\\{ALICE}_Classes": ALICE_CLASSES,
    f"HKEY_USERS\\{BOB}": BOB_USER,
}

UNINSTALL = "Microsoft\\Windows\\CurrentVersion\\Uninstall"
LONG_199 = "Quillorbex" + "x" * 189
LONG_200 = "Quillorbex" + "x" * 190
LONG_INSIDE = "Long" + "y" * 220

# Values of every kind, to be given back exactly by the undo file.
EVERY_KIND = [
    ("", REG_SZ, "Quillorbex 3.1"),
    ("DisplayName", REG_SZ, 'Quillorbex "Pro" C:\\Program Files'),
    ("Path", REG_EXPAND_SZ, "%ProgramFiles%\\Quillorbex"),
    ("Size", REG_DWORD, 0x12345678),
    ("Big", REG_QWORD, 0x0102030405060708),
    ("Blob", REG_BINARY, bytes(range(120))),
    ("Empty", REG_BINARY, b""),
    ("Lines", REG_MULTI_SZ, "one\0two\0".encode("utf-16-le") + b"\0\0"),
    ("Two lines", REG_SZ, "a\r\nb"),
    ("Odd", REG_SZ, b"abc"),
    ("Unicode Ünï 漢字 🌍", REG_SZ, "Ünï 漢字 🌍"),
    ("Quote\"and\\slash", REG_SZ, ""),
]


def software(page):
    return [
        ("Microsoft\\Windows NT\\CurrentVersion", [("SystemRoot", REG_SZ, "C:\\Windows")]),
        (f"Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\{SYSTEM_SID}",
         [("ProfileImagePath", REG_EXPAND_SZ, "%systemroot%\\system32\\config\\systemprofile")]),
        (f"Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\{ALICE}",
         [("ProfileImagePath", REG_EXPAND_SZ, "C:\\Users\\alice")]),
        (f"Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\{BOB}",
         [("ProfileImagePath", REG_EXPAND_SZ, "%SystemDrive%\\Users\\bob")]),
        (f"Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\{CAROL}",
         [("ProfileImagePath", REG_EXPAND_SZ, "C:\\Users\\carol")]),
        (f"{UNINSTALL}\\Quillorbex", [("DisplayName", REG_SZ, "Quillorbex")]),
        (f"{UNINSTALL}\\Other Product", []),
        ("Classes\\.txt", [("", REG_SZ, "txtfile")]),
        ("Classes\\Quillorbex.Document\\CLSID", [("", REG_SZ, "{0B1F0000-0000-0000-0000-0000000000AA}")]),
        ("Classes\\CLSID\\{0B1F0000-0000-0000-0000-0000000000AA}\\ProgID",
         [("", REG_SZ, "Quillorbex.Document")]),
        ("Quillorbex", EVERY_KIND),
        ("Quillorbex\\Settings\\Deeper", [("Level", REG_DWORD, 3)]),
        (f"Quillorbex\\{LONG_INSIDE}", []),
        ("Vendor\\Quillorbex Ünïcödé", []),
        ("Vendor\\Quillorbex 漢字", []),
        ("Vendor\\Quillorbex Кириллица", []),
        (f"Vendor\\{LONG_199}", []),
        (f"Vendor\\{LONG_200}", []),
        ("Vendor\\Quillorbexy", []),
        ("Vendor\\MyQuillorbex", []),
    ] + [(f"Classes\\Bulk\\Group{g:02d}\\Key{k:03d}", []) for g in range(11) for k in range(100)]


def system(page):
    return [
        ("Select", [("Current", REG_DWORD, 1), ("Default", REG_DWORD, 1)]),
        ("ControlSet001\\Control\\Nls\\CodePage", [("ACP", REG_SZ, str(page)),
                                                  ("OEMCP", REG_SZ, "850")]),
        ("ControlSet001\\Services\\Quillorbex Service", [("Start", REG_DWORD, 2)]),
        ("ControlSet001\\Services\\Tcpip", []),
    ]


def hives(page):
    """{file below the folder: [(key path, values)]}."""
    return {
        SOFTWARE: software(page),
        SYSTEM: system(page),
        DEFAULT: [("Software\\Quillorbex", []), ("Software\\Kept", [])],
        SYSTEM_PROFILE: [("Software\\Quillorbex\\Cache", [])],
        ALICE_USER: [("Software\\Quillorbex\\Settings", [("Theme", REG_SZ, "dark")]),
                     (f"Software\\{UNINSTALL}\\Quillorbex", []),
                     ("Software\\Kept", [])],
        ALICE_CLASSES: [("Quillorbex.Document", []), (".qbx", [])],
        BOB_USER: [("Software\\Vendor\\QUILLORBEX Tools", []), ("Software\\Vendor\\Other", [])],
    }


def removed(page):
    """[(live path, hive file)] of every key tree a run under `page` removes,
    sorted by path."""
    machine = "HKEY_LOCAL_MACHINE\\SOFTWARE"
    trees = [
        (f"{machine}\\Classes\\Quillorbex.Document", SOFTWARE),
        (f"{machine}\\Quillorbex", SOFTWARE),
        (f"{machine}\\Vendor\\{LONG_199}", SOFTWARE),
        (f"{machine}\\Vendor\\Quillorbexy", SOFTWARE),
        ("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Quillorbex Service", SYSTEM),
        ("HKEY_USERS\\.DEFAULT\\Software\\Quillorbex", DEFAULT),
        (f"HKEY_USERS\\{SYSTEM_SID}\\Software\\Quillorbex", SYSTEM_PROFILE),
        (f"HKEY_USERS\\{ALICE}\\Software\\Quillorbex", ALICE_USER),
        (f"HKEY_USERS\\{ALICE}_Classes\\Quillorbex.Document", ALICE_CLASSES),
        (f"HKEY_USERS\\{BOB}\\Software\\Vendor\\QUILLORBEX Tools", BOB_USER),
    ]
    # The names each page holds (932 holds Cyrillic letters too).
    outside = {1252: ["Quillorbex Ünïcödé"], 1251: ["Quillorbex Кириллица"],
               932: ["Quillorbex 漢字", "Quillorbex Кириллица"]}
    trees += [(f"{machine}\\Vendor\\{name}", SOFTWARE) for name in outside[page]]
    return sorted(trees)


def make(root, page=1252):
    """Writes the installation below `root` for ANSI code page `page`."""
    root = pathlib.Path(root)
    for name, keys in hives(page).items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        write_hive(os.fspath(path), keys)
