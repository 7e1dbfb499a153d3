"""Shared fixtures for the Python tests."""

import pytest

import brackwater._native as native


@pytest.fixture
def db():
    database = native._Database.memory()
    yield database
    database.close()


@pytest.fixture
def store_dir(tmp_path):
    return str(tmp_path / "store")


def notes(exc_info):
    """The notes attached to a caught exception (none on hosts without exception notes)."""
    return getattr(exc_info.value, "__notes__", [])


def add_posit_script(count, start=0):
    """One `add posit` statement of `count` posits over the Role "name", each with its own Thing."""
    items = ", ".join(f"[{{(+t{i}, name)}}, {i}, '2020']" for i in range(start, start + count))
    return f"add posit {items};"


@pytest.fixture(scope="session")
def long_script():
    """An `add posit` script that keeps the engine busy for at least a quarter of a second."""
    import time

    count = 2_000
    while True:
        script = add_posit_script(count)
        probe = native._Database.memory()
        probe.execute_json("add role name;")
        started = time.perf_counter()
        probe.execute_json(script)
        elapsed = time.perf_counter() - started
        probe.close()
        if elapsed >= 0.25 or count >= 4_000_000:
            return script
        count *= 2 if elapsed > 0.05 else 4
