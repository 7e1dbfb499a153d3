"""`terrain_json`: the exact Terrain of small databases, argument defaults and the order of the checks."""

import inspect
import json
import sys

import pytest

import brackwater
import brackwater._native as native

from conftest import notes

EMPTY_FRAME = (
    '"stats":{"endpoint_things":0,"roles":0,"appearance_sets":0,"posits":0,"incidences":0},'
    '"role_supports":[],"profiles":[],"isopleths":[],"relationships":[]}'
)


def test_empty_database_terrain_is_exact(db):
    assert db.terrain_json(as_of="@EOT") == (
        '{"terrain_version":1,"resolved_as_of":"@EOT",'
        '"database":{"referenced_things":5,"roles":5,"appearances":0,"appearance_sets":0,"posits":0},'
        '"projection":{"complete":true,"total_attribute_roles":0,"roles":[]},'
        '"relationship_catalog":{"complete":true,"total_signatures":0,"default_signature_id":null,"signatures":[]},'
        '"frames":{"history":{"scope":"history",' + EMPTY_FRAME + ',"current":{"scope":"current",' + EMPTY_FRAME + "}}"
    )


def test_small_database_terrain_is_exact(db):
    db.execute_json("add role person, city, name;")
    db.execute_json(
        "add posit [{(+a, person), (+l, city)}, \"lives\", '2020'], [{(a, name)}, \"Ada\", '2020'],"
        " [{(a, name)}, \"Ada L\", '2030'], [{(l, name)}, \"London\", @BOT];"
    )
    allocations = (
        '"allocations":[{"id":"terrain-v1-allocation-6-7-6-001","role_id":"6","profile_id":"terrain-v1-profile-001",'
        '"profile_mask":1,"isopleth_id":"terrain-v1-isopleth-001","distinct_things":1,"participations":1},'
        '{"id":"terrain-v1-allocation-6-7-7-001","role_id":"7","profile_id":"terrain-v1-profile-001",'
        '"profile_mask":1,"isopleth_id":"terrain-v1-isopleth-001","distinct_things":1,"participations":1}]}]}'
    )

    def frame(scope, posits, incidences):
        return (
            f'"{scope}":{{"scope":"{scope}","stats":{{"endpoint_things":2,"roles":3,"appearance_sets":3,'
            f'"posits":{posits},"incidences":{incidences}}},"role_supports":[{{"role_id":"8","distinct_things":2}}],'
            '"profiles":[{"id":"terrain-v1-profile-001","mask":1,"present_role_ids":["8"],"absent_role_ids":[],'
            '"things":2,"isopleth_id":"terrain-v1-isopleth-001"}],"isopleths":[{"id":"terrain-v1-isopleth-001",'
            '"mask":1,"included_role_ids":["8"],"support":2}],"relationships":[{"signature_id":'
            '"terrain-v1-signature-6-7","appearance_sets":1,"posits":1,"role_totals":[{"role_id":"6",'
            '"distinct_things":1,"participations":1},{"role_id":"7","distinct_things":1,"participations":1}],'
            + allocations
        )

    assert db.terrain_json(as_of="2025") == (
        '{"terrain_version":1,"resolved_as_of":"\'2025\'",'
        '"database":{"referenced_things":14,"roles":8,"appearances":4,"appearance_sets":3,"posits":4},'
        '"projection":{"complete":true,"total_attribute_roles":1,"roles":[{"id":"8","name":"name","bit":0,'
        '"history_support":2,"current_support":2}]},'
        '"relationship_catalog":{"complete":true,"total_signatures":1,'
        '"default_signature_id":"terrain-v1-signature-6-7","signatures":[{"id":"terrain-v1-signature-6-7",'
        '"roles":[{"id":"6","name":"person"},{"id":"7","name":"city"}]}]},'
        '"frames":{' + frame("history", 4, 5) + "," + frame("current", 3, 4) + "}}"
    )
    # Without an attribute Role in the projection every Thing has mask 0: no isopleth ids.
    zero = json.loads(db.terrain_json(as_of="2025", projected_role_limit=0))
    assert zero["frames"]["current"]["profiles"][0]["isopleth_id"] is None
    assert zero["frames"]["current"]["relationships"][0]["allocations"][0]["isopleth_id"] is None


