"""Registry hive files for the tests of tolvanik-offline, made here: an empty
hive written byte by byte from the published format (a 4 KiB base block, one
4 KiB bin holding the root key, its security cell and free space), then grown
through hivex's Python binding.

Run with Debian's python3 (/usr/bin/python3), which has the hivex module."""

import struct

import hivex

BASE_BLOCK = 4096
BIN_SIZE = 4096

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 1, 2, 3, 4, 7, 11


def _cell(record, allocated=True):
    size = (4 + len(record) + 7) // 8 * 8
    body = record + b"\0" * (size - 4 - len(record))
    return struct.pack("<i", -size if allocated else size) + body


def empty_hive(root_name="ROOT"):
    """The bytes of a hive holding only its root key."""
    root_offset = 0x20  # after the bin's header, counted from the first bin
    name = root_name.encode("latin-1")
    nk_size = (4 + 0x4C + len(name) + 7) // 8 * 8
    sk_offset = root_offset + nk_size
    # A self-relative security descriptor without owner, group or lists.
    descriptor = struct.pack("<BBHIIII", 1, 0, 0x8000, 0, 0, 0, 0)
    nk = struct.pack("<2sHQIIIIIIIIIIIIIIIHH", b"nk", 0x2C, 0, 0, 0, 0, 0, 0xFFFFFFFF,
                     0xFFFFFFFF, 0, 0xFFFFFFFF, sk_offset, 0xFFFFFFFF, 0, 0, 0, 0, 0,
                     len(name), 0) + name
    sk = struct.pack("<2sHIIII", b"sk", 0, sk_offset, sk_offset, 1, len(descriptor)) + descriptor
    cells = _cell(nk) + _cell(sk)
    free = BIN_SIZE - 0x20 - len(cells)
    cells += struct.pack("<i", free) + b"\0" * (free - 4)
    hbin = struct.pack("<4sIIQQI", b"hbin", 0, BIN_SIZE, 0, 0, 0) + cells

    base = bytearray(BASE_BLOCK)
    struct.pack_into("<4sIIQIIIIIII", base, 0, b"regf", 1, 1, 0, 1, 3, 0, 1, root_offset,
                     BIN_SIZE, 1)
    checksum = 0
    for (word,) in struct.iter_unpack("<I", bytes(base[:0x1FC])):
        checksum ^= word
    checksum = {0: 1, 0xFFFFFFFF: 0xFFFFFFFE}.get(checksum, checksum)
    struct.pack_into("<I", base, 0x1FC, checksum)
    return bytes(base) + hbin


def _value(name, kind, data):
    if isinstance(data, str):
        data = data.encode("utf-16-le") + b"\0\0"
    elif isinstance(data, int):
        data = struct.pack("<I" if kind == REG_DWORD else "<Q", data)
    return {"key": name, "t": kind, "value": data}


def write_hive(path, keys):
    """Writes the hive at `path` holding `keys`: (path below the root, with
    backslashes, [(value name, type, data), ...]) in any order; data is a str
    (written as UTF-16LE with its NUL), an int (REG_DWORD or REG_QWORD) or
    bytes as they stand."""
    with open(path, "wb") as out:
        out.write(empty_hive())
    h = hivex.Hivex(path, write=True)
    nodes = {"": h.root()}

    def node(key_path):
        if key_path not in nodes:
            parent, _, name = key_path.rpartition("\\")
            nodes[key_path] = h.node_add_child(node(parent), name)
        return nodes[key_path]

    for key_path, values in keys:
        at = node(key_path)
        if values:
            h.node_set_values(at, [_value(*value) for value in values])
    h.commit(path)


def read_hive(path):
    """{key path: sorted [(value name, type, data bytes)]} of every key below
    the root, names as hivex gives them (UTF-8 decoded)."""
    h = hivex.Hivex(path)
    keys = {}

    def visit(node, key_path):
        if key_path:
            values = []
            for value in h.node_values(node):
                kind, data = h.value_value(value)
                values.append((h.value_key(value), kind, data))
            keys[key_path] = sorted(values)
        for child in h.node_children(node):
            name = h.node_name(child)
            visit(child, f"{key_path}\\{name}" if key_path else name)

    visit(h.root(), "")
    return keys
