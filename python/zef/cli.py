"""The command line: `zef demo` and `zef find FILE`.

Ordinary mistakes (a file that cannot be read, a setting out of range, a
missing optional package) end with one line on stderr that says what to do,
and exit status 2 for the command line itself, 1 for the data.
"""

from __future__ import annotations

import argparse
import importlib.util
import json
import math
import os
import sys
from collections.abc import Callable, Sequence
from typing import Any, TextIO

from _zef_cpp import Motif
from zef import cli_discovery, data
from zef.data import DataError, Dataset, Prepared
from zef.mining import THREADS_VARIABLE, TooManyPatterns, mine, thread_count
from zef.progressbar import ProgressBar

INT_MAX = 2**31 - 1
# A plot with more motifs than this is not readable; it shows the best ones.
PLOT_MOST = 10

PLOT_INSTALL_HINT = (
    "drawing plots needs matplotlib, which is not installed; install it with `pip install matplotlib`"
    " (or install zef with its plot extra: `pip install .[plot]` in the source directory)"
)


class UsageError(Exception):
    """A setting the command cannot work with; the message is meant for the user."""


class Failure(Exception):
    """Work that cannot be done here (a missing optional package, an unwritable file); meant for the user."""


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
        "--format", choices=data.FORMATS, help="the file's format (default: from its name: .npy, .csv/.tsv, else text)"
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

    cli_discovery.add_arguments(find)

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


def check_settings(args: argparse.Namespace) -> None:
    """Refuses settings that cannot give a meaningful result."""

    def whole(name: str, low: int) -> None:
        value = getattr(args, name)
        if not low <= value <= INT_MAX:
            raise UsageError(f"--{name} must be between {low} and {INT_MAX}, not {value}")

    if not 0.0 < args.minsup <= 1.0:
        raise UsageError(f"--minsup must be above 0 and at most 1 (a share of the series), not {args.minsup}")
    whole("seglen", 1)
    if not 2 <= args.alphabet <= 10:
        raise UsageError(f"--alphabet must be between 2 and 10, not {args.alphabet}")
    whole("min_len", 1)
    whole("max_len", 0)
    if args.max_len and args.max_len < args.min_len:
        raise UsageError(f"--max_len must be 0 (no limit) or at least --min_len ({args.min_len}), not {args.max_len}")
    if not 0.0 <= args.max_overlap <= 1.0:
        raise UsageError(f"--max_overlap must be between 0 and 1, not {args.max_overlap}")
    whole("k", 0)
    if args.skip_columns < 0:
        raise UsageError(f"--skip-columns must be 0 or more, not {args.skip_columns}")
    if args.delimiter is not None:
        if args.delimiter in ("\\t", "tab"):
            args.delimiter = "\t"
        if len(args.delimiter) != 1:
            raise UsageError(f"--delimiter must be one character (or \\t for tab), not {args.delimiter!r}")
    if args.plot is not None:
        directory = os.path.dirname(os.path.abspath(args.plot))
        if not os.path.isdir(directory):
            raise UsageError(f"--plot: the directory {directory} does not exist")
        if not args.plot.lower().endswith(".png"):
            raise UsageError(f"--plot writes a PNG file; give a name ending in .png, not {args.plot}")


def work_of(args: argparse.Namespace) -> dict[str, Any]:
    """The keywords --threads and --max_patterns give zef.mine and zef.discover."""
    for name in ("threads", "max_patterns"):
        value = getattr(args, name)
        if value is not None and value < 1:
            raise UsageError(f"--{name} must be 1 or more, not {value}")
    return {"threads": args.threads, "max_patterns": args.max_patterns}


def too_many_patterns(args: argparse.Namespace) -> Failure:
    return Failure(
        f"mining found more than {args.max_patterns:,} frequent patterns;"
        " raise --minsup, set --max_len, or raise --max_patterns"
    )


def settings_of(args: argparse.Namespace) -> dict[str, Any]:
    names = ("minsup", "seglen", "alphabet", "min_len", "max_len", "max_overlap", "k")
    return {name: getattr(args, name) for name in names}


