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


@pytest.fixture(scope="session")
def long_script():
    """One `add posit` statement over the Role "name" that keeps the engine busy for a quarter of a second."""
    import time

    count = 2_000
    while True:
        script = "add posit " + ", ".join(f"[{{(+t{i}, name)}}, {i}, '2020']" for i in range(count)) + ";"
        probe = native._Database.memory()
        probe.execute_json("add role name;")
        started = time.perf_counter()
        probe.execute_json(script)
        elapsed = time.perf_counter() - started
        probe.close()
        if elapsed >= 0.25 or count >= 4_000_000:
            return script
        count *= 2 if elapsed > 0.05 else 4
