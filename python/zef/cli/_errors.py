"""The command line's errors: a setting it cannot work with, and work it cannot do here."""

from __future__ import annotations

import argparse

__all__ = ["Failure", "PLOT_INSTALL_HINT", "UsageError", "too_many_patterns"]


PLOT_INSTALL_HINT = (
    "drawing plots needs matplotlib, which is not installed; install it with `pip install matplotlib`"
    " (or install zef with its plot extra: `pip install .[plot]` in the source directory)"
)


class UsageError(Exception):
    """A setting the command cannot work with; the message is meant for the user."""


class Failure(Exception):
    """Work that cannot be done here (a missing optional package, an unwritable file); meant for the user."""


def too_many_patterns(args: argparse.Namespace) -> Failure:
    return Failure(
        f"mining found more than {args.max_patterns:,} frequent patterns;"
        " raise --minsup, set --max_len, or raise --max_patterns"
    )
