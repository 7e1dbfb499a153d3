"""A store's files, damaged byte by byte: every change inside the committed log is refused on open,
and a committed length opens only where a batch ends.

The log is read and rewritten here directly (frames, Commit records, the manifest with its CRC-32C),
so these tests check the files as they are on disk, not through the engine's own decoder.
"""

import pathlib
import shutil
import struct

import pytest

import brackwater._native as native

LOG = "log-0000000000000001.btl"
MANIFEST = "manifest.bmf"


def _crc_table():
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ 0x82F63B78 if c & 1 else c >> 1
        table.append(c)
    return table


CRC_TABLE = _crc_table()


def crc32c(data):
    c = 0xFFFFFFFF
    for byte in data:
        c = (c >> 8) ^ CRC_TABLE[(c ^ byte) & 0xFF]
    return c ^ 0xFFFFFFFF


def manifest_bytes(uuid, committed):
    body = (
        b"POSITBMF"
        + struct.pack("<HHI", 1, 0, 48)
        + uuid
        + struct.pack("<QQ", 0, 0)
        + b"\x01\x18"
        + LOG.encode()
        + struct.pack("<QBQ", 1, 0, committed)
    )
    return body + struct.pack("<I", crc32c(body))


def read_uleb(data, pos):
    value = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, pos


def frames(log):
    """(offset, end, type, sequence, payload) of every frame after the 64-byte header."""
    out = []
    pos = 64
    while pos < len(log):
        _, kind, _, sequence = struct.unpack_from("<BBHQ", log, pos + 4)
        length, start = read_uleb(log, pos + 16)
        end = start + length + 4
        out.append((pos, end, kind, sequence, log[start : start + length]))
        pos = end
    return out


def posit_identities(log):
    """The identity of every Posit record and every (Role, Thing) pair of its appearances."""
    ids = []
    for _, _, kind, _, payload in frames(log):
        if kind == 1:
            ids.append(struct.unpack_from("<Q", payload)[0])
        elif kind == 3:
            ids.append(struct.unpack_from("<Q", payload)[0])
            count, pos = read_uleb(payload, 8)
            for _ in range(count):
                ids.extend(struct.unpack_from("<QQ", payload, pos))
                pos += 16
    return ids


@pytest.fixture(scope="module")
def written(tmp_path_factory):
    """A store with genesis and three batches: its log and manifest bytes."""
    store = str(tmp_path_factory.mktemp("written") / "store")
    db = native._Database.open(store)
    db.execute_json("add role name, other;")
    db.execute_json(
        "add posit [{(+t, name), (+u, other)}, \"v\", '2020-01-02 03:04:05'], [{(t, name)}, 42, '2020']"
        " and assert +q by +src with 80% at '2001-02-03';"
    )
    db.execute_json("add posit [{(+t, name)}, {\"j\":[1,2]}, @BOT];")
    db.close()
    return pathlib.Path(store, LOG).read_bytes(), pathlib.Path(store, MANIFEST).read_bytes()


def open_copy(directory, log, manifest):
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir()
    (directory / LOG).write_bytes(log)
    (directory / MANIFEST).write_bytes(manifest)
    native._Database.open(str(directory)).close()


def test_new_store_files_and_identity_numbering_across_reopen(tmp_path):
    store = tmp_path / "store"
    native._Database.open(str(store)).close()
    assert sorted(p.name for p in store.iterdir()) == [LOG, MANIFEST, "store.lock"]
    assert (store / LOG).stat().st_size == 431
    assert (store / MANIFEST).stat().st_size == 95
    db = native._Database.open(str(store))
    db.execute_json("add role name; add posit [{(+t, name)}, 5, '2020'];")
    db.close()
    db = native._Database.open(str(store))
    db.execute_json("add role later;")
    db.close()
    # Roles 1-5, then name 6, Thing 7, Posit 8; after the reopen the next identity is 9.
    assert posit_identities((store / LOG).read_bytes()) == [1, 2, 3, 4, 5, 6, 8, 6, 7, 9]


def test_every_changed_byte_of_the_committed_log_is_refused(tmp_path, written):
    log, manifest = written
    for i in range(len(log)):
        damaged = log[:i] + bytes([log[i] ^ 0xFF]) + log[i + 1 :]
        with pytest.raises(native.DataCorruptionError):
            open_copy(tmp_path / "copy", damaged, manifest)


def test_a_committed_length_opens_only_where_a_batch_ends(tmp_path, written):
    log, manifest = written
    uuid = manifest[16:32]
    batch_ends = {64} | {end for _, end, kind, _, _ in frames(log) if kind == 255}
    assert len(batch_ends) == 5
    for cut in range(64, len(log) + 1):
        if cut in batch_ends:
            open_copy(tmp_path / "copy", log[:cut], manifest_bytes(uuid, cut))
        else:
            with pytest.raises(native.DataCorruptionError) as cut_log:
                open_copy(tmp_path / "copy", log[:cut], manifest_bytes(uuid, cut))
            # The same length over the whole log: the same refusal, and not a byte of the log cut.
            with pytest.raises(native.DataCorruptionError) as whole_log:
                open_copy(tmp_path / "copy", log, manifest_bytes(uuid, cut))
            assert str(whole_log.value) == str(cut_log.value)
            assert (tmp_path / "copy" / LOG).read_bytes() == log


def test_bytes_after_the_committed_length_are_cut_off(tmp_path, written):
    log, manifest = written
    copy = tmp_path / "copy"
    open_copy(copy, log + b"BTR1 torn tail", manifest)
    assert (copy / LOG).read_bytes() == log


def test_manifest_damage_is_refused_before_the_log_is_touched(tmp_path, written):
    log, manifest = written
    copy = tmp_path / "copy"
    for i in range(len(manifest)):
        damaged = manifest[:i] + bytes([manifest[i] ^ 0x01]) + manifest[i + 1 :]
        with pytest.raises(native.DataCorruptionError, match="^Data corruption: manifest checksum mismatch$"):
            open_copy(copy, log + b"tail", damaged)
        assert (copy / LOG).read_bytes() == log + b"tail"
