"""Searches through `execute_json`: the result sets reach Python as JSON (what a search finds is
pinned in the C++ tests: match_test, search_command_test, run_test)."""

import json

NOW = "2024-01-01"


def test_result_sets_through_the_binding(db):
    db.execute_json("add role name, age; add posit [{(+a, name)}, \"Ann\", '2020'], [{(a, age)}, 30, '2019'],"
                    " [{(+b, age)}, 40, '2020-06-01'];", now=NOW)
    script = "search [{(?t, name)}, ?n, ?w] where ?n = \"Ann\" return ?t, ?n, ?w;"
    assert json.loads(db.execute_json(script, now=NOW))["result_sets"] == [
        {
            "columns": ["t", "n", "w"],
            "rows": [[{"kind": "thing", "text": "8"}, {"kind": "literal", "text": '"Ann"'},
                      {"kind": "time", "text": "2020"}]],
            "row_count": 1,
            "limited": False,
            "search": script,
        }
    ]
    # The rows of a union's groups follow one another, duplicates kept.
    union = json.loads(db.execute_json("search [{(?t, name)}, *, *] union [{(?t, age)}, *, *] return ?t;"))
    assert [[cell["text"] for cell in row] for row in union["result_sets"][0]["rows"]] == [["8"], ["8"], ["9"]]


def test_appearance_set_matching_skips_repeats_and_answers_its_deadline(db):
    import brackwater._native as native
    import pytest

    roles = ", ".join(f"r{i}" for i in range(20))
    members = ", ".join(f"(+t{i}, r{i})" for i in range(20))
    db.execute_json(f"add role {roles}; add posit [{{{members}}}, 1, '2020'];")
    # 16 entries over 20 members: every further choice completes to the row already found.
    wildcards = ", ".join(["(*, *)"] * 16)
    found = json.loads(db.execute_json(f"search [{{{wildcards}, ...}}, ?v, *] return ?v;", timeout=5))
    assert found["result_sets"][0]["rows"] == [[{"kind": "literal", "text": "1"}]]
    # 27.9 million distinct assignments of one candidate: the deadline ends them, not the row limit.
    variables = ", ".join(f"(?v{i}, *)" for i in range(6))
    with pytest.raises(native.QueryTimeoutError):
        db.execute_json(f"search [{{{variables}, ...}}, *, *];", timeout=0.05)


def test_wide_statements_answer_in_bounded_memory():
    """ORDER BY items that repeat a variable, the or-add product of 620 returned variables with
    limit 1, and the compilation of 20,000 returned and ordered variables: under an address-space
    cap of 1 GiB over the process they answer, or end at their deadline (the last one answers in
    tens of milliseconds; only a far slower machine reaches its deadline)."""
    import os
    import subprocess
    import sys

    import pytest

    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the sanitizer's shadow memory needs an unlimited address space")
    child = r"""
import json, resource, brackwater._native as native
size = next(int(line.split()[1]) for line in open("/proc/self/status") if line.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, ((size << 10) + (1 << 30), resource.RLIM_INFINITY))
db = native._Database.memory()
db.execute_json("add role a; add posit " + ", ".join("[{(+t%d, a)}, %d, '2020']" % (i, i) for i in range(20000)) + ";")
rows = json.loads(db.execute_json("search [{(?x, a)}, ?v, *] return ?v order by " + ", ".join(["?v desc"] * 1000)
                                  + " limit 2;"))["result_sets"][0]["rows"]
print([cell["text"] for row in rows for cell in row])
two = "add posit " + ", ".join("[{(+v%d, a)}, 1, '2021']" % i for i in range(20)) + ";"
patterns = " ".join("[{(?v%d, a)}, -1, *]" % i for i in range(620))
returned = ", ".join("?v%d" % i for i in range(620))
adds = ", ".join("[{(+v%d, a)}, -1, '2021']" % i for i in range(620))
sets = json.loads(db.execute_json(two + " search %s return %s limit 1 or add posit %s;" % (patterns, returned, adds)))
print(len(sets["result_sets"][0]["rows"]), len(sets["result_sets"][0]["rows"][0]))
names = ["?w%d" % i for i in range(20000)]
db.execute_json("add role " + ", ".join("r%d" % i for i in range(20000)) + ";")
wide = "search [{" + ", ".join("(%s, r%d)" % (n, i) for i, n in enumerate(names)) + "}, *, *] return " + \
       ", ".join(names) + " order by " + ", ".join(names) + ";"
try:
    db.execute_json(wide, timeout=10)
    print("answered")
except native.QueryTimeoutError:
    print("timed out")
"""
    done = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[:2] == ["['19999', '19998']", "1 620"] and lines[2:] in (["answered"], ["timed out"])


def test_responses_stay_within_the_result_limit():
    """The result limit bounds the response as the caller receives it: rows whose JSON text doubles
    with escapes, or whose one character beyond U+FFFF makes every character of the str take four
    bytes, end with ResourceLimitError "result bytes" under an address-space cap of 1 GiB over the
    process; a str that cannot be made is a MemoryError, and the database answers afterwards."""
    import os
    import subprocess
    import sys

    import pytest

    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the sanitizer's shadow memory needs an unlimited address space")
    child = r"""
import resource, brackwater._native as native

def cap(extra):
    size = next(int(line.split()[1]) for line in open("/proc/self/status") if line.startswith("VmSize:"))
    resource.setrlimit(resource.RLIMIT_AS, ((size << 10) + extra, resource.RLIM_INFINITY))

def outcome(db, script):
    try:
        return "answered %d" % len(db.execute_json(script))
    except MemoryError:
        return "MemoryError"
    except native.BrackwaterError as e:
        return "%s: %s" % (type(e).__name__, e)

def database(value, rows):
    db = native._Database.memory()
    db.execute_json('add role s, k; add posit [{(+s0, s)}, "' + value + '", \'2020\'];' + "add posit " +
                    ", ".join("[{(+k%d, k)}, %d, '2020']" % (i, i) for i in range(rows)) + ";")
    return db

search = "search [{(?s, s)}, ?v, *] [{(?k, k)}, ?n, *] return ?v, ?n;"
escaped = database('\\"' * (1 << 20), 240)
wide = database('\\' * (1 << 20) + '\U0001F600', 240)
cap(1 << 30)
print(outcome(escaped, search))
print(outcome(wide, search))
del escaped, wide
narrow = database('x' * (1 << 18) + '\U0001F600', 200)
cap(150 << 20)
print(outcome(narrow, search))
print(outcome(narrow, "search [{(?k, k)}, ?n, *] return ?n limit 1;"))
"""
    done = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    limit = "ResourceLimitError: Resource limit exceeded for result bytes: maximum 536870912"
    assert done.stdout.splitlines() == [limit, limit, "MemoryError", "answered 271"]
