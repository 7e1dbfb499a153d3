"""Engine errors cross process boundaries: each of the twelve exception classes pickles (each
protocol) and comes back as the same class with its arguments, notes and other state, and an engine
error raised in a pool worker reaches the caller as its own class."""

import multiprocessing
import os
import pickle

import pytest

import brackwater
import brackwater._native as native

pytestmark = pytest.mark.filterwarnings("ignore:.*use of fork\\(\\) may lead to deadlocks:DeprecationWarning")

CLASSES = [cls for cls in vars(native).values() if isinstance(cls, type) and issubclass(cls, native.BrackwaterError)]
# Seconds a pool worker may take before the test fails; more under the sanitizers.
WORKER_DEADLINE = 120.0 if "asan" in os.environ.get("LD_PRELOAD", "") else 30.0
BAD_SCRIPT = "search [{(?x, a)}, ?v, *] return"


def test_every_class_round_trips_with_its_message_notes_and_state():
    assert len(CLASSES) == 12
    for cls in CLASSES:
        error = cls("what went wrong")
        error.__notes__ = ["while processing 'timeout'"]
        error.detail = {"line": 3}
        bare = cls()
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            copy = pickle.loads(pickle.dumps(error, protocol))
            assert type(copy) is cls, (cls, protocol)
            assert copy.args == ("what went wrong",) and str(copy) == "what went wrong"
            assert copy.__notes__ == ["while processing 'timeout'"] and copy.detail == {"line": 3}
            assert isinstance(copy, brackwater.BrackwaterError) and copy.__class__.__module__ == "_native"
            copy = pickle.loads(pickle.dumps(bare, protocol))
            assert type(copy) is cls and copy.args == () and copy.__dict__ == {}


def test_an_unknown_class_name_is_refused_when_loading():
    data = pickle.dumps(brackwater.ParseError("x"), 0).replace(b"ParseError", b"NoSuchError")
    with pytest.raises(pickle.UnpicklingError, match="brackwater has no exception class 'NoSuchError'"):
        pickle.loads(data)


def _run_in_worker(script):
    with brackwater.Database.memory() as db:
        db.execute_json(script)


@pytest.mark.parametrize("method", ["fork", "forkserver", "spawn"])
def test_a_pool_workers_engine_error_reaches_the_caller_as_its_class(method):
    with brackwater.Database.memory() as db, pytest.raises(brackwater.ParseError) as here:
        db.execute_json(BAD_SCRIPT)
    with multiprocessing.get_context(method).Pool(1) as pool:
        pending = pool.apply_async(_run_in_worker, (BAD_SCRIPT,))
        with pytest.raises(brackwater.ParseError) as there:
            pending.get(timeout=WORKER_DEADLINE)  # a worker that does not answer fails the test
    assert type(there.value) is brackwater.ParseError
    assert there.value.args == here.value.args and str(there.value) == str(here.value)
