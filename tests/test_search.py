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
