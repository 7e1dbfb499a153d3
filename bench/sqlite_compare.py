"""Brackwater beside SQLite on the same writes, measured from Python.

Both engines get the same posits: posit i has one Thing (new, in the Role "name"), the integer value i
and the appearance time '2020-01-01'. Brackwater runs one `add posit` script per batch through
`execute_json`; SQLite runs prepared statements through `executemany` inside one transaction per
batch, against a schema that mirrors the posit model:

  roles            id, name UNIQUE
  things           id
  appearance_sets  id, members UNIQUE            (canonical member text, as the engine interns sets)
  appearances      (set_id, role_id) primary key, thing_id indexed   (Role and Thing postings)
  posits           id, set_id, value, kind, time, UNIQUE(set_id, value, time)   (posit identity)

Every SQLite insert is INSERT OR IGNORE, resolving the set by its unique members text, so a batch
that repeats stored posits stores nothing new, as `add posit` does.

Workloads (figures are medians of --runs runs after one untimed warm-up; each run starts afresh):
  1. bulk: --posits posits in one statement / one transaction, in memory and on disk;
  2. small durable commits: --commits scripts / transactions of one posit each, on disk;
  3. re-adding the --posits stored posits (nothing new is stored). Script variables live for one
     script (finding 100,000 stored Things again would be a search workload of its own), so
     Brackwater re-adds in a second statement of the script that added them: its figure is
     time(add; re-add) - time(add);
  4. reopening the --posits database: open, then one trivial statement that reads the schema;
  5. searches over --things Things, each with a name and an age (set {(t, name)} and {(t, age)}),
     and a probe Posit on Thing 0, with the indexes a user would add for reading
     (appearances by Role, posits by set and time); each figure includes turning the result into
     Python objects (json.loads of the response; fetchall), and Brackwater is also reported
     without json.loads ("JSON text": execute_json returning the response text):
     - point search: the latest age of the probed Thing (us per call);
     - single-Role scan: every Thing with its name;
     - two-pattern join: every name with its Thing's age;
     - "as of": the latest age before a date per Thing, over 10 age versions per Thing, beside
       SQLite's window form and its correlated-subquery form.
  6. open of an --open-posits store (a full replay of its log), beside SQLite's open followed by a
     scan of every stored value inside SQLite (it reads pages on demand; the scan touches them all);
  7. one-posit durable commit: the median latency of each of --commits single-posit commits, Brackwater's
     in blocks taken in turn with the same three flushes done as bare os calls (the device's own time);
  8. memory (--memory-posits posits, each engine in a fresh process): resident and peak bytes per
     posit after the bulk script in memory, and after reopening that database from disk (SQLite: open
     and a scan of every value); with --native-bench (bench/ingest_bench.cc, built with
     BRACKWATER_BENCH), Brackwater's resident bytes broken down by structure;
  9. ingest of a realistic shape (--memory-posits posits): 500 cities, then per person a name posit
     (a new Thing in "person", a string value) and a posit of the person and one of the cities (an
     integer value), each at the person's date of birth; in memory and on disk.

SQLite on disk runs twice: journal_mode=WAL and the default rollback journal (DELETE), both with
synchronous=FULL; ":memory:" stands beside Brackwater's memory database.

Run after `make install`: python3 bench/sqlite_compare.py [--posits N] [--commits N] [--runs N]
[--dir PATH]   (--dir picks the file system for the on-disk databases; default: a temporary one)
"""

import argparse
import json
import os
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

import brackwater

TIME = "2020-01-01"
SCHEMA = """
CREATE TABLE roles (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE things (id INTEGER PRIMARY KEY);
CREATE TABLE appearance_sets (id INTEGER PRIMARY KEY, members TEXT NOT NULL UNIQUE);
CREATE TABLE appearances (
    set_id INTEGER NOT NULL REFERENCES appearance_sets(id),
    role_id INTEGER NOT NULL REFERENCES roles(id),
    thing_id INTEGER NOT NULL REFERENCES things(id),
    PRIMARY KEY (set_id, role_id)
) WITHOUT ROWID;
CREATE INDEX appearances_by_thing ON appearances(thing_id, role_id);
CREATE TABLE posits (
    id INTEGER PRIMARY KEY,
    set_id INTEGER NOT NULL REFERENCES appearance_sets(id),
    value TEXT NOT NULL,
    kind INTEGER NOT NULL,
    time TEXT NOT NULL,
    UNIQUE (set_id, value, time)
);
INSERT INTO roles(name) VALUES ('name');
"""
INSERT_THING = "INSERT OR IGNORE INTO things(id) VALUES (?)"
INSERT_SET = "INSERT OR IGNORE INTO appearance_sets(members) VALUES (?)"
INSERT_APPEARANCE = (
    "INSERT OR IGNORE INTO appearances(set_id, role_id, thing_id) "
    "SELECT s.id, r.id, ? FROM appearance_sets s, roles r WHERE s.members = ? AND r.name = 'name'"
)
INSERT_POSIT = (
    "INSERT OR IGNORE INTO posits(set_id, value, kind, time) "
    "SELECT id, ?, 2, ? FROM appearance_sets WHERE members = ?"
)
TRIVIAL_SQL = "SELECT id FROM roles WHERE name = 'name'"
TRIVIAL_SCRIPT = "add role name;"

