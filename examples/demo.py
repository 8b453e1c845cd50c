"""The built-in example: discretise seeded random walks with planted shapes."""

from __future__ import annotations

import _zef_cpp
from example_data import make_example, znormed

SEGLEN = 8
ALPHABET = 5


def main() -> None:
    series, planted = make_example(seglen=SEGLEN)
    words = _zef_cpp.sax([znormed(s) for s in series], SEGLEN, ALPHABET)
    print(f"{len(series)} series of {len(series[0])} points; seglen {SEGLEN}, alphabet {ALPHABET}")
    print()
    for index, word in enumerate(words[:10]):
        marks = ", ".join(f"{p.name}@{p.positions[index] // SEGLEN}" for p in planted if index in p.positions)
        print(f"series {index:2d}  {''.join(word)}  {marks}")
    print(f"... ({len(words) - 10} more)")
    print()
    print("Each letter names the mean of one segment of 8 points; 'name@i' marks a")
    print("planted shape that starts at symbol i.")


if __name__ == "__main__":
    main()
