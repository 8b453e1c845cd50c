"""Shape families and collections of series with shapes planted at arbitrary points.

Used by `zef demo`, by the quality benchmark (benchmarks/quality.py) and by the
tests: each family is drawn at any length, scaled to a peak-to-peak height of
one, and added onto a background of stationary noise or of a drifting walk at
a start point drawn uniformly over the series (not aligned to any segment).
"""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np
from numpy.typing import NDArray

__all__ = ["BACKGROUNDS", "FAMILIES", "Planted", "background", "make_collection", "plant", "shape"]

FloatArray = NDArray[np.float64]

#: The shape families, in a fixed order.
FAMILIES = ("sine", "square", "saw", "bump", "chirp")

#: Backgrounds: white Gaussian noise of deviation 1, or the same noise on a
#: random walk whose steps have deviation WALK_STEP (a slow drift).
BACKGROUNDS = ("noise", "walk")
WALK_STEP = 0.2


def shape(family: str, length: int) -> FloatArray:
    """One shape of the family, `length` points, peak-to-peak height 1, mean 0.

    Parameters
    ----------
    family : str
        One of FAMILIES: "sine", "square", "saw", "bump" or "chirp".
    length : int
        Points, at least 2.

    Returns
    -------
    ndarray
        The shape.

    Raises
    ------
    ValueError
        For an unknown family or fewer than 2 points.

    Examples
    --------
    >>> from zef.shapes import shape
    >>> values = shape("square", 8)
    >>> float(values.max() - values.min())
    1.0
    """
    if length < 2:
        raise ValueError(f"a shape needs at least 2 points, got {length}")
    t = np.linspace(0.0, 1.0, length)
    if family == "sine":
        values = np.sin(2 * np.pi * t)
    elif family == "square":
        values = ((t >= 0.25) & (t < 0.75)).astype(np.float64)
    elif family == "saw":
        values = np.where(t < 0.8, t / 0.8, (1.0 - t) / 0.2)
    elif family == "bump":
        values = np.exp(-(((t - 0.5) / 0.15) ** 2))
    elif family == "chirp":
        values = np.sin(2 * np.pi * (1.0 * t + 2.0 * t**2))
    else:
        raise ValueError(f"unknown shape family {family!r}; known: {', '.join(FAMILIES)}")
    values = values - values.mean()
    span = float(np.ptp(values))
    return values / span if span > 0 else values


def background(kind: str, n_points: int, rng: np.random.Generator) -> FloatArray:
    """A background series: 'noise' (white, deviation 1) or 'walk' (the same noise on a random walk).

    Parameters
    ----------
    kind : str
        "noise" or "walk".
    n_points : int
        Points.
    rng : numpy.random.Generator
        The source of the noise.

    Returns
    -------
    ndarray
        The series.

    Raises
    ------
    ValueError
        For an unknown kind.

    Examples
    --------
    >>> import numpy as np
    >>> from zef.shapes import background
    >>> background("walk", 100, np.random.default_rng(0)).shape
    (100,)
    """
    noise = rng.normal(0.0, 1.0, n_points)
    if kind == "noise":
        return noise
    if kind == "walk":
        return noise + np.cumsum(rng.normal(0.0, WALK_STEP, n_points))
    raise ValueError(f"unknown background {kind!r}; known: {', '.join(BACKGROUNDS)}")


@dataclass
class Planted:
    """One shape planted in a collection: its family, length and where it went.

    Attributes
    ----------
    family : str
        The shape's family.
    length : int
        Its length in points.
    starts : dict of int to int
        Series index -> start point of the planted copy.
    """

    family: str
    length: int
    #: series index -> start point of the planted copy
    starts: dict[int, int] = field(default_factory=dict)


def plant(
    series: list[FloatArray],
    families: list[str],
    length: int,
    *,
    prevalence: float,
    height: float,
    rng: np.random.Generator,
    jitter: float = 0.2,
) -> list[Planted]:
    """Adds each family's shape to a share `prevalence` of the series, in place.

    Copies of different families never overlap within a series. Each copy's
    height is `height` times a factor drawn uniformly within 1 ± `jitter`.

    Parameters
    ----------
    series : list of ndarray
        The series, changed in place.
    families : list of str
        The shapes' families.
    length : int
        The shapes' length in points.
    prevalence : float
        The share of the series that get each shape.
    height : float
        The shapes' peak-to-peak height.
    rng : numpy.random.Generator
        The source of the choices.
    jitter : float, default 0.2
        How much each copy's height varies.

    Returns
    -------
    list of Planted
        Where each family's shape went.

    Raises
    ------
    ValueError
        When the shapes do not fit in a series.

    Examples
    --------
    >>> import numpy as np
    >>> from zef.shapes import plant
    >>> series = [np.zeros(100) for _ in range(4)]
    >>> planted = plant(series, ["bump"], 20, prevalence=1.0, height=2.0, rng=np.random.default_rng(0))
    >>> sorted(planted[0].starts)
    [0, 1, 2, 3]
    """
    planted = [Planted(family, length) for family in families]
    values = [shape(family, length) for family in families]
    for index, row in enumerate(series):
        chosen = [p for p in range(len(families)) if rng.random() < prevalence]
        starts = _free_starts(len(row), length, len(chosen), rng)
        for p, start in zip(chosen, starts, strict=False):
            factor = rng.uniform(1.0 - jitter, 1.0 + jitter)
            row[start : start + length] += height * factor * values[p]
            planted[p].starts[index] = start
    return planted


def _free_starts(n_points: int, length: int, count: int, rng: np.random.Generator) -> list[int]:
    """`count` start points, uniform over the series, whose windows do not overlap."""
    if count == 0:
        return []
    room = n_points - count * length
    if room < 0:
        raise ValueError(f"{count} shapes of {length} points do not fit in a series of {n_points} points")
    # Spread the free points over count + 1 gaps, then lay the shapes between them.
    cuts = np.sort(rng.integers(0, room + 1, count))
    order = rng.permutation(count)
    starts = [int(cut) + i * length for i, cut in enumerate(cuts)]
    return [starts[i] for i in order]


def make_collection(
    family: str,
    length: int,
    *,
    n_series: int = 40,
    n_points: int = 1000,
    prevalence: float = 1.0,
    kind: str = "noise",
    snr: float = 4.0,
    seed: int = 0,
) -> tuple[FloatArray, Planted]:
    """`n_series` backgrounds of `n_points` with one shape planted in a share `prevalence`.

    Parameters
    ----------
    family : str
        The shape's family (see `shape`).
    length : int
        The shape's length in points.
    n_series, n_points : int
        The collection's size.
    prevalence : float, default 1.0
        The share of the series that get the shape.
    kind : str, default "noise"
        The background (see `background`).
    snr : float, default 4.0
        The shape's peak-to-peak height over the deviation of the noise.
    seed : int, default 0
        The seed of the random numbers.

    Returns
    -------
    series : ndarray
        One series per row.
    planted : Planted
        Where the shape was planted.

    Examples
    --------
    >>> from zef.shapes import make_collection
    >>> series, planted = make_collection("bump", 40, n_series=5, n_points=200)
    >>> series.shape, len(planted.starts)
    ((5, 200), 5)
    """
    rng = np.random.default_rng(seed)
    rows = [background(kind, n_points, rng) for _ in range(n_series)]
    (planted,) = plant(rows, [family], length, prevalence=prevalence, height=snr, rng=rng)
    return np.array(rows), planted