def test_defaults_leave_timeout_at_five_seconds_and_none_means_no_limit(db):
    assert native._Database.terrain_json.__text_signature__ == (
        "($self, as_of=None, timeout=5.0, projected_role_limit=None, max_relationship_signatures=None)"
    )
    assert inspect.signature(brackwater.Database.terrain_json).parameters["timeout"].default == 5.0
    assert json.loads(db.terrain_json(None, None, None, None))["projection"]["complete"] is True
    with pytest.raises(native.QueryTimeoutError):
        db.terrain_json(timeout=1e-12)  # rounds to no time at all


def test_bad_values_raise_their_errors(db):
    # The limits reach the budget (every maximum: limits_test.cc); a bad as_of is refused in the binding.
    for kwargs, error, message in [
        ({"projected_role_limit": 9}, native.ResourceLimitError,
         "Resource limit exceeded for projected attribute Roles: maximum 8"),
        ({"max_relationship_signatures": 129}, native.ResourceLimitError,
         "Resource limit exceeded for relationship signatures: maximum 128"),
        ({"as_of": " @EOT"}, ValueError, "invalid as_of time token ' @EOT'"),
    ]:
        with pytest.raises(error) as caught:
            db.terrain_json(**kwargs)
        assert caught.value.args == (message,)


def test_check_order_types_then_closed_then_as_of(db):
    with pytest.raises(OverflowError) as caught:
        db.terrain_json(projected_role_limit=-1)
    if sys.version_info >= (3, 11):
        assert notes(caught) == ["while processing 'projected_role_limit'"]
    db.close()
    with pytest.raises(TypeError):
        db.terrain_json(as_of=1)
    with pytest.raises(native.ClosedError):
        db.terrain_json(as_of="not a time")


def test_a_large_terrain_ends_soon_after_its_deadline():
    """200,000 Posits, each of three new Things in three of 300 Roles (nearly every set a signature of
    its own): a Terrain that times out ends soon after its deadline wherever the deadline falls."""
    import os
    import random
    import time

    sanitized = "asan" in os.environ.get("LD_PRELOAD", "")
    statements = 5 if sanitized else 20
    rng = random.Random(1)
    db = native._Database.memory()
    db.execute_json("add role " + ", ".join("r%d" % i for i in range(300)) + ";")
    for s in range(statements):
        parts = []
        for i in range(s * 10_000, (s + 1) * 10_000):
            members = ", ".join("(+t%d_%d, r%d)" % (i, j, r) for j, r in enumerate(rng.sample(range(300), 3)))
            parts.append("[{%s}, %d, '2020']" % (members, i))
        db.execute_json("add posit " + ", ".join(parts) + ";", now="2024-06-01")

    def terrain(timeout):
        started = time.perf_counter()
        try:
            db.terrain_json(timeout=timeout, projected_role_limit=8, max_relationship_signatures=128)
            return time.perf_counter() - started, True
        except native.QueryTimeoutError:
            return time.perf_counter() - started, False

    terrain(None)  # the first run also faults its memory in
    full, _ = terrain(None)
    # Proportional to the full run, so that a slower machine or a sanitizer's build is held to the same
    # share; a Terrain that stops only between stages, or frees its statistics before it answers,
    # overruns it by a quarter of the full run or more.
    # A run is tried twice before it counts as late: a busy machine can pause any one of them.
    allowed = 0.1 * full + (0.1 if sanitized else 0.05)
    for share in (0.3, 0.5, 0.6, 0.7, 0.9):
        attempts = []
        for _ in range(2):
            elapsed, answered = terrain(share * full)
            attempts.append(elapsed)
            if answered or elapsed - share * full <= allowed:  # beating the deadline is no less right
                break
        else:
            raise AssertionError((share, full, attempts))
