"""Several threads on one database through the binding: calls from many threads all land, and a
running script releases the GIL and holds its borrow (serialising and lock timeouts: execute_test.cc)."""

import threading
import time

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
                db.execute_json(f"add posit [{{(+t, name)}}, \"conc-{number:08d}\", '2020'];")
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
    native._Database.open(store_dir).close()


class BlockingSeconds:
    """A timeout whose float conversion waits: the call holds its borrow from before its arguments convert."""

    def __init__(self):
        self.entered = threading.Event()
        self.release = threading.Event()

    def __float__(self):
        self.entered.set()
        self.release.wait(10)
        return 60.0


def test_close_from_another_thread_is_refused_while_a_call_runs(db, long_script):
    db.execute_json("add role name;")
    seconds = BlockingSeconds()
    outcome = {}

    def call():
        try:
            outcome["result"] = db.execute_json(long_script, timeout=seconds)
        except BaseException as exc:  # noqa: BLE001 - recorded for the assertion below
            outcome["error"] = exc

    worker = threading.Thread(target=call)
    worker.start()
    assert seconds.entered.wait(10)
    refused = 0
    while worker.is_alive():  # refusals while the script runs need the GIL released and the borrow held
        try:
            db.close()
        except RuntimeError as exc:
            assert str(exc) == "Already borrowed"
            assert db.closed is False and repr(db) == "<brackwater.Database open>"  # shared reads still work
            refused += 1
            seconds.release.set()
            time.sleep(0.005)
            continue
        break
    worker.join(60)
    assert refused > 1
    assert "error" not in outcome, outcome.get("error")
    db.close()
    assert db.closed