SQLITE_DISK_MODES = (("sqlite WAL", "WAL"), ("sqlite rollback", "DELETE"))


# ---------------------------------------------------------------- data, one shape for both engines


def thing_id(i):
    return i + 1


def sqlite_rows(first, count):
    """The executemany parameter lists for posits first .. first+count-1."""
    things, sets, appearances, posits = [], [], [], []
    for i in range(first, first + count):
        thing = thing_id(i)
        members = f"name:{thing}"
        things.append((thing,))
        sets.append((members,))
        appearances.append((thing, members))
        posits.append((str(i), TIME, members))
    return things, sets, appearances, posits


def velquin_add(first, count, insert=True):
    """One `add posit` statement; insert=False recalls the Things an earlier statement bound."""
    sigil = "+" if insert else ""
    items = ", ".join(f"[{{({sigil}t{i}, name)}}, {i}, '{TIME}']" for i in range(first, first + count))
    return f"add posit {items};"


# ---------------------------------------------------------------- opening


def sqlite_connect(path, mode):
    connection = sqlite3.connect(path, isolation_level=None)
    if mode is not None:
        connection.execute(f"PRAGMA journal_mode={mode}")
        connection.execute("PRAGMA synchronous=FULL")
    return connection


def sqlite_create(path, mode):
    connection = sqlite_connect(path, mode)
    connection.executescript(SCHEMA)
    return connection


def sqlite_write(connection, rows, insert_appearance=INSERT_APPEARANCE, insert_posit=INSERT_POSIT):
    things, sets, appearances, posits = rows
    connection.execute("BEGIN")
    connection.executemany(INSERT_THING, things)
    connection.executemany(INSERT_SET, sets)
    connection.executemany(insert_appearance, appearances)
    connection.executemany(insert_posit, posits)
    connection.execute("COMMIT")


def brackwater_create(path):
    db = brackwater.Database.memory() if path is None else brackwater.Database.open(path)
    db.execute_json("add role name;")
    return db


def size_of(path):
    if os.path.isdir(path):
        return sum(os.path.getsize(os.path.join(path, name)) for name in os.listdir(path))
    return sum(os.path.getsize(p) for p in (path, path + "-wal", path + "-journal") if os.path.exists(p))


def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    else:
        for p in (path, path + "-wal", path + "-shm", path + "-journal"):
            if os.path.exists(p):
                os.remove(p)


def measure(runs, setup, act, teardown):
    """Median seconds of act(state) over runs fresh states, after one untimed warm-up run."""
    times = []
    for run in range(runs + 1):
        state = setup()
        start = time.perf_counter()
        act(state)
        elapsed = time.perf_counter() - start
        teardown(state)
        if run:
            times.append(elapsed)
    return statistics.median(times)


def close(handle):
    handle.close()


# ---------------------------------------------------------------- report


def duration(seconds):
    return f"{seconds * 1e3:9.1f} ms" if seconds >= 1e-3 else f"{seconds * 1e6:9.1f} us"


