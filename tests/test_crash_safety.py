"""Crash safety: a writer killed with SIGKILL at random moments never loses an acknowledged posit.

Each round starts a child that appends one posit per script to a store and acknowledges each on
stdout, kills it at a random moment, reopens the store and checks that every acknowledged posit is
there, that at most the one in flight is extra, that nothing is stored twice, and that the log ends
exactly at its committed length. BRACKWATER_CRASH_ROUNDS sets the number of rounds (default 100).
"""

import os
import pathlib
import random
import select
import signal
import subprocess
import sys
import time

import brackwater._native as native

from store_scan import committed_length, log_size, stored_values

CHILD = str(pathlib.Path(__file__).with_name("crash_child.py"))


def run_round(store_dir, first, rng):
    child = subprocess.Popen(
        [sys.executable, CHILD, store_dir, str(first)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        bufsize=0,  # unbuffered: reading the first acknowledgement takes nothing more from the pipe
    )
    # Kill at a random moment: sometimes during start-up and open, mostly while writing. A third of
    # the rounds wait for the first acknowledgement before they time the kill, so every machine,
    # however slow its start-up, gets rounds killed while writing.
    head = b""
    moment = rng.randrange(3)
    if moment == 2:
        readable, _, _ = select.select([child.stdout], [], [], 60)
        head = child.stdout.readline() if readable else b""
    time.sleep((0.0, 0.15, 0.2)[moment] * rng.random())
    child.send_signal(signal.SIGKILL)
    out, err = child.communicate()
    assert child.returncode == -signal.SIGKILL, err.decode(errors="replace")
    acknowledged = [int(line) for line in (head + out).decode().split()]
    assert acknowledged == list(range(first, first + len(acknowledged)))
    return acknowledged


def test_sigkill_never_loses_acknowledged_posits(tmp_path):
    rounds = int(os.environ.get("BRACKWATER_CRASH_ROUNDS", "100"))
    rng = random.Random(int(os.environ.get("BRACKWATER_CRASH_SEED", str(time.time_ns()))))
    store_dir = str(tmp_path / "store")
    acknowledged = set()
    in_flight = set()
    first = 0
    for _ in range(rounds):
        acked = run_round(store_dir, first, rng)
        acknowledged.update(acked)
        in_flight.add(first + len(acked))
        # Reopening replays the log and cuts it back to the committed length; a store whose
        # creation was cut short is created anew.
        native._Database.open(store_dir).close()
        assert log_size(store_dir) == committed_length(store_dir)
        stored = stored_values(store_dir, "crash")
        missing = acknowledged - stored.keys()
        assert not missing, f"acknowledged posits lost: {sorted(missing)[:10]}"
        extra = stored.keys() - acknowledged
        assert extra <= in_flight, f"posits that were never in flight: {sorted(extra - in_flight)[:10]}"
        assert all(count == 1 for count in stored.values())
        first = max(stored.keys(), default=first - 1) + 1
        first = max(first, max(in_flight) + 1)
    print(f"{rounds} rounds, {len(acknowledged)} acknowledged, {len(in_flight)} in flight")
    assert acknowledged, "no round got to write anything"
    db = native._Database.open(store_dir)
    db.execute_json("add posit [{(+t, name)}, \"crash-99999999\", '2020-01-01'];")
    db.close()
