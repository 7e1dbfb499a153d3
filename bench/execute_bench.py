"""End-to-end figures of execute_json, measured from Python.

Reports:
  - one `add posit` statement of 100,000 posits, in memory and on a store (posits per second);
  - 10,000 scripts of one small `add posit` each on a store (time per script), beside the cost of
    the three flushes a committed batch needs, measured on the same file system;
  - argument and parameter conversion with 1,000 parameters (time per call of an empty script);
  - tiny scripts from 1, 2, 4 and 8 threads on one database (throughput, p50/p99 latency).

Run after `make install`: python3 bench/execute_bench.py [--quick]
"""

import os
import statistics
import sys
import tempfile
import threading
import time

import brackwater._native as native

QUICK = "--quick" in sys.argv


def big_add_posit(count):
    items = ", ".join(f"[{{(+t{i}, name)}}, {i}, '2020-01-01']" for i in range(count))
    return f"add posit {items};"


def bench_big_statement(make_db, label, count=100_000):
    script = big_add_posit(count)
    best = None
    for _ in range(1 if QUICK else 3):
        db = make_db()
        db.execute_json("add role name;")
        start = time.perf_counter()
        db.execute_json(script)
        elapsed = time.perf_counter() - start
        db.close()
        best = elapsed if best is None else min(best, elapsed)
    print(f"one add posit of {count:,} posits, {label}: {best * 1e3:.1f} ms, {count / best:,.0f} posits/s")


def three_flush_cost(directory, rounds=200):
    """A log write + fsync, a manifest write + fsync + rename, and a directory fsync."""
    log = os.path.join(directory, "flush.log")
    manifest = os.path.join(directory, "flush.next")
    target = os.path.join(directory, "flush.bmf")
    dir_fd = os.open(directory, os.O_RDONLY)
    log_fd = os.open(log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o666)
    start = time.perf_counter()
    for _ in range(rounds):
        os.write(log_fd, b"x" * 80)
        os.fsync(log_fd)
        fd = os.open(manifest, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666)
        os.write(fd, b"m" * 95)
        os.fsync(fd)
        os.rename(manifest, target)
        os.fsync(dir_fd)
        os.close(fd)
    elapsed = time.perf_counter() - start
    os.close(log_fd)
    os.close(dir_fd)
    return elapsed / rounds


def bench_small_scripts(directory, count=10_000):
    count = 1_000 if QUICK else count
    db = native._Database.open(os.path.join(directory, "small"))
    db.execute_json("add role name;")
    scripts = [f"add posit [{{(+t{i}, name)}}, {i}, '2020-01-01'];" for i in range(count)]
    start = time.perf_counter()
    for script in scripts:
        db.execute_json(script)
    elapsed = time.perf_counter() - start
    db.close()
    flushes = three_flush_cost(directory)
    print(
        f"{count:,} small add posit scripts on a store: {elapsed / count * 1e6:.1f} us per script "
        f"({count / elapsed:,.0f}/s); three flushes alone: {flushes * 1e6:.1f} us"
    )


def bench_parameters(count=1_000):
    db = native._Database.memory()
    parameters = {f"p{i}": ("literal" if i % 2 else "time", str(i) if i % 2 else "2020-01-01") for i in range(count)}
    calls = 200 if QUICK else 2_000
    start = time.perf_counter()
    for _ in range(calls):
        db.execute_json("", parameters=parameters, now="2020-01-01")
    elapsed = time.perf_counter() - start
    empty_start = time.perf_counter()
    for _ in range(calls):
        db.execute_json("", now="2020-01-01")
    empty = time.perf_counter() - empty_start
    db.close()
    per_call = elapsed / calls
    print(
        f"empty script with {count:,} parameters: {per_call * 1e6:.1f} us per call "
        f"({(per_call - empty / calls) / count * 1e9:.0f} ns per parameter; empty call {empty / calls * 1e6:.1f} us)"
    )


def bench_threads(per_thread=2_000):
    per_thread = 300 if QUICK else per_thread
    for threads in (1, 2, 4, 8):
        db = native._Database.memory()
        latencies = []
        lock = threading.Lock()

        def run():
            mine = []
            for _ in range(per_thread):
                start = time.perf_counter()
                db.execute_json("", now="2020-01-01")
                mine.append(time.perf_counter() - start)
            with lock:
                latencies.extend(mine)

        workers = [threading.Thread(target=run) for _ in range(threads)]
        start = time.perf_counter()
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        elapsed = time.perf_counter() - start
        db.close()
        latencies.sort()
        p99 = latencies[int(len(latencies) * 0.99)]
        print(
            f"{threads} thread(s), tiny scripts: {len(latencies) / elapsed:,.0f} scripts/s, "
            f"p50 {statistics.median(latencies) * 1e6:.1f} us, p99 {p99 * 1e6:.1f} us"
        )


def main():
    with tempfile.TemporaryDirectory() as directory:
        bench_big_statement(native._Database.memory, "in memory")
        counter = iter(range(100))
        bench_big_statement(lambda: native._Database.open(os.path.join(directory, f"big{next(counter)}")), "on a store")
        bench_small_scripts(directory)
    bench_parameters()
    bench_threads()


if __name__ == "__main__":
    main()