class Report:
    """Collects one figure per (workload, engine), prints each as it comes and a table at the end."""

    def __init__(self):
        self.rows = []

    def add(self, workload, engine, seconds, count, unit, note=""):
        self.rows.append((workload, engine, seconds, count, unit, note))
        print(f"  {workload:<34} {engine:<28} {duration(seconds)}", flush=True)

    def table(self):
        print()
        header = (f"{'workload':<34} {'engine':<28} {'median':>12} {'per item':>16} {'items/s':>11} "
                  f"{'vs brackwater':>14}  note")
        print(header)
        print("-" * len(header))
        baseline = {}
        last = None
        for workload, engine, seconds, count, unit, note in self.rows:
            if engine.startswith("brackwater"):
                baseline[workload] = seconds
            base = baseline.get(workload)
            ratio = (f"{seconds / base:.2f}x" if seconds >= base / 10 else f"{seconds / base:.2g}x") if base else ""
            per = f"{seconds / count * 1e6:.2f} us/{unit}" if count > 1 else ""
            rate = f"{count / seconds:,.0f}" if count > 1 else ""
            print(f"{workload if workload != last else '':<34} {engine:<28} {duration(seconds):>12} {per:>16} "
                  f"{rate:>11} {ratio:>14}  {note}".rstrip())
            last = workload
        print("\nvs brackwater: the engine's time over Brackwater's on the same workload "
              "(above 1x: Brackwater is faster);\nfor searches, over the figure with json.loads "
              "(\"JSON text\": execute_json alone, the response left as text).")


def mib(size):
    return f"{size / 2**20:.1f} MiB on disk"


# ---------------------------------------------------------------- workloads


def brackwater_fresh(path):
    """setup for measure(): a new Brackwater database holding the Role, in memory when path is None."""
    def setup():
        if path is not None:
            remove(path)
        return brackwater_create(path)
    return setup


def sqlite_fresh(path, mode, rows=None, extra_sql=None):
    """setup for measure(): a new SQLite database with the schema (and extra_sql), and rows written when given."""
    def setup():
        if path != ":memory:":
            remove(path)
        connection = sqlite_create(path, mode)
        if extra_sql is not None:
            connection.execute(extra_sql)
        if rows is not None:
            sqlite_write(connection, rows)
        return connection
    return setup


def sqlite_places(directory, name):
    """(engine, file, journal mode) of each on-disk SQLite configuration."""
    return [(engine, os.path.join(directory, f"{name}-{mode}.db"), mode) for engine, mode in SQLITE_DISK_MODES]


def bench_bulk(report, args, directory, rows, script):
    n = args.posits
    add = lambda db: db.execute_json(script)
    write = lambda connection: sqlite_write(connection, rows)
    work = f"bulk {n:,}, memory"
    report.add(work, "brackwater memory", measure(args.runs, brackwater_fresh(None), add, close), n, "posit")
    report.add(work, "sqlite :memory:", measure(args.runs, sqlite_fresh(":memory:", None), write, close), n, "posit")

    work = f"bulk {n:,}, disk"
    path = os.path.join(directory, "bulk")
    seconds = measure(args.runs, brackwater_fresh(path), add, close)
    report.add(work, "brackwater store", seconds, n, "posit", mib(size_of(path)))
    remove(path)
    for engine, file, mode in sqlite_places(directory, "bulk"):
        seconds = measure(args.runs, sqlite_fresh(file, mode), write, close)
        report.add(work, engine, seconds, n, "posit", mib(size_of(file)))
        remove(file)


def bench_small_commits(report, args, directory):
    n = args.commits
    work = f"{n:,} one-posit commits, disk"
    scripts = [velquin_add(i, 1) for i in range(n)]
    path = os.path.join(directory, "small")

    def commit_each(db):
        for script in scripts:
            db.execute_json(script)

    report.add(work, "brackwater store", measure(args.runs, brackwater_fresh(path), commit_each, close), n, "commit")
    remove(path)
    batches = [sqlite_rows(i, 1) for i in range(n)]

    def write_each(connection):
        for rows in batches:
            sqlite_write(connection, rows)

    for engine, file, mode in sqlite_places(directory, "small"):
        report.add(work, engine, measure(args.runs, sqlite_fresh(file, mode), write_each, close), n, "commit")
        remove(file)


def bench_readd(report, args, directory, rows, script, readd_script):
    n = args.posits
    both = script + "\n" + readd_script
    note = "second statement of the adding script"

    def write_again(connection):
        sqlite_write(connection, rows)

    def check_and_close(connection):
        stored = connection.execute("SELECT count(*) FROM posits").fetchone()[0]
        assert stored == n, f"{stored} posits stored after re-adding {n}"
        connection.close()

    for where, path in (("memory", None), ("disk", os.path.join(directory, "readd"))):
        work = f"re-add {n:,} stored, {where}"
        adds = measure(args.runs, brackwater_fresh(path), lambda db: db.execute_json(script), close)
        totals = measure(args.runs, brackwater_fresh(path), lambda db: db.execute_json(both), close)
        engine = "brackwater memory" if path is None else "brackwater store"
        report.add(work, engine, max(totals - adds, 1e-9), n, "posit", note)
        if path is None:
            places = [("sqlite :memory:", ":memory:", None)]
        else:
            remove(path)
            places = sqlite_places(directory, "readd")
        for engine, file, mode in places:
            report.add(work, engine, measure(args.runs, sqlite_fresh(file, mode, rows), write_again, check_and_close),
                       n, "posit")
            if mode is not None:
                remove(file)


