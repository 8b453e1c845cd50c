"""The built-in example of discovery: shapes of two lengths planted at arbitrary points, found by
zef.discover without being told their lengths."""

from __future__ import annotations

from typing import TextIO

import numpy as np

from zef.discovery import DiscoveredMotif, discover
from zef.shapes import Planted, background, plant

__all__ = ["make_data", "run"]

SERIES = 30
POINTS = 1000
FAMILIES = ["bump", "square"]
LENGTHS = [200, 60]
SHARE = 0.9
HEIGHT = 4.0
SEED = 11


def make_data() -> tuple[list[np.ndarray], list[Planted]]:
    """Drifting walks with a long and a short shape planted at start points drawn over the whole series."""
    rng = np.random.default_rng(SEED)
    series = [background("walk", POINTS, rng) for _ in range(SERIES)]
    planted = plant(series, FAMILIES, LENGTHS, prevalence=SHARE, height=HEIGHT, rng=rng)
    return series, planted


def hits(motif: DiscoveredMotif, shape: Planted) -> int:
    """Series whose best match overlaps the planted copy by at least half of the shorter of the two."""
    count = 0
    for series, start in shape.starts.items():
        match = motif.best_matches.get(series)
        if match is not None:
            overlap = min(match + motif.length, start + shape.length) - max(match, start)
            count += 2 * overlap >= min(motif.length, shape.length)
    return count


def run(out: TextIO) -> None:
    series, planted = make_data()
    result = discover(series, k=5)

    def say(text: str = "") -> None:
        print(text, file=out)

    planted_lengths = " and ".join(f"a {shape.family} of {shape.length} points" for shape in planted)
    lo, hi = result.settings["length"]
    say(f"Discovery: {SERIES} drifting walks of {POINTS} points, {planted_lengths} planted")
    say("at arbitrary start points (not multiples of a segment) in about 90 % of the series")
    say(f"discover(series, k=5), no length given: lengths {lo} to {hi} searched; {len(result)} motifs, best first:")
    say()
    say(result.table())
    say()
    say("Planted shapes:")
    for shape in planted:
        for motif in result:
            found = hits(motif, shape)
            if 2 * found >= len(shape.starts):
                say(
                    f"  {shape.family:<7} ranks {motif.rank}, at {motif.length} points: its best matches hold"
                    f" the shape in {found} of the {len(shape.starts)} series where it was planted"
                )
                break
        else:
            say(f"  {shape.family:<7} not among the {len(result)} motifs")
