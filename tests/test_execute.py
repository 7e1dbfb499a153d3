"""`execute_json`: argument conversion, the order of the checks, and the response envelope."""

import json
import re
import sys

import pytest

import brackwater._native as native

from conftest import notes

NOT_POSITIVE = "timeout must be a finite positive number of seconds"
BAD_KIND = {"a": ("LITERAL", "1")}

# (closed first, arguments besides script="", error, its one argument or None, the argument named in
# its note or None). Where several arguments are wrong, the first check in order is reported.
REFUSALS = [
    (False, {"script": 1}, TypeError, "'int' object is not an instance of 'str'", "script"),
    (False, {"script": "add role \ud800;"}, UnicodeEncodeError, None, "script"),
    (False, {"parameters": []}, TypeError, "'list' object is not an instance of 'dict'", "parameters"),
    (False, {"parameters": {1: ("literal", "1")}}, TypeError, "'int' object is not an instance of 'str'", "parameters"),
    (False, {"parameters": {"a": ["literal", "1"]}}, TypeError, "'list' object is not an instance of 'tuple'",
     "parameters"),
    (False, {"parameters": {"a": ("literal",)}}, ValueError, "expected tuple of length 2, but got tuple of length 1",
     "parameters"),
    (False, {"parameters": {"a": ("literal", 1)}}, TypeError, "'int' object is not an instance of 'str'", "parameters"),
    (False, {"now": 2020}, TypeError, "'int' object is not an instance of 'str'", "now"),
    (False, {"max_rows": 1.5}, TypeError, None, "max_rows"),
    (False, {"max_rows": -1}, OverflowError, None, "max_rows"),
    (False, {"timeout": "1"}, TypeError, None, "timeout"),
    # Conversion follows the signature; then max_rows, closed, now, timeout, parameter kinds.
    (False, {"script": 1, "parameters": [], "now": 1, "timeout": "x", "max_rows": -1}, TypeError, None, "script"),
    (False, {"parameters": [], "now": 1, "timeout": "x", "max_rows": -1}, TypeError, None, "parameters"),
    (False, {"now": "garbage", "timeout": 0, "max_rows": -1}, OverflowError, None, "max_rows"),
    (True, {"script": 1}, TypeError, None, "script"),
    (True, {"max_rows": 0}, ValueError, "max_rows must be positive", None),
    (True, {"now": "garbage", "timeout": -1}, native.ClosedError, "database is closed", None),
    (False, {"now": "@now", "timeout": -1, "parameters": BAD_KIND}, ValueError, "invalid now time token '@now'", None),
    (False, {"timeout": -1, "parameters": BAD_KIND}, ValueError, NOT_POSITIVE, None),
    (False, {"parameters": BAD_KIND}, ValueError, "parameter 'a' has unsupported kind 'LITERAL'", None),
    # Each refused timeout is pinned in timeout_test.cc and execute_test.cc; here the class it reaches Python as.
    (False, {"timeout": 1e300}, ValueError, "timeout is outside the supported duration range", None),
    (False, {"timeout": 1e19}, native.ExecutionError, "Execution error: execution timeout is too large", None),
    (False, {"timeout": 1e-12}, native.QueryTimeoutError, "Execution timed out", None),  # rounds to no time
]


@pytest.mark.parametrize("closed, arguments, error, message, argument", REFUSALS)
def test_refusals(db, closed, arguments, error, message, argument):
    if closed:
        db.close()
    with pytest.raises(error) as exc:
        db.execute_json(**{"script": "", **arguments})
    assert type(exc.value) is error
    if message is not None:
        assert exc.value.args == (message,)
    if argument is not None and sys.version_info >= (3, 11):
        assert notes(exc) == [f"while processing '{argument}'"]


def test_now_tokens(db):
    # Each form of token is pinned in time_token_test.cc; here only that `now` reaches it.
    for now, shown in [("@EOT", "EOT"), ("'2021-02-03'", "2021-02-03")]:
        assert json.loads(db.execute_json("", now=now))["resolved_now"] == shown


def test_now_defaults_to_the_wall_clock(db):
    for kwargs in ({}, {"now": None}, {"now": "@NOW"}):
        shown = json.loads(db.execute_json("", **kwargs))["resolved_now"]
        assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d(\.\d{3}|\.\d{6}|\.\d{9})?", shown), shown


def test_arity_and_keywords(db):
    for args, kwargs in [((), {}), (("", None, None, None, None, None), {}), (("",), {"bogus": 1}),
                         (("",), {"script": ""})]:
        with pytest.raises(TypeError):
            db.execute_json(*args, **kwargs)
    db.execute_json(script="", parameters=None, now=None, timeout=None, max_rows=None)


def test_timeout_accepts_numbers_and_index_objects(db):
    class Seconds:
        def __index__(self):
            return 30

    for timeout in (5, 2.5, True, Seconds()):
        db.execute_json("", timeout=timeout)


def test_parameter_mapping_subclasses_are_accepted(db):
    class Params(dict):
        pass

    class Pair(tuple):
        pass

    class Text(str):
        pass

    db.execute_json(Text(""), parameters=Params({Text("a"): Pair(("literal", Text("1")))}))
    db.execute_json("", parameters={})
