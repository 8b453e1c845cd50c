"""The planted-shape generator: seeded random walks with known shapes planted
in them, the data of the built-in example (`zef demo`).

Each planted shape is copied into a share of the series at a position that is a
multiple of the segment length, so that a miner working on segments of that
length can line up with it exactly.
"""

from __future__ import annotations

import math
import random
from dataclasses import dataclass, field

__all__ = ["PlantedShape", "make_example"]


@dataclass
class PlantedShape:
    """One shape planted in the example's walks.

    Attributes
    ----------
    name : str
        "spike", "square" or "saw".
    values : list of float
        The shape's points.
    positions : dict of int to int
        Series index -> point index at which the shape was planted.
    """

    name: str
    values: list[float]
    # series index -> point index at which the shape was planted
    positions: dict[int, int] = field(default_factory=dict)


def _shape_values(name: str, length: int, height: float) -> list[float]:
    if name == "spike":
        return [height * math.exp(-(((i - length / 2) / (length / 5)) ** 2)) for i in range(length)]
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
    share: float = 0.9,
    step: float = 0.02,
    noise: float = 0.0,
    height: float = 4.0,
    seed: int = 7,
) -> tuple[list[list[float]], list[PlantedShape]]:
    """Random walks of `length` points with each shape planted in `share` of the series.

    The walk takes Gaussian steps of deviation `step`, with Gaussian noise of
    deviation `noise` on top; each shape rises `height` above the walk. Shapes
    never overlap within a series and start at whole segments of `seglen` points.

    Parameters
    ----------
    n_series, length : int
        The number of walks and their points.
    seglen : int
        The segment length the shapes' starts are aligned to.
    shape_length : int
        The shapes' points.
    shapes : tuple of str
        Which shapes: "spike", "square", "saw".
    share : float
        The share of the series that get each shape.
    step, noise, height : float
        The walk's step deviation, the noise on it, and the shapes' height.
    seed : int
        The seed of the random numbers.

    Returns
    -------
    series : list of list of float
        The walks.
    planted : list of PlantedShape
        For each shape, where it was planted.

    Raises
    ------
    ValueError
        When the series are too short to hold every shape once.

    Examples
    --------
    >>> from zef.planted import make_example
    >>> series, planted = make_example(n_series=4)
    >>> len(series), len(series[0]), [shape.name for shape in planted]
    (4, 480, ['spike', 'square', 'saw'])
    """
    rng = random.Random(seed)
    series: list[list[float]] = []
    for _ in range(n_series):
        walk: list[float] = []
        level = 0.0
        for _ in range(length):
            level += rng.gauss(0.0, step)
            walk.append(level + rng.gauss(0.0, noise) if noise else level)
        series.append(walk)

    planted = [PlantedShape(name, _shape_values(name, shape_length, height)) for name in shapes]
    slots = length // shape_length
    if slots < len(shapes):
        raise ValueError("series too short to hold every shape once")
    for index, walk in enumerate(series):
        free = rng.sample(range(slots), len(shapes))
        for shape, slot in zip(planted, free, strict=False):
            if rng.random() >= share:
                continue
            # Slots are aligned to whole segments.
            start = slot * shape_length // seglen * seglen
            for i, v in enumerate(shape.values):
                walk[start + i] += v
            shape.positions[index] = start
    return series, planted