def bench_reopen(report, args, directory, rows, script):
    work = f"reopen {args.posits:,}-posit database"
    path = os.path.join(directory, "reopen")
    remove(path)
    db = brackwater_create(path)
    db.execute_json(script)
    db.close()
    holder = []

    def open_brackwater(_):
        holder.append(brackwater.Database.open(path))
        holder[-1].execute_json(TRIVIAL_SCRIPT)

    seconds = measure(args.runs, lambda: None, open_brackwater, lambda _: holder.pop().close())
    report.add(work, "brackwater store", seconds, 1, "open", mib(size_of(path)))
    remove(path)
    for engine, file, mode in sqlite_places(directory, "reopen"):
        sqlite_fresh(file, mode, rows)().close()

        def open_sqlite(_):
            holder.append(sqlite_connect(file, mode))
            holder[-1].execute(TRIVIAL_SQL).fetchone()

        seconds = measure(args.runs, lambda: None, open_sqlite, lambda _: holder.pop().close())
        report.add(work, engine, seconds, 1, "open", mib(size_of(file)))
        remove(file)


# ---------------------------------------------------------------- searches

ROLE_NAME, ROLE_AGE, ROLE_PROBE = 1, 2, 3
SEARCH_INDEXES = """
CREATE INDEX appearances_by_role ON appearances(role_id, thing_id);
CREATE INDEX posits_by_set_time ON posits(set_id, time);
INSERT INTO roles(id, name) VALUES (2, 'age'), (3, 'probe');
"""
AS_OF = "1905-06-01"  # versions are dated 1900-01-01, 1901-01-01, ...; this sees 1905's


def velquin_people(things, versions, chunk=10_000):
    """The scripts that add the search data to Brackwater."""
    yield "add role age, probe;"
    for lo in range(0, things, chunk):
        hi = min(things, lo + chunk)
        names = ", ".join(f'[{{(+t{i}, name)}}, "n{i}", \'{TIME}\']' for i in range(lo, hi))
        ages = ", ".join(f"[{{(t{i}, age)}}, {(i + v) % 90}, '{1900 + v}-01-01']"
                         for i in range(lo, hi) for v in range(versions))
        probe = "add posit [{(t0, probe)}, 1, '2020-01-01'];" if lo == 0 else ""
        yield f"add posit {names}; add posit {ages}; {probe}"


def sqlite_people(connection, things, versions):
    """The same data in SQLite: Thing i is i+1, its name set 3i+1, its age set 3i+2."""
    connection.executescript(SEARCH_INDEXES)
    connection.execute("BEGIN")
    connection.executemany("INSERT INTO things(id) VALUES (?)", ((i + 1,) for i in range(things)))
    connection.executemany("INSERT INTO appearance_sets(id, members) VALUES (?, ?)",
                           ((3 * i + 1 + r, f"{('name', 'age')[r]}:{i + 1}") for i in range(things) for r in (0, 1)))
    connection.executemany("INSERT INTO appearances(set_id, role_id, thing_id) VALUES (?, ?, ?)",
                           ((3 * i + 1 + r, r + 1, i + 1) for i in range(things) for r in (0, 1)))
    connection.executemany("INSERT INTO posits(set_id, value, kind, time) VALUES (?, ?, ?, ?)",
                           ((3 * i + 1, f"n{i}", 1, TIME) for i in range(things)))
    connection.executemany("INSERT INTO posits(set_id, value, kind, time) VALUES (?, ?, 2, ?)",
                           ((3 * i + 2, str((i + v) % 90), f"{1900 + v}-01-01") for i in range(things)
                            for v in range(versions)))
    connection.execute("INSERT INTO appearance_sets(id, members) VALUES (3, 'probe:1')")
    connection.execute("INSERT INTO appearances(set_id, role_id, thing_id) VALUES (3, 3, 1)")
    connection.execute("INSERT INTO posits(set_id, value, kind, time) VALUES (3, '1', 2, '2020-01-01')")
    connection.execute("COMMIT")
    connection.execute("ANALYZE")


