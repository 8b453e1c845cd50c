"""The table of errors in docs/errors.md says what the module really raises: each row's
example raises the exception and the message of its row, and a row that
says "unchanged" leaves the objects as they were."""

import pathlib
import re

import pytest

import _zef_cpp
from _zef_cpp import Miner, PatternMiner, sax
from helpers import SERIES, ClaimsLength, LenRaises, summary

ERRORS_PAGE = pathlib.Path(__file__).resolve().parents[2] / "docs" / "errors.md"


def error_rows():
    text = ERRORS_PAGE.read_text(encoding="utf-8")
    section = text.split("## Every error a caller can get", 1)[1].split("\n## ", 1)[0]
    rows = [line for line in section.splitlines() if line.startswith("| ") and not line.startswith("| When")]
    return [[cell.strip() for cell in row.strip("|").split(" | ")] for row in rows]


def backticked(cell):
    found = re.search(r"`([^`]+)`", cell)
    return found.group(1) if found else None


def namespace():
    miner = Miner(1.0, 2, 3)
    miner.mine([list(s) for s in SERIES])
    lone = PatternMiner(1.0, min_len=1)
    lone.mine([["\xe9"]])
    return {
        "Motif": _zef_cpp.Motif, "Miner": Miner, "PatternMiner": PatternMiner, "sax": sax,
        "s": [list(s) for s in SERIES], "m": miner, "p": PatternMiner(0.5), "e": lone.frequent[("\xe9",)],
        "BadLen": LenRaises, "Short": lambda claimed: ClaimsLength(claimed, [[1.0]]),
    }  # fmt: skip


def state(names):
    return summary(names["m"].motifs), {key: x.indexes for key, x in names["p"].frequent.items()}, names["s"]


ROWS = error_rows()


def test_the_table_lists_every_error():
    assert len(ROWS) >= 18
    assert all(len(row) == 5 for row in ROWS), [row for row in ROWS if len(row) != 5]


@pytest.mark.parametrize("row", [row for row in ROWS if backticked(row[1])], ids=lambda row: backticked(row[1]))
def test_each_example_raises_what_its_row_says(row):
    _, example, exception, message, afterwards = row
    expected_type = re.search(r"\b([A-Z][A-Za-z]*Error)\b", exception).group(1)
    # "..." stands for the rest of the text (a list of signatures, say), "<version>" for the interpreter's.
    pattern = re.escape(backticked(message)).replace(r"\ \.\.\.", r"\s.*").replace("<version>", ".+")
    names = namespace()
    before = state(names)
    with pytest.raises(BaseException) as raised:
        exec(backticked(example), names)
    assert type(raised.value).__name__ == expected_type
    assert re.fullmatch(pattern, str(raised.value), re.DOTALL), str(raised.value)
    if afterwards.startswith("unchanged"):
        assert state(names) == before
