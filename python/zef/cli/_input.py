"""The file of `zef find`, read and prepared, with what was done said on stderr."""

from __future__ import annotations

import argparse
import importlib.util
from typing import TextIO

from zef import io
from zef.cli._errors import PLOT_INSTALL_HINT, Failure
from zef.io import Dataset, Prepared

__all__ = ["note_preparation", "read_input"]


def read_input(args: argparse.Namespace, err: TextIO) -> tuple[Dataset, Prepared]:
    """The file of `zef find`, read and prepared (gaps filled), with what was done said on `err`."""
    if args.plot is not None and importlib.util.find_spec("matplotlib") is None:
        raise Failure(PLOT_INSTALL_HINT)

    dataset = io.read_series(
        args.file,
        fmt=args.format,
        columns=args.columns,
        skip_columns=args.skip_columns,
        delimiter=args.delimiter,
        progress=err,
    )
    prepared = io.prepare(dataset.series)
    note_preparation(dataset, prepared, err)
    return dataset, prepared


def note_preparation(dataset: Dataset, prepared: Prepared, err: TextIO) -> None:
    for index, reason in prepared.dropped.items():
        print(f"series {dataset.name(index)} left out: {reason}", file=err)
    if prepared.filled:
        print(f"{points(prepared.filled)} inside series filled on a straight line", file=err)
    if prepared.trimmed:
        print(f"{points(prepared.trimmed)} at the ends of series left out", file=err)


def points(count: int) -> str:
    return f"{count} missing point" + ("" if count == 1 else "s")
