"""The settings of `zef find`, checked before the file is read."""

from __future__ import annotations

import argparse
import os
from typing import Any

from zef.cli._errors import UsageError

__all__ = ["check_settings", "settings_of", "work_of"]


INT_MAX = 2**31 - 1


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


def settings_of(args: argparse.Namespace) -> dict[str, Any]:
    names = ("minsup", "seglen", "alphabet", "min_len", "max_len", "max_overlap", "k")
    return {name: getattr(args, name) for name in names}