SEARCHES = [
    # (workload, Velquin search, [(engine, SQL)], calls per figure, versions of the data)
    ("point search", "search [{(?t, probe)}, *, *] [{(?t, age)}, ?g, *] as of @NOW return ?g;",
     [("sqlite :memory:", "SELECT p.value FROM appearances k JOIN appearances a ON a.thing_id = k.thing_id "
                          "AND a.role_id = 2 JOIN posits p ON p.set_id = a.set_id WHERE k.role_id = 3 "
                          "ORDER BY p.time DESC LIMIT 1")], 1_000, 1),
    ("single-Role scan", "search [{(?t, name)}, ?n, *] return ?t, ?n;",
     [("sqlite :memory:", "SELECT a.thing_id, p.value FROM appearances a JOIN posits p ON p.set_id = a.set_id "
                          "WHERE a.role_id = 1")], 1, 1),
    ("two-pattern join", "search [{(?t, name)}, ?n, *] [{(?t, age)}, ?g, *] return ?n, ?g;",
     [("sqlite :memory:", "SELECT pn.value, pa.value FROM appearances an JOIN posits pn ON pn.set_id = an.set_id "
                          "JOIN appearances aa ON aa.thing_id = an.thing_id AND aa.role_id = 2 "
                          "JOIN posits pa ON pa.set_id = aa.set_id WHERE an.role_id = 1")], 1, 1),
    ("as of, 10 versions per Thing", f"search [{{(?t, age)}}, ?g, *] as of '{AS_OF}' return ?t, ?g;",
     [("sqlite window", "SELECT thing_id, value FROM (SELECT a.thing_id, p.value, row_number() OVER "
                        "(PARTITION BY p.set_id ORDER BY p.time DESC) AS n FROM appearances a JOIN posits p "
                        f"ON p.set_id = a.set_id WHERE a.role_id = 2 AND p.time <= '{AS_OF}') WHERE n = 1"),
      ("sqlite correlated", "SELECT a.thing_id, p.value FROM appearances a JOIN posits p ON p.set_id = a.set_id "
                            "WHERE a.role_id = 2 AND p.time = (SELECT max(q.time) FROM posits q "
                            f"WHERE q.set_id = p.set_id AND q.time <= '{AS_OF}')")], 1, 10),
]


def bench_searches(report, args):
    for versions in (1, 10):
        db = brackwater_create(None)
        for script in velquin_people(args.things, versions):
            db.execute_json(script)
        connection = sqlite_create(":memory:", None)
        sqlite_people(connection, args.things, versions)
        for workload, search, queries, calls, data in SEARCHES:
            if data != versions:
                continue
            work = f"{workload}, {args.things:,} Things"
            rows = []

            def run_engine(_):
                for _ in range(calls):
                    db.execute_json(search)

            def run_brackwater(_):
                for _ in range(calls):
                    rows[:] = json.loads(db.execute_json(search))["result_sets"][0]["rows"]

            engine_seconds = measure(args.runs, lambda: None, run_engine, lambda _: None) / calls
            seconds = measure(args.runs, lambda: None, run_brackwater, lambda _: None) / calls
            found = len(rows)
            count = found if calls == 1 else 1  # a point search is reported per call
            report.add(work, "brackwater memory, JSON text", engine_seconds, count, "row")
            report.add(work, "brackwater memory", seconds, count, "row")
            for engine, sql in queries:
                def run_sqlite(_):
                    for _ in range(calls):
                        rows[:] = connection.execute(sql).fetchall()

                seconds = measure(args.runs, lambda: None, run_sqlite, lambda _: None) / calls
                assert len(rows) == found, f"{workload}: {engine} gave {len(rows)} rows, brackwater {found}"
                report.add(work, engine, seconds, count, "row")
        db.close()
        connection.close()



def build_store(path, posits, step=100_000):
    """A Brackwater store of `posits` posits, written in commits of `step` posits."""
    remove(path)
    db = brackwater_create(path)
    for first in range(0, posits, step):
        db.execute_json(velquin_add(first, min(step, posits - first)))
    db.close()