def read_input(args: argparse.Namespace, err: TextIO) -> tuple[Dataset, Prepared]:
    """The file of `zef find`, read and prepared (gaps filled), with what was done said on `err`."""
    if args.plot is not None and importlib.util.find_spec("matplotlib") is None:
        raise Failure(PLOT_INSTALL_HINT)

    dataset = data.read_series(
        args.file,
        fmt=args.format,
        columns=args.columns,
        skip_columns=args.skip_columns,
        delimiter=args.delimiter,
        progress=err,
    )
    prepared = data.prepare(dataset.series)
    note_preparation(dataset, prepared, err)
    return dataset, prepared


def find(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    if args.length is not None:
        return cli_discovery.find(args, out, err)
    check_settings(args)
    work = work_of(args)
    dataset, prepared = read_input(args, err)
    if not prepared.series:
        raise DataError(f"{args.file}: no series left to mine (every one is empty or constant)")
    longest = max(len(s) for s in prepared.series)
    if args.seglen > longest:
        raise UsageError(f"--seglen {args.seglen} is longer than the longest series ({longest} points)")

    settings = settings_of(args)
    # Every core, and a progress bar for work that takes more than a second.
    bar = ProgressBar(err) if args.progress or err.isatty() else None
    try:
        motifs = mine(prepared.series, **settings, **work, progress=bar)
    except TooManyPatterns:
        raise too_many_patterns(args) from None
    except MemoryError:
        raise Failure("ran out of memory while mining; raise --minsup or --seglen, or set --max_len") from None
    finally:
        if bar is not None:
            bar.close()

    # The plot comes first, so that it is drawn even when the reader of the
    # output stops early (`zef find ... | head`).
    if args.plot is not None:
        from zef import plot

        shown = motifs[:PLOT_MOST]
        if len(motifs) > PLOT_MOST:
            print(f"the plot shows the best {PLOT_MOST} of {len(motifs)} motifs; choose fewer with --k", file=err)
        try:
            plot.plot_motifs(dataset, prepared, shown, args.seglen, args.plot, title=os.path.basename(args.file))
        except OSError as error:
            raise Failure(f"cannot write {args.plot}: {error.strerror or error}") from None
        print(f"plot written to {args.plot}", file=err)

    if args.json:
        json.dump(as_json(args.file, settings, dataset, prepared, motifs), out, indent=1, allow_nan=False)
        out.write("\n")
    else:
        write_table(args.file, settings, dataset, prepared, motifs, out)
    if not motifs:
        print("no motif found: try a lower --minsup or --min_len, or a smaller --alphabet", file=err)
    return 0


def note_preparation(dataset: Dataset, prepared: Prepared, err: TextIO) -> None:
    for index, reason in prepared.dropped.items():
        print(f"series {dataset.name(index)} left out: {reason}", file=err)
    if prepared.filled:
        print(f"{points(prepared.filled)} inside series filled on a straight line", file=err)
    if prepared.trimmed:
        print(f"{points(prepared.trimmed)} at the ends of series left out", file=err)


def points(count: int) -> str:
    return f"{count} missing point" + ("" if count == 1 else "s")


def best_matches(motif: Motif, prepared: Prepared) -> list[tuple[int, int]]:
    """The best match of each series as (series, point) of the file, by series."""
    return sorted(prepared.position(s, p) for s, p in motif.best_matches.items())


def write_table(
    path: str, settings: dict[str, Any], dataset: Dataset, prepared: Prepared, motifs: list[Motif], out: TextIO
) -> None:
    lengths = [len(s) for s in dataset.series]
    span = f"{min(lengths)}" if min(lengths) == max(lengths) else f"{min(lengths)} to {max(lengths)}"
    used = len(prepared.series)
    print(f"{path}: {len(dataset.series)} series of {span} points, {used} mined", file=out)
    print("Miner(" + ", ".join(f"{key}={value}" for key, value in settings.items()) + ")", file=out)
    noun = "motif" if len(motifs) == 1 else "motifs"
    print(f"{len(motifs)} {noun}, ranked by NAED (smallest first)" + (":" if motifs else ""), file=out)
    if not motifs:
        return
    print(file=out)

    def shown(motif: Motif) -> str:
        matches = best_matches(motif, prepared)
        text = " ".join(describe_point(dataset, s, p) for s, p in matches[:6])
        return text + (f" ... (+{len(matches) - 6})" if len(matches) > 6 else "")

    write_ranking(motifs, "best matches", shown, out)
    print(file=out)
    print("best matches: series:point where the motif's closest occurrence starts", file=out)


def write_ranking(
    motifs: list[Motif], matches_heading: str, matches: Callable[[Motif], str], out: TextIO, pattern_width: int = 0
) -> None:
    """The ranking table: a heading line, then one line per motif, ranked from 1.

    The pattern column is as wide as the longest pattern, `pattern_width` at
    least; the last column holds what `matches` says of each motif's best matches.
    """
    width = max([pattern_width, len("pattern"), *(len(m.pattern) for m in motifs)])
    print(f"{'rank':>4}  {'pattern':<{width}}  {'series':>6}  {'length':>6}  {'NAED':>8}  {matches_heading}", file=out)
    for rank, motif in enumerate(motifs, start=1):
        series, length, naed = len(motif.best_matches), motif.length, motif.naed
        print(
            f"{rank:>4}  {motif.pattern:<{width}}  {series:>6}  {length:>6}  {naed:>8.5f}  {matches(motif)}", file=out
        )


def describe_point(dataset: Dataset, series: int, point: int) -> str:
    label = dataset.point_label(point)
    return f"{dataset.name(series)}:{label if label is not None else point}"


def _finite(value: float) -> float | None:
    return value if math.isfinite(value) else None


def as_json(
    path: str, settings: dict[str, Any], dataset: Dataset, prepared: Prepared, motifs: list[Motif]
) -> dict[str, Any]:
    series = []
    kept = {source: i for i, source in enumerate(prepared.source)}
    for index, values in enumerate(dataset.series):
        name = dataset.names[index] if dataset.names is not None else ""
        entry: dict[str, Any] = {"index": index, "name": name or str(index), "points": len(values)}
        entry["missing"] = sum(1 for v in values if math.isnan(v))
        entry["mined"] = index in kept
        if index in prepared.dropped:
            entry["left_out"] = prepared.dropped[index]
        series.append(entry)
    result = []
    for rank, motif in enumerate(motifs, start=1):
        matches = []
        for s, p in best_matches(motif, prepared):
            end = min(p + motif.length, len(dataset.series[s]))
            match: dict[str, Any] = {"series": s, "start": p, "end": end}
            label = dataset.point_label(p)
            if label is not None:
                match["start_label"] = label
            matches.append(match)
        seglen = settings["seglen"]
        occurrences = [
            {"series": prepared.source[s], "starts": [prepared.position(s, q * seglen)[1] for q in positions]}
            for s, positions in sorted(motif.indexes.items())
        ]
        result.append(
            {
                "rank": rank,
                "pattern": motif.pattern,
                "length": motif.length,
                "naed": _finite(motif.naed),
                "representative": [_finite(v) for v in motif.representative],
                "best_matches": matches,
                "occurrences": occurrences,
            }
        )
    return {"file": path, "settings": settings, "series": series, "motifs": result}


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser(cli_discovery.length_given(list(sys.argv[1:] if argv is None else argv)))
    args = parser.parse_args(argv)
    out, err = sys.stdout, sys.stderr
    try:
        if getattr(args, "threads", None) is None:
            thread_count()  # a bad ZEF_NUM_THREADS is the user's to mend, not a fault
    except ValueError as error:
        parser.exit(2, f"zef {args.command}: error: {error}\n")
    try:
        if args.command == "demo":
            from zef import demo, demo_discovery

            demo_discovery.run(out)
            print(file=out)
            demo.run(out)
            return 0
        return find(args, out, err)
    except UsageError as error:
        parser.exit(2, f"zef {args.command}: error: {error}\n")
    except (DataError, Failure) as error:
        parser.exit(1, f"zef {args.command}: error: {error}\n")
    except ImportError as error:
        if error.name == "matplotlib" or (error.name or "").startswith("matplotlib."):
            parser.exit(1, f"zef {args.command}: error: {PLOT_INSTALL_HINT}\n")
        raise
    except KeyboardInterrupt:
        parser.exit(130, "zef: interrupted\n")
    except BrokenPipeError:
        # The reader of the output went away (`zef find ... | head`): say
        # nothing more, and keep Python from failing on the final flush.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
