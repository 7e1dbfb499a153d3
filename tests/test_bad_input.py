"""Bad input: each error kind reaches Python as its exception class (the messages are pinned where
they are made, in the C++ tests), and nothing committed is lost."""

import pytest

import brackwater._native as native

from store_scan import stored_values

GOOD = "add posit [{(+t, name)}, \"kept-%08d\", '2020'];"

BAD_CALLS = [
    # (script, parameters, exception class): one per error kind a script can raise.
    ("add posit [{(+t, name)}, $v, '2020'];", {"v": ("literal", " 5")}, native.InvalidQueryError),  # parameter
    ("add posit [{(+t, nobody)}, 1, '2020'];", None, native.InvalidQueryError),  # unknown Role
    ("add posit [{(+t, name), (+u, name)}, 1, '2020'];", None, native.InvalidQueryError),  # appearance set
    ("add posit [{(t, name)}, 1, '2020'];", None, native.InvalidQueryError),  # recall
    ("search [{(?t, name)}, *, *] return ?t order by ?u;", None, native.InvalidQueryError),  # variable
    ("search [{(?x, name)}, *, *] union ?x = [{(*, name)}, *, *] return ?x;", None, native.InvalidQueryError),
    ("search [{(?t, name)}, ?n, *] where ?n < 3 return ?n;", None, native.InvalidQueryError),  # comparison
    ("add posit [{(+t, name)}, 1, '2020-13-45'];", None, native.ExecutionError),
    ("add role a", None, native.ParseError),
    # Nine slots that each take x's nine identities: 9^9 combinations, refused before any is built.
    ("add role %s; add posit [{%s}, 1, '2001'];" % (", ".join("r%d" % i for i in range(9)),
     ", ".join(("(+x, r%d)" if i == 0 else "(x, r%d)") % i for i in range(9))), None, native.ResourceLimitError),
]


def check_refusal(db, script, parameters, error):
    with pytest.raises(error) as exc:
        db.execute_json(script, parameters=parameters, now="2024-01-01")
    assert type(exc.value) is error
    assert len(exc.value.args) == 1
    if error is native.ParseError:
        assert str(exc.value).startswith(" --> ")  # the parser's message alone, without "Parse error: "


def test_refusals_lose_nothing_committed(store_dir):
    db = native._Database.open(store_dir)
    db.execute_json("add role name;")
    number = 0
    for script, parameters, error in BAD_CALLS:
        db.execute_json(GOOD % number)
        number += 1
        check_refusal(db, script, parameters, error)
        with pytest.raises(TypeError):
            db.execute_json(script, parameters=[("v", "x")])
    db.close()
    assert stored_values(store_dir, "kept") == {n: 1 for n in range(number)}
    db = native._Database.open(store_dir)
    db.execute_json(GOOD % number)  # the reopened store takes further writes
    db.close()
    assert stored_values(store_dir, "kept") == {n: 1 for n in range(number + 1)}


def test_a_search_that_runs_out_of_memory_fails_alone():
    """Short of memory, a search fails with an error and the database goes on serving."""
    import os
    import subprocess
    import sys

    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the sanitizer's shadow memory needs an unlimited address space")
    child = r"""
import resource, brackwater._native as native
db = native._Database.memory()
db.execute_json("add role a;" + "".join("add posit [{(+x%d, a)}, %d, '2020'];" % (i, i) for i in range(3000)))
size = next(int(line.split()[1]) for line in open("/proc/self/status") if line.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, ((size << 10) + (96 << 20), resource.RLIM_INFINITY))
try:
    db.execute_json("search [{(?a, a)}, *, *] [{(?b, a)}, *, *];")  # 9,000,000 rows of two Things
except native.ExecutionError as error:
    print(error)
print(db.execute_json("search [{(?a, a)}, 7, *] return ?a;").count('"thing"'))
"""
    done = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["Execution error: search ran out of memory", "1"]