def bench_open_store(report, args, directory):
    n = args.open_posits
    work = f"open of a {n:,}-posit store"
    path = os.path.join(directory, "open")
    build_store(path, n)
    holder = []

    def open_brackwater(_):
        holder.append(brackwater.Database.open(path))
        holder[-1].execute_json(TRIVIAL_SCRIPT)

    seconds = measure(args.runs, lambda: None, open_brackwater, lambda _: holder.pop().close())
    report.add(work, "brackwater store", seconds, n, "posit", mib(size_of(path)))
    remove(path)
    for engine, file, mode in sqlite_places(directory, "open"):
        connection = sqlite_fresh(file, mode)()
        for first in range(0, n, 100_000):
            sqlite_write(connection, sqlite_rows(first, min(100_000, n - first)))
        connection.close()

        def open_sqlite(_):
            holder.append(sqlite_connect(file, mode))
            count, _ = holder[-1].execute("SELECT count(*), sum(length(value)) FROM posits").fetchone()
            assert count == n, f"{count} values scanned of {n}"

        seconds = measure(args.runs, lambda: None, open_sqlite, lambda _: holder.pop().close())
        report.add(work, engine, seconds, n, "posit", f"{mib(size_of(file))}, every value scanned")
        remove(file)


def median_commits(commits, *commit, block=25):
    """The median seconds of each commit(i) over i < commits, each timed on its own; with several kinds
    of commit, blocks of `block` commits of each kind in turn (what one kind leaves to the file system
    then weighs on its own next commit, not on the other kind's)."""
    times = [[] for _ in commit]
    for first in range(0, commits, block):
        for each, spent in zip(commit, times):
            for i in range(first, min(commits, first + block)):
                start = time.perf_counter()
                each(i)
                spent.append(time.perf_counter() - start)
    return [statistics.median(spent) for spent in times]


class BareFlushes:
    """A store's one-posit commit as bare os calls, its three flushes back to back: a 106-byte append to
    the log and its fsync; "manifest.next" created, 95 bytes written and fsynced; the rename over
    "manifest.bmf"; the directory's fsync."""

    def __init__(self, path):
        os.mkdir(path)
        self.dir = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
        self.log = os.open("log", os.O_RDWR | os.O_CREAT, 0o666, dir_fd=self.dir)
        self.length = 0

    def commit(self, _):
        self.length += os.pwrite(self.log, b"f" * 106, self.length)
        os.fsync(self.log)
        staged = os.open("manifest.next", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666, dir_fd=self.dir)
        os.pwrite(staged, b"m" * 95, 0)
        os.fsync(staged)
        os.rename("manifest.next", "manifest.bmf", src_dir_fd=self.dir, dst_dir_fd=self.dir)
        os.fsync(self.dir)
        os.close(staged)

    def close(self):
        os.close(self.log)
        os.close(self.dir)


def bench_durable_commit(report, args, directory):
    """Brackwater's commits in blocks taken in turn with the same three flushes as bare os calls on the
    same file system, so that the ratio of the two holds while the machine's speed drifts."""
    n = args.commits
    work = "one-posit durable commit"
    note = f"median of {n:,} commits"
    path = os.path.join(directory, "commit")
    bare_path = os.path.join(directory, "commit-bare")
    remove(path)
    remove(bare_path)
    db = brackwater_create(path)
    bare = BareFlushes(bare_path)
    seconds, flushes = median_commits(n, lambda i: db.execute_json(velquin_add(i, 1)), bare.commit)
    db.close()
    bare.close()
    report.add(work, "brackwater store", seconds, 1, "commit", f"{note}; {seconds / flushes:.2f}x the flushes below")
    report.add(work, "three flushes, bare os calls", flushes, 1, "commit", "in blocks taken in turn with brackwater's")
    remove(path)
    remove(bare_path)
    for engine, file, mode in sqlite_places(directory, "commit"):
        connection = sqlite_fresh(file, mode)()
        (seconds,) = median_commits(n, lambda i: sqlite_write(connection, sqlite_rows(i, 1)))
        connection.close()
        report.add(work, engine, seconds, 1, "commit", note)
        remove(file)


# ---------------------------------------------------------------- memory and the mixed shape

CITIES = 500


def birth_date(i):
    return f"{1950 + i % 60:04d}-{1 + i % 12:02d}-{1 + i % 28:02d}"


