"""Child process of the crash-safety test: adds one posit per script and acknowledges each.

Usage: crash_child.py STORE_DIR FIRST_NUMBER. Prints each number once its script has returned.
Runs until it is killed.
"""

import sys

import brackwater._native as native


def main():
    store_dir, number = sys.argv[1], int(sys.argv[2])
    db = native._Database.open(store_dir)
    db.execute_json("add role name;")
    out = sys.stdout
    while True:
        db.execute_json(f"add posit [{{(+t, name)}}, \"crash-{number:08d}\", '2020-01-01'];")
        out.write(f"{number}\n")
        out.flush()
        number += 1


if __name__ == "__main__":
    main()
