"""Reading and writing a store directory's files directly, to check what a test wrote."""

import pathlib
import re
import struct

LOG_NAME = "log-0000000000000001.btl"
MANIFEST_NAME = "manifest.bmf"
VALUE_PATTERN = re.compile(rb'"(?P<tag>[a-z]+)-(?P<number>\d{8})"')


def crc32c(data):
    c = 0xFFFFFFFF
    for byte in data:
        c ^= byte
        for _ in range(8):
            c = (c >> 1) ^ (0x82F63B78 & -(c & 1))
    return c ^ 0xFFFFFFFF


def committed_length(store_dir):
    """The committed length recorded in the manifest (a u64 at byte 83)."""
    data = pathlib.Path(store_dir, MANIFEST_NAME).read_bytes()
    assert data[:8] == b"POSITBMF"
    return struct.unpack_from("<Q", data, 83)[0]


def with_committed_length(manifest, committed):
    """The manifest with another committed length and its checksum made to match."""
    body = manifest[:83] + struct.pack("<Q", committed)
    return body + struct.pack("<I", crc32c(body))


def log_size(store_dir):
    return pathlib.Path(store_dir, LOG_NAME).stat().st_size


def stored_values(store_dir, tag):
    """Every number n of a string value "<tag>-<n:08d>" in the committed log, with its count."""
    data = pathlib.Path(store_dir, LOG_NAME).read_bytes()[: committed_length(store_dir)]
    counts = {}
    for match in VALUE_PATTERN.finditer(data):
        if match.group("tag") == tag.encode():
            number = int(match.group("number"))
            counts[number] = counts.get(number, 0) + 1
    return counts
