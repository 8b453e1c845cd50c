"""The ranking table of motifs that `zef find` and `zef demo` print."""

from __future__ import annotations

from collections.abc import Callable
from typing import TextIO

from _zef_cpp import Motif

__all__ = ["write_ranking"]


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
