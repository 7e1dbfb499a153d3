"""Bad input: each refusal has its documented class and message, and nothing committed is lost."""

import pytest

import brackwater._native as native

from store_scan import stored_values

GOOD = "add posit [{(+t, name)}, \"kept-%08d\", '2020'];"

BAD_CALLS = [
    # (script, parameters, exception class, exact message or prefix ending in "...")
    ("add posit [{(+t, name)}, $v, '2020'];", {"v": ("literal", " 5")}, native.InvalidQueryError,
     "Invalid parameter: literal parameter text may not contain surrounding whitespace"),
    ("add posit [{(+t, name)}, 1, $w];", {"w": ("time", "2020 ")}, native.InvalidQueryError,
     "Invalid parameter: time parameter text may not contain surrounding whitespace"),
    ("add posit [{(+t, name)}, 1, $w];", {"w": ("time", "someday")}, native.InvalidQueryError,
     "Invalid parameter: invalid time parameter 'someday'"),
    ("add posit [{(+t, name)}, $v, '2020'];", {"v": ("literal", "@LATER")}, native.InvalidQueryError,
     "Invalid parameter: invalid temporal literal parameter '@LATER'"),
    ("add posit [{(+t, name)}, $v, '2020'];", {"v": ("literal", "12x")}, native.InvalidQueryError,
     "Invalid parameter: invalid integer literal '12x'"),
    ("add posit [{(+t, name)}, 1, $v];", {"v": ("literal", "2020")}, native.InvalidQueryError,
     "Invalid parameter: $v is a literal parameter, not a time parameter"),
    ("add posit [{(+t, name)}, $missing, '2020'];", None, native.InvalidQueryError,
     "Invalid parameter: missing parameter '$missing'"),
    ("", {"1x": ("literal", "1")}, native.InvalidQueryError,
     "Invalid parameter: '1x' is not a valid parameter name"),
    ("", {"": ("literal", "1")}, native.InvalidQueryError, "Invalid parameter: '' is not a valid parameter name"),
    ("add posit [{(+t, name)}, 1, '2020-13-45'];", None, native.ExecutionError,
     "Execution error: add posit requires a valid appearance time"),
    ("add posit [{(+t, nobody)}, 1, '2020'];", None, native.InvalidQueryError, "Unknown role: nobody"),
    ("add posit [{(+t, name), (+u, name)}, 1, '2020'];", None, native.InvalidQueryError,
     "Invalid appearance set: ..."),
    ("add posit [{(t, name)}, 1, '2020'];", None, native.InvalidQueryError, "..."),
    ("add role a", None, native.ParseError, None),
    ("add posit [{}, 1, '2020'];", None, native.ParseError, None),
    ("search nothing at all", None, native.ParseError, None),
    ("add posit [{(+t, name)}, 1, '2020'] and assert by +s with 101% at '2020';", None, native.ExecutionError,
     "Execution error: ..."),
    # Nine slots that each take x's nine identities: 9^9 combinations, refused before any is built.
    ("add role %s; add posit [{%s}, 1, '2001'];" % (", ".join("r%d" % i for i in range(9)),
     ", ".join(("(+x, r%d)" if i == 0 else "(x, r%d)") % i for i in range(9))), None, native.ResourceLimitError,
     "Resource limit exceeded for add posit combinations: maximum 10000000"),
]


def check_refusal(db, script, parameters, error, message):
    with pytest.raises(error) as exc:
        db.execute_json(script, parameters=parameters, now="2024-01-01")
    assert type(exc.value) is error
    assert len(exc.value.args) == 1
    text = str(exc.value)
    if error is native.ParseError:
        assert not text.startswith("Parse error")
        assert text
    elif message.endswith("..."):
        assert text.startswith(message[:-3])
    else:
        assert text == message


@pytest.mark.parametrize("script, parameters, error, message", BAD_CALLS)
def test_refusals(db, script, parameters, error, message):
    db.execute_json("add role name;")
    check_refusal(db, script, parameters, error, message)


def test_refusals_lose_nothing_committed(store_dir):
    db = native._Database.open(store_dir)
    db.execute_json("add role name;")
    number = 0
    for script, parameters, error, message in BAD_CALLS:
        db.execute_json(GOOD % number)
        number += 1
        check_refusal(db, script, parameters, error, message)
        with pytest.raises(TypeError):
            db.execute_json(script, parameters=[("v", "x")])
    db.close()
    assert stored_values(store_dir, "kept") == {n: 1 for n in range(number)}
    db = native._Database.open(store_dir)
    db.execute_json(GOOD % number)  # the reopened store takes further writes
    db.close()
    assert stored_values(store_dir, "kept") == {n: 1 for n in range(number + 1)}