def mixed_shape(n):
    """(posit texts of one `add posit`, SQLite rows) of the mixed shape; same figures as ingest_bench."""
    items = []
    things, sets, appearances, posits = [], [], [], []
    for c in range(min(CITIES, n)):
        items.append(f'[{{(+c{c}, city)}}, "City {c}", \'{TIME}\']')
        members = f"city:{c + 1}"
        things.append((c + 1,))
        sets.append((members,))
        appearances.append((c + 1, "city", members))
        posits.append((f'"City {c}"', 1, TIME, members))
    i = 0
    while len(items) < n:
        date = birth_date(i)
        person = CITIES + 1 + i
        items.append(f'[{{(+p{i}, person)}}, "Person number {i}", \'{date}\']')
        members = f"person:{person}"
        things.append((person,))
        sets.append((members,))
        appearances.append((person, "person", members))
        posits.append((f'"Person number {i}"', 1, date, members))
        if len(items) < n:
            value = i * 7919 % 100000
            items.append(f"[{{(p{i}, person), (c{i % CITIES}, city)}}, {value}, \'{date}\']")
            members = f"person:{person}|city:{i % CITIES + 1}"
            sets.append((members,))
            appearances.append((person, "person", members))
            appearances.append((i % CITIES + 1, "city", members))
            posits.append((str(value), 2, date, members))
        i += 1
    return "add posit " + ", ".join(items) + ";", (things, sets, appearances, posits)


MIXED_SETUP_SQL = "INSERT INTO roles(name) VALUES ('person'), ('city');"
MIXED_APPEARANCE = (
    "INSERT OR IGNORE INTO appearances(set_id, role_id, thing_id) "
    "SELECT s.id, r.id, ? FROM appearance_sets s, roles r WHERE r.name = ? AND s.members = ?"
)
MIXED_POSIT = (
    "INSERT OR IGNORE INTO posits(set_id, value, kind, time) "
    "SELECT id, ?, ?, ? FROM appearance_sets WHERE members = ?"
)


def sqlite_write_mixed(connection, rows):
    sqlite_write(connection, rows, MIXED_APPEARANCE, MIXED_POSIT)


def bench_mixed_ingest(report, args, directory):
    n = args.memory_posits
    script, rows = mixed_shape(n)
    add = lambda db: db.execute_json(script)
    write = lambda connection: sqlite_write_mixed(connection, rows)

    def brackwater_setup(path):
        def setup():
            if path is not None:
                remove(path)
            db = brackwater.Database.memory() if path is None else brackwater.Database.open(path)
            db.execute_json("add role person, city;")
            return db
        return setup

    def sqlite_setup(path, mode):
        return sqlite_fresh(path, mode, extra_sql=MIXED_SETUP_SQL)

    work = f"mixed ingest {n:,}, memory"
    report.add(work, "brackwater memory", measure(args.runs, brackwater_setup(None), add, close), n, "posit")
    report.add(work, "sqlite :memory:", measure(args.runs, sqlite_setup(":memory:", None), write, close), n, "posit")
    work = f"mixed ingest {n:,}, disk"
    path = os.path.join(directory, "mixed")
    report.add(work, "brackwater store", measure(args.runs, brackwater_setup(path), add, close), n, "posit",
               mib(size_of(path)))
    remove(path)
    engine, file, mode = sqlite_places(directory, "mixed")[0]
    report.add(work, engine, measure(args.runs, sqlite_setup(file, mode), write, close), n, "posit", mib(size_of(file)))
    remove(file)


# Run in a fresh interpreter: prints "resident peak" in bytes over the interpreter with its input built.
MEMORY_CHILD = r"""
import sys
sys.path[:0] = {path!r}
import sqlite_compare as bench

def status(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1]) * 1024

def measure(act):
    base = status("VmRSS:")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    keep = act()
    print(status("VmRSS:") - base, status("VmHWM:") - base)
    return keep

engine, action, n, path = {engine!r}, {action!r}, {n!r}, {place!r}
if engine == "brackwater":
    if action == "add":
        script = bench.velquin_add(0, n)
        db = bench.brackwater_create(path)
        kept = measure(lambda: db.execute_json(script))
    else:
        kept = measure(lambda: bench.brackwater.Database.open(path))
else:
    if action == "add":
        rows = bench.sqlite_rows(0, n)
        connection = bench.sqlite_create(path, None if path == ":memory:" else "WAL")
        kept = measure(lambda: bench.sqlite_write(connection, rows))
    else:
        def scan():
            connection = bench.sqlite_connect(path, "WAL")
            connection.execute("SELECT count(*), sum(length(value)) FROM posits").fetchone()
            return connection
        kept = measure(scan)
"""


