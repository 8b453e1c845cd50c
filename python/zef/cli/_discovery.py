"""`zef find FILE [--length L|LO:HI]`: discovery (zef.discover) on the series of a file."""

from __future__ import annotations

import argparse
import json
from typing import TextIO

from zef.cli._checks import work_of
from zef.cli._errors import Failure, UsageError, too_many_patterns
from zef.cli._input import read_input
from zef.cli._parser import PLOT_MOST
from zef.discovery import Discovery, discover
from zef.discovery._lengths import length_setting
from zef.io import DataError, Dataset
from zef.mining import TooManyPatterns
from zef.progressbar import ProgressBar

__all__ = ["find", "write_table"]


# With --length, settings left at the engine's defaults take discovery's.
DEFAULT_MINSUP = 0.5
DEFAULT_K = 10


def find(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    minsup = DEFAULT_MINSUP if args.minsup is None else args.minsup
    k = args.k or DEFAULT_K
    try:
        length_setting(args.length)
    except ValueError as error:
        raise UsageError(f"--length: {error}") from None
    if not 0.0 < minsup <= 1.0:
        raise UsageError(f"--minsup must be above 0 and at most 1 (a share of the series), not {minsup}")
    if k < 0:
        raise UsageError(f"--k must be 0 or more, not {k}")
    if args.alphabet is not None and not 2 <= args.alphabet <= 10:
        raise UsageError(f"--alphabet must be between 2 and 10, not {args.alphabet}")
    if args.seglen is not None and args.seglen < 1:
        raise UsageError(f"--seglen must be 1 or more, not {args.seglen}")
    work = work_of(args)
    dataset, prepared = read_input(args, err)
    if not dataset.series:
        raise DataError(f"{args.file}: no series")
    longest = max(len(s) for s in prepared.series) if prepared.series else 0
    shortest_asked = args.length if isinstance(args.length, int) else args.length[0] if args.length else 0
    if shortest_asked > longest:
        raise UsageError(f"--length {shortest_asked} is longer than the longest series ({longest} points)")
    extra = {} if args.alphabet is None else {"alphabet": args.alphabet}
    # Every core, and a progress bar for work that takes more than a second.
    bar = ProgressBar(err) if args.progress or err.isatty() else None
    try:
        result = discover(
            dataset.series,
            length=args.length,
            minsup=minsup,
            k=k,
            detrend=args.detrend,
            seglen=args.seglen,
            progress=bar,
            **work,
            **extra,
        )
    except TooManyPatterns:
        raise too_many_patterns(args) from None
    finally:
        if bar is not None:
            bar.close()
    if args.plot is not None:
        import matplotlib

        matplotlib.use("Agg")
        axes = result.plot(top=PLOT_MOST)
        try:
            axes.flat[0].figure.savefig(args.plot, dpi=90, bbox_inches="tight")
        except OSError as error:
            raise Failure(f"cannot write {args.plot}: {error.strerror or error}") from None
        print(f"plot written to {args.plot}", file=err)
    if args.json:
        document = {"file": args.file, **result.to_dict()}
        json.dump(document, out, indent=1, allow_nan=False)
        out.write("\n")
    else:
        write_table(args.file, dataset, result, out)
    if not len(result):
        print("no motif found: every series is flat or shorter than the length", file=err)
    return 0


def write_table(path: str, dataset: Dataset, result: Discovery, out: TextIO) -> None:
    lengths = f"{result.length[0]} to {result.length[1]}" if isinstance(result.length, tuple) else result.length
    print(f"{path}: {len(dataset.series)} series; motifs of {lengths} points", file=out)
    print("discover(" + ", ".join(f"{key}={value}" for key, value in result.settings.items()) + ")", file=out)
    for label, indexes in (("shorter than the length", result.short_series), ("flat", result.flat_series)):
        if indexes:
            print(f"left out, {label}: " + " ".join(dataset.name(i) for i in indexes), file=out)
    ranking = "evidence over chance at their lengths" if isinstance(result.length, tuple) else "score (smallest first)"
    print(f"{len(result)} motifs, ranked by {ranking}" + (":" if len(result) else ""), file=out)
    if not len(result):
        return
    print(file=out)
    print(f"{'rank':>4}  {'score':>6}  {'series':>6}  {'length':>6}  best matches (closest first)", file=out)
    for motif in result:
        matches = sorted(motif.best_matches.items(), key=lambda item: motif.distances[item[0]])
        shown = " ".join(_point(dataset, s, p) for s, p in matches[:6])
        if len(matches) > 6:
            shown += f" ... (+{len(matches) - 6})"
        print(f"{motif.rank:>4}  {motif.score:>6.3f}  {len(motif.series):>6}  {motif.length:>6}  {shown}", file=out)
    print(file=out)
    print(
        "score: mean distance of the closest best matches, as given and whitened (0 same shape, 1.41 unrelated);",
        file=out,
    )
    print(f"series: those whose best match lies within {result.settings['radius']}", file=out)


def _point(dataset: Dataset, series: int, point: int) -> str:
    label = dataset.point_label(point)
    return f"{dataset.name(series)}:{label if label is not None else point}"
