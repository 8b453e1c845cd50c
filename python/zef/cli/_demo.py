"""The built-in example: find the shapes planted in seeded random walks."""

from __future__ import annotations

from typing import TextIO

from _zef_cpp import Miner, Motif
from zef.cli._ranking import write_ranking
from zef.planted import PlantedShape, make_example

__all__ = ["run"]

MINSUP = 0.5
SEGLEN = 8
ALPHABET = 3
MIN_LEN = 8
MAX_LEN = 12
SHOWN = 12


def covers(motif: Motif, shape: PlantedShape, series: int, best_matches: dict[int, int]) -> bool:
    """Whether the motif's best match in the series holds the whole planted shape."""
    start = best_matches.get(series)
    planted = shape.positions[series]
    return start is not None and start <= planted and planted + len(shape.values) <= start + motif.length


def run(out: TextIO) -> None:
    series, planted = make_example(seglen=SEGLEN)
    miner = Miner(MINSUP, SEGLEN, ALPHABET, min_len=MIN_LEN, max_len=MAX_LEN)
    motifs = miner.mine(series)

    def say(text: str = "") -> None:
        print(text, file=out)

    say("For comparison, the engine's own ranking by NAED (zef find with --seglen):")
    say(f"{len(series)} random walks of {len(series[0])} points, three shapes of 64 points planted in each")
    say(f"Miner(minsup={MINSUP}, seglen={SEGLEN}, alphabet={ALPHABET}, min_len={MIN_LEN}, max_len={MAX_LEN})")
    say(f"{len(motifs)} motifs found; the best {min(SHOWN, len(motifs))} by NAED:")
    say()

    def shown(motif: Motif) -> str:
        matches = sorted(motif.best_matches.items())
        return " ".join(f"{s}:{p}" for s, p in matches[:5]) + (" ..." if len(matches) > 5 else "")

    # The pattern column stays 13 wide (no pattern is longer than MAX_LEN), as the README shows it.
    write_ranking(motifs[:SHOWN], "best matches (series:point)", shown, out, pattern_width=13)

    say()
    say("Planted shapes:")
    for shape in planted:
        found = None
        for rank, motif in enumerate(motifs, start=1):
            best_matches = motif.best_matches
            hits = sum(covers(motif, shape, s, best_matches) for s in shape.positions)
            if 2 * hits >= len(shape.positions):
                found = (rank, motif.pattern, hits)
                break
        if found:
            rank, pattern, hits = found
            say(
                f"  {shape.name:<7} recovered by motif {rank} '{pattern}': its best match holds the shape"
                f" in {hits} of the {len(shape.positions)} series where it was planted"
            )
        else:
            say(f"  {shape.name:<7} not recovered")
