"""End-to-end figures of execute_json, measured from Python.

Reports:
  - one `add posit` statement of 100,000 posits, in memory and on a store (posits per second);
  - 10,000 scripts of one small `add posit` each on a store (time per script), beside the cost of
    the three flushes a committed batch needs, measured on the same file system;
  - argument and parameter conversion with 1,000 parameters (time per call of an empty script);
  - tiny scripts from 1, 2, 4 and 8 threads on one database (throughput, p50/p99 latency);
  - searches over generated people (Things with name, age and friend Roles): a single-Role scan,
    two- and three-pattern joins (star and chain), as of with 1, 10 and 100 versions per set, in
    effect over 1e3..1e5 assertions, not exists over 1e4 rows, order by and distinct over 1e5 rows,
    limit 10 over 1e6 matches, and a point search (one Thing's latest age) in us per call.

Run after `make install`: python3 bench/execute_bench.py [--quick]
"""

import json
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


# ---------------------------------------------------------------- searches


def load_people(db, things, versions=1, assertions=0, chunk=10_000):
    """Things t0.. with a name "n{i}", `versions` ages dated one year apart in one set each, a friend
    Posit to the next Thing of the chunk, and 80% assertions of the first `assertions` names."""
    db.execute_json("add role name, age, person, friend, probe;")
    for lo in range(0, things, chunk):
        hi = min(things, lo + chunk)
        names = ", ".join(f'[{{(+t{i}, name)}}, "n{i}", \'2020-01-01\']' for i in range(lo, hi))
        ages = ", ".join(f"[{{(t{i}, age)}}, {(i + v) % 90}, '{1900 + v}-01-01']"
                         for i in range(lo, hi) for v in range(versions))
        friends = ", ".join(f"[{{(t{i}, person), (t{lo + (i + 1 - lo) % (hi - lo)}, friend)}}, \"f\", '2020-01-01']"
                            for i in range(lo, hi))
        script = f"add posit {names}; add posit {ages}; add posit {friends};"
        asserted = range(lo, min(hi, assertions))
        if asserted:
            script += "add posit " + ", ".join(
                f'[{{(t{i}, name)}}, "n{i}", \'2020-01-01\'] and assert by {"+" if i == lo else ""}s with 80% at '
                f"'2021-01-01'" for i in asserted) + ";"
        if lo == 0:
            script += "add posit [{(t0, probe)}, 1, '2020-01-01'];"
        db.execute_json(script)


def timed_search(db, script, calls=1):
    """(seconds per call, rows of the first result set) of a search, the response parsed as a caller would."""
    best = None
    for _ in range(1 if QUICK else 3):
        start = time.perf_counter()
        for _ in range(calls):
            response = json.loads(db.execute_json(script))
        elapsed = (time.perf_counter() - start) / calls
        best = elapsed if best is None else min(best, elapsed)
    return best, response["result_sets"][0]["row_count"] if response["result_sets"] else 0


def report_search(label, seconds, rows):
    rate = f", {rows / seconds:,.0f} rows/s" if rows >= 1000 else ""
    shown = f"{seconds * 1e6:.1f} us" if seconds < 1e-3 else f"{seconds * 1e3:.1f} ms"
    print(f"{label}: {shown}, {rows:,} rows{rate}")


def bench_searches():
    scale = 10 if QUICK else 1
    scan = "search [{(?t, name)}, ?n, *] return ?t, ?n;"
    for things in (10_000, 100_000, 1_000_000):
        things //= scale
        db = native._Database.memory()
        load_people(db, things)
        report_search(f"single-Role scan, {things:,} Things", *timed_search(db, scan))
        if things == 100_000 // scale:
            for label, script in (
                ("two-pattern star join", "search [{(?t, name)}, ?n, *] [{(?t, age)}, ?g, *] return ?n, ?g;"),
                ("three-pattern star join", "search [{(?t, name)}, ?n, *] [{(?t, age)}, ?g, *] "
                                            "[{(?t, person), (?f, friend)}, *, *] return ?n, ?g, ?f;"),
                ("three-pattern chain join", "search [{(?a, person), (?b, friend)}, *, *] "
                                             "[{(?b, person), (?c, friend)}, *, *] [{(?c, name)}, ?n, *] return ?a, ?n;"),
                ("order by over all ages", "search [{(?t, age)}, ?g, *] return ?t, ?g order by ?g desc, ?t;"),
                ("distinct over all ages", "search [{(?t, age)}, ?g, *] return distinct ?g;"),
                ("point search (one Thing's latest age)",
                 "search [{(?t, probe)}, *, *] [{(?t, age)}, ?g, *] as of @NOW return ?g;"),
            ):
                calls = 2_000 if label.startswith("point") else 1
                report_search(f"{label}, {things:,} Things", *timed_search(db, script, calls))
        if things == 1_000_000 // scale:
            report_search(f"limit 10 over {things:,} matches", *timed_search(db, scan[:-1] + " limit 10;"))
        db.close()

    for versions in (1, 10, 100):
        things = 100_000 // versions // scale
        db = native._Database.memory()
        load_people(db, things, versions=versions)
        script = f"search [{{(?t, age)}}, ?g, ?w] as of '{1900 + versions // 2}-06-01' return ?t, ?g;"
        report_search(f"as of, {things:,} sets x {versions} versions", *timed_search(db, script))
        db.close()

    for assertions in (1_000, 10_000, 100_000):
        assertions //= scale
        db = native._Database.memory()
        load_people(db, assertions, assertions=assertions)
        script = ("search [{(?t, name)}, ?n, *] in effect '2022', '2022' "
                  "via [{(?p, posit), (?s, ascertains)}, ?c, *] return ?t, ?s, ?c;")
        report_search(f"in effect, {assertions:,} assertions", *timed_search(db, script))
        db.close()

    db = native._Database.memory()
    load_people(db, 10_000 // scale)
    script = ("search [{(?t, name)}, ?n, *] not exists {[{(?t, person), (?f, friend)}, *, *] "
              "[{(?f, age)}, 0, *]} return ?n;")
    report_search(f"not exists over {10_000 // scale:,} rows", *timed_search(db, script))
    db.close()


def main():
    with tempfile.TemporaryDirectory() as directory:
        bench_big_statement(native._Database.memory, "in memory")
        counter = iter(range(100))
        bench_big_statement(lambda: native._Database.open(os.path.join(directory, f"big{next(counter)}")), "on a store")
        bench_small_scripts(directory)
    bench_parameters()
    bench_threads()
    bench_searches()


if __name__ == "__main__":
    main()
