"""The built-in example: find the shapes planted in seeded random walks."""

from __future__ import annotations

import _zef_cpp
from example_data import PlantedShape, make_example

SETTINGS = dict(minsup=0.5, seglen=8, alphabet=3, min_len=8, max_len=12)
SHOWN = 12


def covers(motif: _zef_cpp.Motif, shape: PlantedShape, series: int, best_matches: dict[int, int]) -> bool:
    """Whether the motif's best match in the series holds the whole planted shape."""
    start = best_matches.get(series)
    planted = shape.positions[series]
    return start is not None and start <= planted and planted + len(shape.values) <= start + motif.length


def main() -> None:
    series, planted = make_example(seglen=SETTINGS["seglen"])
    miner = _zef_cpp.Miner(**SETTINGS)
    motifs = miner.mine(series)

    print(f"{len(series)} random walks of {len(series[0])} points, three shapes of 64 points planted in each")
    print("Miner(" + ", ".join(f"{key}={value}" for key, value in SETTINGS.items()) + ")")
    print(f"{len(motifs)} motifs found; the best {min(SHOWN, len(motifs))} by NAED:")
    print()
    print(f"{'rank':>4}  {'pattern':<14} {'series':>6}  {'length':>6}  {'NAED':>8}  best matches (series:point)")
    for rank, motif in enumerate(motifs[:SHOWN], start=1):
        matches = sorted(motif.best_matches.items())
        shown = " ".join(f"{s}:{p}" for s, p in matches[:5]) + (" ..." if len(matches) > 5 else "")
        print(f"{rank:>4}  {motif.pattern:<14} {len(matches):>6}  {motif.length:>6}  {motif.naed:>8.5f}  {shown}")

    print()
    print("Planted shapes:")
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
            print(
                f"  {shape.name:<7} recovered by motif {rank} '{pattern}': its best match holds the shape"
                f" in {hits} of the {len(shape.positions)} series where it was planted"
            )
        else:
            print(f"  {shape.name:<7} not recovered")


if __name__ == "__main__":
    main()
