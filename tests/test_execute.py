"""`execute_json`: argument conversion, the order of the checks, and the response envelope."""

import json
import math
import re
import sys

import pytest

import brackwater._native as native

from conftest import notes

def expect_note(exc_info, argument):
    if sys.version_info >= (3, 11):
        assert notes(exc_info) == [f"while processing '{argument}'"]


@pytest.mark.parametrize(
    "now, shown",
    [
        ("2020", "2020"),
        ("2020-05", "2020-05"),
        ("2020-01-01 10:00:00", "2020-01-01 10:00:00"),
        ("@EOT", "EOT"),
        ("@BOT", "BOT"),
        ("'2021-02-03'", "2021-02-03"),
    ],
)
def test_now_tokens(db, now, shown):
    assert json.loads(db.execute_json("", now=now))["resolved_now"] == shown


def test_now_defaults_to_the_wall_clock(db):
    for kwargs in ({}, {"now": None}, {"now": "@NOW"}):
        shown = json.loads(db.execute_json("", **kwargs))["resolved_now"]
        assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d(\.\d{3}|\.\d{6}|\.\d{9})?", shown), shown


@pytest.mark.parametrize("now", ["garbage", "@ NOW", "@now", ""])
def test_unresolvable_now(db, now):
    with pytest.raises(ValueError) as exc:
        db.execute_json("", now=now)
    assert str(exc.value) == f"invalid now time token '{now}'"


def test_arity_and_keywords(db):
    with pytest.raises(TypeError):
        db.execute_json()
    with pytest.raises(TypeError):
        db.execute_json("", None, None, None, None, None)
    with pytest.raises(TypeError):
        db.execute_json("", bogus=1)
    with pytest.raises(TypeError):
        db.execute_json("", script="")
    db.execute_json(script="", parameters=None, now=None, timeout=None, max_rows=None)


@pytest.mark.parametrize(
    "kwargs, argument, error, message",
    [
        ({"script": 1}, "script", TypeError, "'int' object is not an instance of 'str'"),
        ({"script": None}, "script", TypeError, "'NoneType' object is not an instance of 'str'"),
        ({"script": b""}, "script", TypeError, "'bytes' object is not an instance of 'str'"),
        ({"script": "", "parameters": []}, "parameters", TypeError, "'list' object is not an instance of 'dict'"),
        ({"script": "", "parameters": {1: ("literal", "1")}}, "parameters", TypeError,
         "'int' object is not an instance of 'str'"),
        ({"script": "", "parameters": {"a": ["literal", "1"]}}, "parameters", TypeError,
         "'list' object is not an instance of 'tuple'"),
        ({"script": "", "parameters": {"a": ("literal",)}}, "parameters", ValueError,
         "expected tuple of length 2, but got tuple of length 1"),
        ({"script": "", "parameters": {"a": ("literal", "1", "x")}}, "parameters", ValueError,
         "expected tuple of length 2, but got tuple of length 3"),
        ({"script": "", "parameters": {"a": ("literal", 1)}}, "parameters", TypeError,
         "'int' object is not an instance of 'str'"),
        ({"script": "", "now": 2020}, "now", TypeError, "'int' object is not an instance of 'str'"),
        ({"script": "", "max_rows": 1.5}, "max_rows", TypeError, None),
        ({"script": "", "max_rows": "1"}, "max_rows", TypeError, None),
        ({"script": "", "max_rows": -1}, "max_rows", OverflowError, None),
        ({"script": "", "max_rows": 2**64}, "max_rows", OverflowError, None),
        ({"script": "", "timeout": "1"}, "timeout", TypeError, None),
    ],
)
def test_argument_conversion_errors(db, kwargs, argument, error, message):
    with pytest.raises(error) as exc:
        db.execute_json(**kwargs)
    assert type(exc.value) is error
    if message is not None:
        assert str(exc.value) == message
    expect_note(exc, argument)


def test_lone_surrogate_in_script(db):
    with pytest.raises(UnicodeEncodeError) as exc:
        db.execute_json("add role \ud800;")
    expect_note(exc, "script")


