"""Parse errors as callers of execute_json see them: the exact message, positions after the trim."""

import pytest

import brackwater._native as native

pytestmark = pytest.mark.skipif(not hasattr(native, "_Database"), reason="the database class is not built")

FOUR_RULES = (
    "  = expected EOI, add_role, add_posit, or search_clause\n"
    "Expected one of: add posit, add role, search clause, token"
)


def parse_error_text(script):
    db = native._Database.memory()
    with pytest.raises(native.ParseError) as info:
        db.execute_json(script)
    return str(info.value)


def test_message_has_no_prefix():
    assert parse_error_text("foo;") == " --> 1:1\n  |\n1 | foo;\n  | ^---\n  |\n" + FOUR_RULES


def test_positions_count_from_the_trimmed_script():
    # Leading blank lines and a no-break space are trimmed away before parsing.
    assert parse_error_text("\n\n\u00a0 \tfoo;\n\n") == " --> 1:1\n  |\n1 | foo;\n  | ^---\n  |\n" + FOUR_RULES
    assert parse_error_text("\n add role a;\n  foo;") == " --> 2:3\n  |\n2 |   foo;\n  |   ^---\n  |\n" + FOUR_RULES


def test_no_break_space_between_statements_fails():
    text = parse_error_text("add role a;\u00a0add role b;")
    assert text.startswith(" --> 1:12\n")


def test_unexpected_keyword_has_no_description_list():
    assert parse_error_text("add posit [{(+add, r)}, 1, '2001'];") == (
        " --> 1:15\n  |\n1 | add posit [{(+add, r)}, 1, '2001'];\n  |               ^---\n  |\n"
        "  = unexpected keyword"
    )

