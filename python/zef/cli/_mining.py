"""`zef find FILE --seglen S ...` without --length: zef.mine on the series of a file, as a table or JSON."""

from __future__ import annotations

import argparse
import json
import math
import os
from typing import Any, TextIO

from _zef_cpp import Motif
from zef.cli._checks import check_settings, settings_of, work_of
from zef.cli._errors import Failure, UsageError, too_many_patterns
from zef.cli._input import read_input
from zef.cli._parser import PLOT_MOST
from zef.cli._ranking import write_ranking
from zef.io import DataError, Dataset, Prepared
from zef.mining import TooManyPatterns, mine
from zef.progressbar import ProgressBar

__all__ = ["as_json", "find", "write_table"]


def find(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
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
