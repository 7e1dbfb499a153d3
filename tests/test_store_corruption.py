"""A store's files, damaged byte by byte: every change inside the committed log is refused on open,
and a committed length opens only where a batch ends.

The log's frames are walked here and the manifest rewritten through store_scan, so these tests check
the files as they are on disk, not through the engine's own decoder.
"""

import pathlib
import shutil

import pytest

import brackwater._native as native

from store_scan import LOG_NAME as LOG, MANIFEST_NAME as MANIFEST, with_committed_length


def read_uleb(data, pos):
    value = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, pos


def batch_ends(log):
    """The end of the header and of every Commit frame (type 255)."""
    ends = [64]
    pos = 64
    while pos < len(log):
        kind = log[pos + 5]
        length, start = read_uleb(log, pos + 16)
        pos = start + length + 4
        if kind == 255:
            ends.append(pos)
    return set(ends)


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


def test_every_changed_byte_of_the_committed_log_is_refused(tmp_path, written):
    log, manifest = written
    for i in range(len(log)):
        damaged = log[:i] + bytes([log[i] ^ 0xFF]) + log[i + 1 :]
        with pytest.raises(native.DataCorruptionError):
            open_copy(tmp_path / "copy", damaged, manifest)


def test_a_committed_length_opens_only_where_a_batch_ends(tmp_path, written):
    log, manifest = written
    ends = batch_ends(log)
    assert len(ends) == 5
    for cut in range(64, len(log) + 1):
        if cut in ends:
            open_copy(tmp_path / "copy", log[:cut], with_committed_length(manifest, cut))
        else:
            with pytest.raises(native.DataCorruptionError) as cut_log:
                open_copy(tmp_path / "copy", log[:cut], with_committed_length(manifest, cut))
            # The same length over the whole log: the same refusal, and not a byte of the log cut.
            with pytest.raises(native.DataCorruptionError) as whole_log:
                open_copy(tmp_path / "copy", log, with_committed_length(manifest, cut))
            assert str(whole_log.value) == str(cut_log.value)
            assert (tmp_path / "copy" / LOG).read_bytes() == log


def test_manifest_damage_is_refused_before_the_log_is_touched(tmp_path, written):
    log, manifest = written
    copy = tmp_path / "copy"
    for i in range(len(manifest)):
        damaged = manifest[:i] + bytes([manifest[i] ^ 0x01]) + manifest[i + 1 :]
        with pytest.raises(native.DataCorruptionError, match="^Data corruption: manifest checksum mismatch$"):
            open_copy(copy, log + b"tail", damaged)
        assert (copy / LOG).read_bytes() == log + b"tail"