def child_memory(engine, action, n, place):
    code = MEMORY_CHILD.format(path=[os.path.dirname(os.path.abspath(__file__))] + sys.path, engine=engine,
                               action=action, n=n, place=place)
    out = subprocess.run([sys.executable, "-c", code], check=True, capture_output=True, text=True).stdout
    resident, peak = (int(v) for v in out.split())
    return resident, peak


def bench_memory(args, directory):
    """Resident and peak bytes per posit, each engine in a fresh process, printed as a table."""
    n = args.memory_posits
    rows = []
    path = os.path.join(directory, "memory-store")
    remove(path)
    db = brackwater_create(path)
    db.execute_json(velquin_add(0, n))
    db.close()
    file = os.path.join(directory, "memory-WAL.db")
    sqlite_fresh(file, "WAL", sqlite_rows(0, n))().close()
    for work, engine, action, place in (
        ("after the bulk script, memory", "brackwater", "add", None),
        ("after the bulk script, memory", "sqlite", "add", ":memory:"),
        ("after reopening from disk", "brackwater", "open", path),
        ("after reopening from disk", "sqlite", "open", file),
    ):
        resident, peak = child_memory(engine, action, n, place)
        rows.append((work, engine, resident, peak))
    remove(path)
    remove(file)
    print(f"\nmemory, {n:,} posits (bytes per posit over a fresh interpreter holding the input)")
    print(f"{'state':<34} {'engine':<18} {'resident':>10} {'peak':>10} {'peak/resident':>14}")
    for work, engine, resident, peak in rows:
        print(f"{work:<34} {engine:<18} {resident / n:>10.1f} {peak / n:>10.1f} {peak / max(resident, 1):>13.2f}x")
    if args.native_bench:
        print(f"\nBrackwater's resident bytes by structure (from {args.native_bench}, the same script in C++):")
        for shape in ("simple", "mixed"):
            out = subprocess.run([args.native_bench, "memory", shape, str(n)], check=True, capture_output=True,
                                 text=True).stdout
            print(f"  {shape} shape: " + out.replace("\n", "\n  ").rstrip())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--posits", type=int, default=100_000, help="posits of the bulk, re-add and reopen workloads")
    parser.add_argument("--commits", type=int, default=2_000, help="one-posit commits of the small-commit workload")
    parser.add_argument("--things", type=int, default=100_000, help="Things of the search workloads")
    parser.add_argument("--open-posits", type=int, default=1_000_000, help="posits of the store-open workload")
    parser.add_argument("--runs", type=int, default=3, help="runs per figure; the median is reported")
    parser.add_argument("--dir", default=None, help="directory for the on-disk databases")
    parser.add_argument("--memory-posits", type=int, default=1_000_000,
                        help="posits of the memory and mixed-ingest workloads")
    parser.add_argument("--native-bench", default=None,
                        help="path of the built ingest_bench, for the memory breakdown by structure")
    parser.add_argument("--skip", default="", help="comma-separated workloads to leave out: "
                        "bulk,small,readd,reopen,open,commit,mixed,searches,memory")
    args = parser.parse_args()
    if min(args.posits, args.commits, args.runs, args.things, args.open_posits, args.memory_posits) < 1:
        parser.error("--posits, --open-posits, --memory-posits, --commits, --things and --runs must be at least 1")

    print(f"brackwater {brackwater.ENGINE_PACKAGE_VERSION}, SQLite {sqlite3.sqlite_version}; "
          f"{args.posits:,} posits, {args.commits:,} commits, median of {args.runs} run(s)", flush=True)
    rows = sqlite_rows(0, args.posits)
    script = velquin_add(0, args.posits)
    readd_script = velquin_add(0, args.posits, insert=False)
    report = Report()
    with tempfile.TemporaryDirectory(prefix="sqlite-compare-", dir=args.dir) as directory:
        skip = set(args.skip.split(","))
        for name, run in (("bulk", lambda: bench_bulk(report, args, directory, rows, script)),
                          ("small", lambda: bench_small_commits(report, args, directory)),
                          ("readd", lambda: bench_readd(report, args, directory, rows, script, readd_script)),
                          ("reopen", lambda: bench_reopen(report, args, directory, rows, script)),
                          ("open", lambda: bench_open_store(report, args, directory)),
                          ("commit", lambda: bench_durable_commit(report, args, directory)),
                          ("mixed", lambda: bench_mixed_ingest(report, args, directory)),
                          ("searches", lambda: bench_searches(report, args))):
            if name not in skip:
                run()
        report.table()
        if "memory" not in skip:
            bench_memory(args, directory)


if __name__ == "__main__":
    main()
