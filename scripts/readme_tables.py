"""Writes the tables that a benchmark run saved into README.md, between their markers.

    python scripts/readme_tables.py TABLES.json [README.md]

TABLES.json maps a name to the Markdown of its table (benchmarks/threads.py --json
writes it); each name's table goes between the lines `<!-- table NAME -->` and
`<!-- end of table NAME -->`, replacing what was there, so that no figure in the
README is ever typed by hand. A marker that is missing is an error; so is a
README marker that the file has no table for.
"""

from __future__ import annotations

import json
import pathlib
import re
import sys


def fill(readme: str, tables: dict[str, str]) -> str:
    names = re.findall(r"^<!-- table (\S+) -->$", readme, flags=re.M)
    missing = sorted(set(names) - set(tables)) + sorted(set(tables) - set(names))
    if missing:
        raise SystemExit(f"tables and README markers do not match: {', '.join(missing)}")
    for name, text in tables.items():
        pattern = re.compile(
            rf"^(<!-- table {re.escape(name)} -->\n).*?^(<!-- end of table {re.escape(name)} -->)$", flags=re.M | re.S
        )
        readme, count = pattern.subn(lambda m, text=text: m.group(1) + text.rstrip("\n") + "\n" + m.group(2), readme)
        if count != 1:
            raise SystemExit(f"README: no end marker for table {name}")
    return readme


def main(argv: list[str]) -> None:
    if len(argv) not in (1, 2):
        raise SystemExit(__doc__)
    tables = json.loads(pathlib.Path(argv[0]).read_text())
    path = pathlib.Path(argv[1] if len(argv) > 1 else pathlib.Path(__file__).resolve().parents[1] / "README.md")
    path.write_text(fill(path.read_text(), tables))
    print(f"{path}: wrote the tables {', '.join(tables)}")


if __name__ == "__main__":
    main(sys.argv[1:])
