"""Searches through `execute_json`: result sets, as of, in effect, union and not exists, order and
limit, and "or add posit"."""

import json

import pytest

import brackwater

NOW = "2024-01-01"
# Things 9 (Ann) and 11 (Bob). Ann's age has three versions; Bob's one, dated. A friend Posit joins
# them, and Thing 10 asserts Ann's name (80% in 2021, retracted with 0% in 2023).
PEOPLE = """
add role name, age, friend;
add posit [{(+a, name)}, "Ann", '2020'] and assert by +src with 80% at '2021',
          [{(+b, name)}, "Bob", '2020'];
add posit [{(a, age)}, 30, '2019'], [{(a, age)}, 31, '2020'], [{(a, age)}, 32, '2021'],
          [{(b, age)}, 40, '2020-06-01'];
add posit [{(a, friend), (b, name)}, "x", '2020'],
          [{(a, name)}, "Ann", '2020'] and assert by src with 0% at '2023';
"""


@pytest.fixture
def people():
    db = brackwater.Database.memory()
    db.execute_json(PEOPLE, now=NOW)
    yield db
    db.close()


def result_sets(db, script):
    return json.loads(db.execute_json(script, now=NOW))["result_sets"]


def texts(db, script):
    """The cell texts of each result set's rows."""
    return [[[cell["text"] for cell in row] for row in rs["rows"]] for rs in result_sets(db, script)]


def test_result_set_json_shape(people):
    script = "search [{(?t, name)}, ?n, ?w] where ?n = \"Ann\" return ?t, ?n, ?w;"
    response = people.execute_json(script, now=NOW)
    assert json.loads(response)["result_sets"] == [
        {
            "columns": ["t", "n", "w"],
            "rows": [[{"kind": "thing", "text": "9"}, {"kind": "literal", "text": '"Ann"'},
                      {"kind": "time", "text": "2020"}]],
            "row_count": 1,
            "limited": False,
            "search": script,
        }
    ]
    # No return clause: no result set, though the search matched.
    assert result_sets(people, "search [{(?t, name)}, *, *];") == []


@pytest.mark.parametrize(
    "cutoff, rows",
    [
        # A cutoff identical to a version sees it; later versions supersede earlier ones.
        ("'2021'", [["9", "32", "2021"], ["11", "40", "2020-06-01"]]),
        # The year 2020 has not ended by June 2020; Bob's date is seen on its own day only as the
        # identical cutoff.
        ("'2020-06'", [["9", "30", "2019"]]),
        ("'2020-06-01'", [["9", "30", "2019"], ["11", "40", "2020-06-01"]]),
        ("'2020-06-01 12:00'", [["9", "30", "2019"]]),
        ("'2020-06-02'", [["9", "30", "2019"], ["11", "40", "2020-06-01"]]),
        ("@BOT", []),
    ],
)
def test_as_of_keeps_the_latest_visible_version(people, cutoff, rows):
    assert texts(people, f"search [{{(?t, age)}}, ?g, ?w] as of {cutoff} return ?t, ?g, ?w;") == [rows]


def test_as_of_supersedes_before_the_value_unless_latest(people):
    assert texts(people, "search [{(?t, age)}, 30, ?w] as of '2021' return ?w;") == [[]]
    assert texts(people, "search latest [{(?t, age)}, 30, ?w] as of '2021' return ?w;") == [[["2019"]]]


def test_in_effect_with_via_and_retraction(people):
    script = ("search [{(?t, name)}, ?n, *] in effect CUT, '2022' "
              "via ?p = [{(?x, posit), (?s, ascertains)}, ?c, ?at] return ?n, ?s, ?c, ?at, ?p;")
    [[row]] = texts(people, script.replace("CUT", "'2022'"))
    assert row[:4] == ['"Ann"', "10", "80%", "2021"]
    assert texts(people, script.replace("CUT", "'2020'")) == [[]]  # asserted after the cutoff
    assert texts(people, script.replace("CUT", "'2024'")) == [[]]  # retracted


def test_union_and_not_exists(people):
    # Group rows follow one another, duplicates kept.
    assert texts(people, "search [{(?t, name)}, \"Ann\", *] union [{(?t, age)}, *, *] return ?t;") == [
        [["9"], ["9"], ["9"], ["9"], ["11"]]
    ]
    assert texts(people, "search [{(?t, name)}, ?n, *] not exists {[{(?t, friend), (*, name)}, *, *]} "
                         "return ?n;") == [[['"Bob"']]]


def test_order_by_and_limit(people):
    # Times order by precision first: every date after every year.
    script = "search [{(?t, age)}, ?g, ?w] return ?g, ?w order by ?w desc limit N;"
    sets = result_sets(people, script.replace("N", "2"))
    assert [[c["text"] for c in row] for row in sets[0]["rows"]] == [["40", "2020-06-01"], ["32", "2021"]]
    assert (sets[0]["row_count"], sets[0]["limited"]) == (2, True)
    sets = result_sets(people, script.replace("N", "4"))
    assert (sets[0]["row_count"], sets[0]["limited"]) == (4, False)


def test_or_add_upserts_then_finds(people):
    upsert = "search [{(?t, name)}, \"Cy\", *] return ?t or add posit [{(+t, name)}, \"Cy\", '2024'];"
    [[[added]]] = texts(people, upsert)
    assert texts(people, upsert) == [[[added]]]  # found now: nothing added again
    # What was found binds the branch's names for later statements.
    script = upsert + "add posit [{(t, age)}, 7, '2024']; search [{(?t, age)}, 7, *] return ?t;"
    assert texts(people, script) == [[[added]], [[added]]]
