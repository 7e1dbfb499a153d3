"""Forked children of a process whose engine threads have run: the thread that frees large search
buffers (after a search that succeeded and after one that timed out), the store writer's thread, and
the replay threads of a reopen. Every child must finish: a child still running at its deadline is
killed and the test fails. Each child also works a memory database of its own."""

import json
import multiprocessing
import os
import re
import signal
import time
import traceback

import pytest

import brackwater

pytestmark = pytest.mark.filterwarnings("ignore:.*use of fork\\(\\) may lead to deadlocks:DeprecationWarning")

# Seconds; more under the sanitizers, which slow a search down tenfold.
CHILD_DEADLINE = 120.0 if "asan" in os.environ.get("LD_PRELOAD", "") else 30.0
# Every pair of an `a` Posit and a `b` Posit: over 600 x 300 Posits, a row table of several MiB,
# which the search hands to the engine's background thread to free.
CROSS_JOIN = "search [{(?x, a)}, ?v, ?t], [{(?y, b)}, ?w, ?u] return ?v, ?w limit 1;"
FIRST_PAIR = [["0", "0"]]
REFUSED = "store belongs to the process that opened it; a forked process cannot write to it"


def run_in_child(body):
    """Runs body() in a forked child, which must exit cleanly within the deadline (else it is killed)."""
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            body()
            code = 0
        except BaseException:  # noqa: BLE001 - reported through the exit code
            traceback.print_exc()
        finally:
            os._exit(code)
    deadline = time.monotonic() + CHILD_DEADLINE
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        if time.monotonic() > deadline:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            pytest.fail(f"the forked child did not finish within {CHILD_DEADLINE:.0f} s")
        time.sleep(0.005)
    assert os.waitstatus_to_exitcode(status) == 0


def rows(db, script, **kwargs):
    result = json.loads(db.execute_json(script, **kwargs))
    return [[cell["text"] for cell in row] for row in result["result_sets"][0]["rows"]]


def cross_join_database(xs=600, ys=300):
    db = brackwater.Database.memory()
    a = ", ".join(f"[{{(+x{i}, a)}}, {i}, '2020']" for i in range(xs))
    b = ", ".join(f"[{{(+y{i}, b)}}, {i}, '2020']" for i in range(ys))
    db.execute_json(f"add role a, b; add posit {a}, {b};")
    return db


def settle():
    """Gives the background thread time to free what the last search handed over and wait for more."""
    time.sleep(0.2)


def use_a_memory_database_of_its_own():
    own = brackwater.Database.memory()
    own.execute_json("add role name; add posit [{(+t, name)}, \"child\", '2020'], [{(+u, name)}, \"other\", '2020'];")
    assert sorted(rows(own, "search [{(?t, name)}, ?n, *] return ?n;")) == [['"child"'], ['"other"']]
    own.close()


# The thread that frees large search buffers.


def test_a_child_searches_after_its_parent_ran_a_large_search():
    db = cross_join_database()
    assert rows(db, CROSS_JOIN) == FIRST_PAIR
    settle()

    def child():
        for _ in range(3):
            assert rows(db, CROSS_JOIN) == FIRST_PAIR
        use_a_memory_database_of_its_own()

    run_in_child(child)
    assert rows(db, CROSS_JOIN) == FIRST_PAIR
    db.close()


def test_a_child_searches_after_its_parent_ran_a_large_search_that_timed_out():
    db = cross_join_database()
    c = ", ".join(f"[{{(+z{i}, c)}}, {i}, '2020']" for i in range(2000))
    db.execute_json(f"add role c; add posit {c};")
    # 4 million pairs (under the row limit), far more than 50 ms give time for.
    every_pair = "search [{(?x, c)}, ?v, ?t], [{(?y, c)}, ?w, ?u] return ?v, ?w;"
    with pytest.raises(brackwater.QueryTimeoutError):
        db.execute_json(every_pair, timeout=0.05)
    settle()

    def child():
        for _ in range(3):
            with pytest.raises(brackwater.QueryTimeoutError):
                db.execute_json(every_pair, timeout=0.05)
        assert rows(db, CROSS_JOIN) == FIRST_PAIR
        use_a_memory_database_of_its_own()

    run_in_child(child)
    assert rows(db, CROSS_JOIN) == FIRST_PAIR
    db.close()


_POOL_DB = None


def _search_in_pool_worker(n):
    found = [rows(_POOL_DB, CROSS_JOIN) for _ in range(2)]
    use_a_memory_database_of_its_own()
    return n, found


def test_a_fork_pool_searches_after_its_parent_ran_a_large_search():
    global _POOL_DB
    _POOL_DB = cross_join_database()
    try:
        assert rows(_POOL_DB, CROSS_JOIN) == FIRST_PAIR
        settle()
        with multiprocessing.get_context("fork").Pool(2) as pool:
            got = pool.map_async(_search_in_pool_worker, range(4)).get(timeout=CHILD_DEADLINE)
        assert got == [(n, [FIRST_PAIR] * 2) for n in range(4)]
    finally:
        _POOL_DB.close()
        _POOL_DB = None


# The store writer's thread.


def test_a_child_after_store_commits_reads_its_parents_store_and_writes_one_of_its_own(tmp_path):
    db = brackwater.Database.open(tmp_path / "parent")
    db.execute_json("add role name;")
    for i in range(5):
        db.execute_json(f"add posit [{{(+t{i}, name)}}, {i}, '2020'];")
    stored = [[str(i)] for i in range(5)]

    def child():
        assert sorted(rows(db, "search [{(?t, name)}, ?n, *] return ?n;")) == stored
        with pytest.raises(brackwater.PersistenceError, match=re.escape(REFUSED)):
            db.execute_json("add posit [{(+c, name)}, \"child\", '2020'];")
        with brackwater.Database.open(tmp_path / "child") as own:
            own.execute_json("add role name;")
            for i in range(3):
                own.execute_json(f"add posit [{{(+c{i}, name)}}, {i}, '2020'];")
        with brackwater.Database.open(tmp_path / "child") as own:
            assert sorted(rows(own, "search [{(?t, name)}, ?n, *] return ?n;")) == stored[:3]
        use_a_memory_database_of_its_own()

    run_in_child(child)
    db.execute_json("add posit [{(+p, name)}, 5, '2020'];")
    db.close()
    with brackwater.Database.open(tmp_path / "parent") as reopened:
        assert sorted(rows(reopened, "search [{(?t, name)}, ?n, *] return ?n;")) == stored + [["5"]]


# The replay threads of an open.


def test_a_child_after_a_reopen_searches_and_maps_the_terrain(tmp_path):
    path = tmp_path / "store"
    count = 80_000  # over 4 MiB of log: the reopen replays it on worker threads
    with brackwater.Database.open(path) as db:
        db.execute_json("add role a;")
        for start in range(0, count, 20_000):
            db.execute_json("add posit " + ", ".join(f"[{{(+x{i}, a)}}, {i}, '2020']" for i in range(start, start + 20_000)) + ";")
    db = brackwater.Database.open(path)

    def child():
        assert rows(db, f"search [{{(?x, a)}}, ?v, *] where ?v = {count - 1} return ?v;") == [[str(count - 1)]]
        # No time limit (the child's deadline bounds it): how long the Terrain of 80,000 Posits takes
        # depends on the machine and the build.
        assert json.loads(db.terrain_json(timeout=None))["database"]["posits"] == count
        use_a_memory_database_of_its_own()

    run_in_child(child)
    db.close()
