"""The arguments of `zef demo` and `zef find FILE`."""

from __future__ import annotations

import argparse

from zef._validation import THREADS_VARIABLE
from zef.io import FORMATS

__all__ = ["PLOT_MOST", "build_parser", "length_given"]


# A plot with more motifs than this is not readable; it shows the best ones.
PLOT_MOST = 10


def build_parser(discovery: bool = False) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="zef",
        description="Find motifs (shapes that recur across many series) in a collection of time series.",
    )
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    commands.add_parser(
        "demo",
        help="find the shapes planted in a generated example data set",
        description="Find the shapes planted in a generated example data set of random walks, and show them.",
    )

    find = commands.add_parser(
        "find",
        help="find motifs in the series of a file",
        description=(
            "Find motifs in the series of a file: CSV (one series per row, or per column with --columns),"
            " NumPy .npy, or text with one series per line. Blank cells, NA and NaN are missing points:"
            " gaps inside a series are filled on a straight line, missing points at its ends are left out."
            " Points in the output count from 0 at the first point of each series as written in the file."
        ),
    )
    find.add_argument("file", metavar="FILE", help="the file of series (.csv, .tsv, .npy, or text)")

    reading = find.add_argument_group("reading the file")
    reading.add_argument(
        "--format", choices=FORMATS, help="the file's format (default: from its name: .npy, .csv/.tsv, else text)"
    )
    reading.add_argument("--columns", action="store_true", help="one series per column instead of per row")
    reading.add_argument(
        "--skip-columns",
        type=int,
        default=0,
        metavar="N",
        help="leading columns that are not data: names of the series (one per row) or dates of the points"
        " (one per column); default 0",
    )
    reading.add_argument(
        "--delimiter", metavar="CHAR", help="the CSV cell delimiter (default: comma, semicolon or tab, guessed)"
    )

    mining = find.add_argument_group("mining (the settings of Miner)")
    mining.add_argument(
        "--minsup",
        type=float,
        required=not discovery,
        help="share of the series in which a pattern must occur, above 0 and at most 1",
    )
    mining.add_argument(
        "--seglen", type=int, required=not discovery, help="points per symbol (segment length), 1 or more"
    )
    mining.add_argument("--alphabet", type=int, required=not discovery, help="number of symbols, 2 to 10")
    mining.add_argument(
        "--min_len", "--min-len", dest="min_len", type=int, default=3, help="shortest pattern, in symbols (default 3)"
    )
    mining.add_argument(
        "--max_len",
        "--max-len",
        dest="max_len",
        type=int,
        default=0,
        help="longest pattern, in symbols; 0 for no limit (default 0)",
    )
    mining.add_argument(
        "--max_overlap",
        "--max-overlap",
        dest="max_overlap",
        type=float,
        default=0.9,
        help="drop a pattern when more than this share of it is a subsequence of a kept pattern at least as long,"
        " 0 to 1 (default 0.9)",
    )
    mining.add_argument("--k", "-k", type=int, default=0, help="report the best k motifs; 0 for all (default 0)")

    _add_discovery_arguments(find)

    work = find.add_argument_group("work")
    work.add_argument(
        "--threads",
        type=int,
        metavar="N",
        help=f"threads to use (default: the variable {THREADS_VARIABLE}, else every core the process may use)",
    )
    work.add_argument(
        "--max_patterns",
        "--max-patterns",
        type=int,
        metavar="N",
        help="stop with an error when mining finds more than N frequent patterns (default: no limit)",
    )

    output = find.add_argument_group("output")
    output.add_argument("--json", action="store_true", help="print the result as JSON instead of a table")
    output.add_argument(
        "--progress",
        action="store_true",
        help="show the progress of long work on stderr even when it is not a terminal (a terminal always shows it)",
    )
    output.add_argument(
        "--plot",
        metavar="OUT.png",
        help=f"draw the reported motifs (the best {PLOT_MOST} at most) into a PNG file; needs matplotlib",
    )
    return parser


def _add_discovery_arguments(find: argparse.ArgumentParser) -> None:
    group = find.add_argument_group(
        "discovery (zef.discover: without --seglen, or with --length; --minsup and --alphabet then optional)"
    )
    group.add_argument(
        "--length",
        type=length_argument,
        metavar="L|LO:HI",
        help="find motifs of L points (at least 4), or each at its own length from LO to HI points, at any start"
        " point (default: from 16 points to a quarter of the median series length)",
    )
    group.add_argument(
        "--no-detrend",
        dest="detrend",
        action="store_false",
        help="do not subtract a moving average (of L, or HI, points) first",
    )


def length_argument(text: str) -> int | tuple[int, int]:
    """--length: a whole number of points, or a range LO:HI of them."""
    parts = text.split(":")
    if len(parts) > 2 or not all(part.strip().isdigit() for part in parts):
        raise argparse.ArgumentTypeError(f"expected a length L or a range LO:HI of whole numbers, not {text!r}")
    numbers = [int(part) for part in parts]
    return numbers[0] if len(numbers) == 1 else (numbers[0], numbers[1])


def length_given(argv: list[str]) -> bool:
    """Whether a `find` command line asks for discovery: --length, or no --seglen (the engine's one
    setting without a default)."""
    given = {arg.split("=", 1)[0] for arg in argv}
    return "--length" in given or "--seglen" not in given
