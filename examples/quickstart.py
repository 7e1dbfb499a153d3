"""A first look at Brackwater: a database in a store directory, used, closed, reopened and searched."""

import json
import tempfile

import brackwater

print("brackwater", brackwater.ENGINE_PACKAGE_VERSION)
print("python interface version", brackwater.PYTHON_INTERFACE_VERSION)
print("velquin version", brackwater.VELQUIN_VERSION)
print("terrain version", brackwater.TERRAIN_VERSION)

with tempfile.TemporaryDirectory() as directory:
    store = f"{directory}/store"

    # Create the store, declare Roles, and record who lives where and a belief about it.
    with brackwater.Database.open(store) as db:
        db.execute_json("add role person, city, name;")
        db.execute_json(
            """
            add posit
              +ada [{(+a, person), (+london, city)}, "lives in", '1840-01-01']
                and assert by +archivist with 90% at '2024-05-01',
              [{(a, name)}, "Ada", @BOT],
              [{(london, name)}, "London", @BOT];
            """,
            now="2024-05-01 12:00:00",
        )
        print("created", db)

    # Reopen: the store replays its log; the Roles are still there.
    with brackwater.Database.open(store) as db:
        response = db.execute_json(
            "add posit [{(+b, person), (+paris, city)}, \"lives in\", $when];",
            parameters={"when": ("time", "2024-05-02")},
            now="@NOW",
        )
        print("reopened", db)
        print(response)
        print("keys:", ", ".join(json.loads(response)))

        def show(label, script):
            for result in json.loads(db.execute_json(script, now="2024-06-01"))["result_sets"]:
                rows = ["(" + ", ".join(cell["text"] for cell in row) + ")" for row in result["rows"]]
                print(f"{label}: {', '.join(result['columns'])} -> {' '.join(rows) or 'no rows'}")

        # Search what was added: everything, what was known as of a date, and what the archivist
        # asserts with how much certainty.
        lives_in = '[{(?who, person), (?where, city)}, "lives in", ?since]'
        show("lives in", f"search {lives_in} return ?who, ?where, ?since;")
        show("as of 2024-05-01", f"search {lives_in} as of '2024-05-01' return ?who, ?where, ?since;")
        show(
            "in effect",
            f"search {lives_in} in effect @NOW, @NOW via [{{(?p, posit), (?by, ascertains)}}, ?certainty, *] "
            "return ?who, ?where, ?by, ?certainty;",
        )
        # Get or create: the first run adds the Thing named Paris, the second finds it.
        upsert = 'search [{(?t, name)}, "Paris", *] return ?t or add posit [{(+t, name)}, "Paris", @BOT];'
        show("upsert Paris", upsert)
        show("upsert Paris again", upsert)

        # The Terrain: Role supports, profiles and relationships, for the history and as of a moment.
        terrain = json.loads(db.terrain_json(as_of="2024-05-01"))
        print("terrain as of", terrain["resolved_as_of"], json.dumps(terrain["database"]))
        for role in terrain["projection"]["roles"]:
            print(f"  attribute Role {role['name']}: {role['current_support']} current, {role['history_support']} in history")
        for signature in terrain["relationship_catalog"]["signatures"]:
            print("  relationship", " + ".join(r["name"] for r in signature["roles"]))
        for frame in terrain["frames"].values():
            print(f"  {frame['scope']}:", json.dumps(frame["stats"]))
    print("closed", db)