def test_conversion_follows_signature_order(db):
    # Every argument is wrong: the first one in signature order is reported.
    with pytest.raises(TypeError) as exc:
        db.execute_json(1, parameters=[], now=1, timeout="x", max_rows=-1)
    expect_note(exc, "script")
    with pytest.raises(TypeError) as exc:
        db.execute_json("", parameters=[], now=1, timeout="x", max_rows=-1)
    expect_note(exc, "parameters")
    with pytest.raises(OverflowError) as exc:
        db.execute_json("", now="garbage", timeout=0, max_rows=-1)
    expect_note(exc, "max_rows")


def test_max_rows_zero_comes_before_closed():
    db = native._Database.memory()
    db.close()
    with pytest.raises(ValueError) as exc:
        db.execute_json("", max_rows=0)
    assert str(exc.value) == "max_rows must be positive"
    with pytest.raises(native.ClosedError) as exc:
        db.execute_json("", now="garbage", timeout=-1)
    assert str(exc.value) == "database is closed"
    assert exc.value.args == ("database is closed",)


def test_closed_comes_after_argument_conversion():
    db = native._Database.memory()
    db.close()
    with pytest.raises(TypeError):
        db.execute_json(1)


def test_now_is_checked_before_timeout_and_parameter_kinds(db):
    with pytest.raises(ValueError) as exc:
        db.execute_json("", now="bad", timeout=-1, parameters={"a": ("LITERAL", "1")})
    assert str(exc.value) == "invalid now time token 'bad'"
    with pytest.raises(ValueError) as exc:
        db.execute_json("", timeout=-1, parameters={"a": ("LITERAL", "1")})
    assert str(exc.value) == "timeout must be a finite positive number of seconds"


@pytest.mark.parametrize(
    "timeout, error, message",
    [(t, ValueError, "timeout must be a finite positive number of seconds")
     for t in (0, -0.0, -1, -5e-324, math.nan, math.inf, -math.inf)]
    + [(t, ValueError, "timeout is outside the supported duration range") for t in (1e300, 2.0**64)]
    + [(1e19, native.ExecutionError, "Execution error: execution timeout is too large")],
)
def test_timeout_refusals(db, timeout, error, message):
    with pytest.raises(error) as exc:
        db.execute_json("", timeout=timeout)
    assert exc.value.args == (message,)


def test_timeout_accepts_numbers_and_index_objects(db):
    class Seconds:
        def __index__(self):
            return 30

    for timeout in (5, 2.5, True, Seconds()):
        db.execute_json("", timeout=timeout)


def test_tiny_timeout_times_out(db):
    for timeout in (1e-12, 5e-324):
        with pytest.raises(native.QueryTimeoutError) as exc:
            db.execute_json("", timeout=timeout)
        assert str(exc.value) == "Execution timed out"
        assert exc.value.args == ("Execution timed out",)


@pytest.mark.parametrize("kind", ["LITERAL", "Time", "", "literal ", "string"])
def test_unsupported_parameter_kind(db, kind):
    with pytest.raises(ValueError) as exc:
        db.execute_json("", parameters={"p": (kind, "1")})
    assert str(exc.value) == f"parameter 'p' has unsupported kind '{kind}'"


def test_parameter_mapping_subclasses_are_accepted(db):
    class Params(dict):
        pass

    class Pair(tuple):
        pass

    class Text(str):
        pass

    db.execute_json(Text(""), parameters=Params({Text("a"): Pair(("literal", Text("1")))}))
    db.execute_json("", parameters={})


def test_execution_error_keeps_its_prefix(db):
    with pytest.raises(native.ExecutionError) as exc:
        db.execute_json("add role ``;")
    assert str(exc.value) == "Execution error: role name cannot be empty"


def test_failure_keeps_earlier_statements(store_dir):
    db = native._Database.open(store_dir)
    with pytest.raises(native.InvalidQueryError):
        db.execute_json("add role kept; add posit [{(+t, kept)}, \"first\", '2020']; "
                        "add posit [{(+t, missing)}, 1, '2020'];")
    db.close()
    db = native._Database.open(store_dir)
    # The Role survived the failure: using it succeeds.
    db.execute_json("add posit [{(+t, kept)}, \"second\", '2020'];")
    db.close()
