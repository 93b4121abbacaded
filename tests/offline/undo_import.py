"""Imports a registry export (what tolvanik-offline writes as its undo file)
into the hive files of an installation, through hivex, the way "reg import"
puts keys back: each section's key made with any missing above it, and the
values of its lines set. Reads only what such an export holds: UTF-16LE with a
byte-order mark, "[path]" sections, values as "string", dword:, hex: and
hex(type):, lines continued with a backslash."""

import re

import hivex

from hive_builder import REG_BINARY, REG_DWORD, REG_SZ


def _unquote(text, at):
    """(string, index after its closing quote) of the quoted string at `at`."""
    assert text[at] == '"', text
    out, i = [], at + 1
    while text[i] != '"':
        if text[i] == "\\":
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out), i + 1


def parse(path):
    """[(key path, [(name, type, bytes)])] of the export at `path`."""
    data = open(path, "rb").read()
    assert data.startswith(b"\xff\xfe")
    lines = data[2:].decode("utf-16-le").split("\r\n")
    assert lines[0] == "Windows Registry Editor Version 5.00"
    sections, logical = [], []
    for line in lines[1:]:
        if logical and logical[-1].endswith("\\") and not line.startswith("["):
            logical[-1] = logical[-1][:-1] + line.strip()
        else:
            logical.append(line)
    for line in logical:
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            sections.append((line[1:-1], []))
            continue
        if line.startswith("@="):
            name, rest = "", line[2:]
        else:
            name, end = _unquote(line, 0)
            assert line[end] == "=", line
            rest = line[end + 1:]
        if rest.startswith('"'):
            value, _ = _unquote(rest, 0)
            kind, raw = REG_SZ, value.encode("utf-16-le") + b"\0\0"
        elif rest.startswith("dword:"):
            kind, raw = REG_DWORD, int(rest[6:], 16).to_bytes(4, "little")
        else:
            match = re.fullmatch(r"hex(?:\(([0-9a-f]+)\))?:(.*)", rest)
            assert match, rest
            kind = int(match.group(1), 16) if match.group(1) else REG_BINARY
            raw = bytes(int(b, 16) for b in match.group(2).split(",") if b)
        sections[-1][1].append((name, kind, raw))
    return sections


def apply(path, root, installation):
    """Imports the export at `path` into the hives of the installation below `root`."""
    opened = {}
    for key_path, values in parse(path):
        for prefix, hive_file in installation.MOUNTS.items():
            if key_path.startswith(prefix + "\\"):
                break
        else:
            raise ValueError(f"no hive for {key_path}")
        if hive_file not in opened:
            opened[hive_file] = hivex.Hivex(str(root / hive_file), write=True)
        h = opened[hive_file]
        node = h.root()
        for name in key_path[len(prefix) + 1:].split("\\"):
            child = next((c for c in h.node_children(node) if h.node_name(c) == name), None)
            node = child if child is not None else h.node_add_child(node, name)
        h.node_set_values(node, [{"key": n, "t": t, "value": v} for n, t, v in values])
    for hive_file, h in opened.items():
        h.commit(str(root / hive_file))
