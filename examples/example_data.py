"""The built-in example data set: seeded random walks with planted shapes.

Each planted shape is copied into a share of the series at a position that is a
multiple of the segment length, so that a miner working on segments of that
length can line up with it exactly.
"""

from __future__ import annotations

import math
import random
from dataclasses import dataclass, field


@dataclass
class PlantedShape:
    name: str
    values: list[float]
    # series index -> point index at which the shape was planted
    positions: dict[int, int] = field(default_factory=dict)


def _shape_values(name: str, length: int, height: float) -> list[float]:
    if name == "spike":
        return [height * math.exp(-(((i - length / 2) / (length / 8)) ** 2)) for i in range(length)]
    if name == "square":
        return [height if length // 4 <= i < 3 * length // 4 else 0.0 for i in range(length)]
    if name == "saw":
        return [-height + 2 * height * i / (length - 1) for i in range(length)]
    raise ValueError(f"unknown shape {name!r}")


def make_example(
    n_series: int = 30,
    length: int = 480,
    seglen: int = 8,
    shape_length: int = 64,
    shapes: tuple[str, ...] = ("spike", "square", "saw"),
    share: float = 0.8,
    seed: int = 7,
) -> tuple[list[list[float]], list[PlantedShape]]:
    """Random walks of `length` points with each shape planted in `share` of the series.

    Shapes never overlap within a series. Returns the series and, for each shape,
    where it was planted.
    """
    rng = random.Random(seed)
    series = []
    for _ in range(n_series):
        walk, level = [], 0.0
        for _ in range(length):
            level += rng.gauss(0.0, 0.3)
            walk.append(level)
        series.append(walk)

    planted = [PlantedShape(name, _shape_values(name, shape_length, 8.0)) for name in shapes]
    slots = length // shape_length
    if slots < len(shapes):
        raise ValueError("series too short to hold every shape once")
    for index, walk in enumerate(series):
        free = rng.sample(range(slots), len(shapes))
        for shape, slot in zip(planted, free):
            if rng.random() >= share:
                continue
            # Slots are aligned to whole segments.
            start = slot * shape_length // seglen * seglen
            base = walk[start]
            for i, v in enumerate(shape.values):
                walk[start + i] = base + v
            shape.positions[index] = start
    return series, planted


def znormed(values: list[float]) -> list[float]:
    """The series shifted to mean 0 and scaled to unit (population) deviation."""
    n = len(values)
    mean = sum(values) / n
    sd = math.sqrt(sum((v - mean) ** 2 for v in values) / n)
    return [(v - mean) / sd for v in values]
