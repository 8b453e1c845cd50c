"""Writes the tables that a benchmark run saved into the documentation pages, between their markers.

    python scripts/docs_tables.py TABLES.json [PAGE.md ...]

TABLES.json maps a name to the Markdown of its table (benchmarks/threads.py --json
writes it); each name's table goes between the lines `<!-- table NAME -->` and
`<!-- end of table NAME -->` of the page that holds them (docs/*.md unless pages
are named), replacing what was there, so that no figure in the documentation
is ever typed by hand. A table whose markers no page holds is an error; so is a
marker that the file has no table for, or a table marked on two pages.
"""

from __future__ import annotations

import json
import pathlib
import re
import sys

DOCS = pathlib.Path(__file__).resolve().parents[1] / "docs"


def marked(text: str) -> list[str]:
    """The names of the tables that the page marks."""
    return re.findall(r"^<!-- table (\S+) -->$", text, flags=re.M)


def fill(text: str, tables: dict[str, str]) -> str:
    """The page with each of the tables written between its markers."""
    for name, table in tables.items():
        pattern = re.compile(
            rf"^(<!-- table {re.escape(name)} -->\n).*?^(<!-- end of table {re.escape(name)} -->)$", flags=re.M | re.S
        )
        text, count = pattern.subn(lambda m, table=table: m.group(1) + table.rstrip("\n") + "\n" + m.group(2), text)
        if count != 1:
            raise SystemExit(f"no end marker for table {name}")
    return text


def main(argv: list[str]) -> None:
    if not argv:
        raise SystemExit(__doc__)
    tables = json.loads(pathlib.Path(argv[0]).read_text())
    pages = [pathlib.Path(p) for p in argv[1:]] or sorted(DOCS.glob("*.md"))
    where: dict[str, pathlib.Path] = {}
    for page in pages:
        for name in marked(page.read_text()):
            if name in where:
                raise SystemExit(f"table {name} is marked in {where[name]} and in {page}")
            where[name] = page
    missing = sorted(set(where) - set(tables)) + sorted(set(tables) - set(where))
    if missing:
        raise SystemExit(f"tables and page markers do not match: {', '.join(missing)}")
    for page in pages:
        mine = {name: tables[name] for name in marked(page.read_text())}
        if mine:
            page.write_text(fill(page.read_text(), mine))
            print(f"{page}: wrote the tables {', '.join(mine)}")


if __name__ == "__main__":
    main(sys.argv[1:])
