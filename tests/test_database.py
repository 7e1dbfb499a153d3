"""The native class `_Database`: class facts, lifecycle and borrow rules."""

import gc
import pathlib
import sys
import weakref

import pytest

import brackwater
import brackwater._native as native
from brackwater._native import _Database

from conftest import notes


def test_class_facts():
    assert _Database.__module__ == "brackwater._native"
    assert _Database.__name__ == "_Database"
    assert _Database.__qualname__ == "_Database"
    assert _Database.__bases__ == (object,)
    assert _Database.__doc__ == "Native database owner. Python users receive the facade in `brackwater._api`."
    with pytest.raises(TypeError):
        type("Derived", (_Database,), {})


@pytest.mark.parametrize("args", [(), (1,), ("x",)])
def test_class_is_not_constructible(args):
    with pytest.raises(TypeError) as exc:
        _Database(*args)
    assert str(exc.value) == "cannot create 'brackwater._native._Database' instances"


def test_instances_have_no_dict_no_weakrefs_and_a_read_only_closed(db):
    with pytest.raises(AttributeError):
        db.anything = 1
    with pytest.raises(AttributeError):
        db.closed = True
    assert not hasattr(db, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(db)


def test_text_signatures():
    assert _Database.memory.__text_signature__ == "()"
    assert _Database.open.__text_signature__ == "(path)"
    assert _Database.execute_json.__text_signature__ == (
        "($self, script, parameters=None, now=None, timeout=None, max_rows=None)"
    )
    assert _Database.close.__text_signature__ == "($self)"
    assert _Database.memory.__doc__ is None
    assert _Database.closed.__doc__ is None


def test_close_is_idempotent_and_repr_follows(db):
    other = _Database.memory()  # every memory database is new
    assert repr(db) == "<brackwater.Database open>"
    assert db.closed is False
    assert db.close() is None
    assert db.closed is True
    assert repr(db) == "<brackwater.Database closed>"
    assert db.close() is None
    assert db.closed is True
    assert other.closed is False
    other.close()


def test_second_open_of_an_open_store_fails(store_dir):
    first = _Database.open(store_dir)
    with pytest.raises(native.PersistenceError) as exc:
        _Database.open(store_dir)
    assert type(exc.value) is native.PersistenceError
    first.close()
    _Database.open(path=store_dir).close()  # the lock went with close()


def test_dropping_an_open_instance_releases_the_store(store_dir):
    db = _Database.open(store_dir)
    del db
    gc.collect()
    _Database.open(store_dir).close()


@pytest.mark.parametrize("path", [1, None, b"bytes", pathlib.Path("somewhere")])
def test_open_refuses_anything_but_str(path):
    with pytest.raises(TypeError) as exc:
        _Database.open(path)
    assert str(exc.value) == f"'{type(path).__name__}' object is not an instance of 'str'"
    if sys.version_info >= (3, 11):
        assert notes(exc) == ["while processing 'path'"]


def test_open_argument_errors():
    for call in (lambda: _Database.open(), lambda: _Database.open("a", "b"), lambda: _Database.open(where="a"),
                 lambda: _Database.memory(1)):
        with pytest.raises(TypeError):
            call()


def test_open_a_path_with_a_nul_byte(tmp_path):
    # The whole text reaches the store, which refuses it (the message: store_test.cc); nothing is created.
    with pytest.raises(native.PersistenceError):
        _Database.open(str(tmp_path / "a\x00b"))
    assert list(tmp_path.iterdir()) == []


def test_facade_wraps_the_native_class(tmp_path):
    with brackwater.Database.memory() as db:
        assert repr(db) == "<brackwater.Database open>"
        assert db.closed is False
    assert db.closed is True
    with brackwater.Database.open(tmp_path / "facade") as db:
        assert db.closed is False
    with brackwater.Database.open(str(tmp_path / "facade")) as db:
        db.close()
        db.close()
