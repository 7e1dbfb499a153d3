"""Several threads on one database: scripts serialise, close() waits for calls, timeouts fire."""

import threading
import time

import pytest

import brackwater._native as native

from store_scan import stored_values

THREADS = 8
SCRIPTS_PER_THREAD = 40


def test_threads_running_scripts_at_once_are_serialised(store_dir):
    db = native._Database.open(store_dir)
    db.execute_json("add role name;")
    errors = []
    start = threading.Barrier(THREADS)

    def writer(thread):
        try:
            start.wait()
            for i in range(SCRIPTS_PER_THREAD):
                number = thread * 1000 + i
                # Every thread also re-adds one shared posit: it must be stored once.
                db.execute_json(
                    f"add posit [{{(+t, name)}}, \"conc-{number:08d}\", '2020'], "
                    f"[{{(+s, name)}}, \"shared-{0:08d}\", '2020'];"
                )
        except BaseException as exc:  # noqa: BLE001 - reported by the assertion below
            errors.append(exc)

    workers = [threading.Thread(target=writer, args=(t,)) for t in range(THREADS)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join(60)
    assert not errors, errors
    db.close()
    stored = stored_values(store_dir, "conc")
    expected = {t * 1000 + i for t in range(THREADS) for i in range(SCRIPTS_PER_THREAD)}
    assert stored.keys() == expected
    assert all(count == 1 for count in stored.values())
    # Each statement inserts a new Thing for the shared value, so it is a new posit every time.
    assert stored_values(store_dir, "shared") == {0: THREADS * SCRIPTS_PER_THREAD}
    native._Database.open(store_dir).close()


def test_close_during_a_long_call_from_another_thread(db, long_script):
    db.execute_json("add role name;")
    script = long_script
    started = threading.Event()
    outcome = {}

    def call():
        started.set()
        try:
            outcome["result"] = db.execute_json(script)
        except BaseException as exc:  # noqa: BLE001
            outcome["error"] = exc

    worker = threading.Thread(target=call)
    worker.start()
    assert started.wait(10)
    time.sleep(0.02)
    refused = 0
    while worker.is_alive():
        try:
            db.close()
        except RuntimeError as exc:
            assert str(exc) == "Already borrowed"
            refused += 1
            time.sleep(0.005)
            continue
        break
    worker.join(60)
    assert refused > 0
    assert "error" not in outcome, outcome.get("error")
    db.close()
    assert db.closed


def test_a_waiting_script_times_out_while_another_holds_the_engine(db, long_script):
    db.execute_json("add role name;")
    script = long_script
    started = threading.Event()

    def call():
        started.set()
        db.execute_json(script)

    worker = threading.Thread(target=call)
    worker.start()
    assert started.wait(10)
    timed_out = 0
    while worker.is_alive():
        try:
            db.execute_json("", timeout=0.001)
        except native.QueryTimeoutError as exc:
            assert str(exc) == "Execution timed out"
            timed_out += 1
    worker.join(60)
    assert timed_out > 0


def test_other_threads_run_while_a_script_executes(db, long_script):
    db.execute_json("add role name;")
    script = long_script
    ticks = []
    done = threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    worker = threading.Thread(target=ticker)
    worker.start()
    time.sleep(0.01)
    try:
        before = len(ticks)
        db.execute_json(script)
        during = len(ticks) - before
    finally:
        done.set()
        worker.join()
    assert during > 5
