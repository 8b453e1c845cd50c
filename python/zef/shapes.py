"""Shape families and collections of series with shapes planted at arbitrary points.

Used by `zef demo`, by the quality benchmark (benchmarks/quality.py) and by the
tests: each family is drawn at any length, scaled to a peak-to-peak height of
one, and added onto a background of stationary noise, of a drifting walk or of
stationary AR(1) noise at a start point drawn uniformly over the series (not
aligned to any segment). The last three families carry detail much finer than
their length: a frequency sweep up to SWEEP_CYCLES cycles per length, a spike
at most SPIKE_WIDTH of the length wide, and TEETH saw teeth.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass, field

import numpy as np
from numpy.typing import NDArray

__all__ = [
    "BACKGROUNDS",
    "FAMILIES",
    "Planted",
    "background",
    "make_collection",
    "plant",
    "plant_instances",
    "shape",
]

FloatArray = NDArray[np.float64]

#: The shape families, in a fixed order (new families are appended).
FAMILIES = ("sine", "square", "saw", "bump", "chirp", "sweep", "spike", "serrated")

#: Backgrounds: white Gaussian noise of deviation 1, the same noise on a
#: random walk whose steps have deviation WALK_STEP (a slow drift), or
#: stationary AR(1) noise of deviation 1 whose neighbouring points correlate
#: by AR_COEFFICIENT (smooth wandering about a fixed level).
BACKGROUNDS = ("noise", "walk", "ar1")
WALK_STEP = 0.2
AR_COEFFICIENT = 0.9

#: The sweep's frequency rises linearly from 1 to SWEEP_CYCLES cycles per length.
SWEEP_CYCLES = 16.0
#: The spike's points above its baseline span at most this share of the length.
SPIKE_WIDTH = 0.03
#: The serrated shape's teeth: each rises slowly and drops at once.
TEETH = 12


def shape(family: str, length: int) -> FloatArray:
    """One shape of the family, `length` points, peak-to-peak height 1, mean 0.

    Parameters
    ----------
    family : str
        One of FAMILIES: "sine", "square", "saw", "bump", "chirp" (1 to 5
        cycles per length), "sweep" (1 to SWEEP_CYCLES cycles per length),
        "spike" (a triangle at most SPIKE_WIDTH of the length wide, on a flat
        baseline) or "serrated" (TEETH saw teeth on a half sine).
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
    elif family == "sweep":
        values = np.sin(2 * np.pi * (t + (SWEEP_CYCLES - 1.0) / 2 * t**2))
    elif family == "spike":
        values = _spike(length)
    elif family == "serrated":
        # Teeth counted on [0, 1) so that the last one is whole: TEETH - 1 drops.
        phase = np.arange(length) / length
        values = np.sin(np.pi * t) + 0.6 * ((TEETH * phase) % 1.0)
    else:
        raise ValueError(f"unknown shape family {family!r}; known: {', '.join(FAMILIES)}")
    values = values - values.mean()
    span = float(np.ptp(values))
    return values / span if span > 0 else values


def _spike(length: int) -> FloatArray:
    """A triangle at 60 % of the length on a flat baseline; its raised points span at most SPIKE_WIDTH."""
    # Whole points either side of the peak, so that the raised span stays within the width at any length.
    reach = max(0, (int(SPIKE_WIDTH * length) - 1) // 2)
    peak = round(0.6 * (length - 1))
    distance = np.abs(np.arange(length) - peak)
    return np.clip(1.0 - distance / (reach + 1), 0.0, None)


def background(kind: str, n_points: int, rng: np.random.Generator) -> FloatArray:
    """A background series: 'noise' (white, deviation 1), 'walk' (the same noise on a random walk) or 'ar1'.

    'ar1' is stationary AR(1) noise of deviation 1: each point is
    AR_COEFFICIENT times the one before plus fresh white noise.

    Parameters
    ----------
    kind : str
        "noise", "walk" or "ar1".
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
    if kind == "ar1":
        # The first point drawn from the stationary law and the innovations scaled to keep deviation 1.
        noise[1:] *= np.sqrt(1.0 - AR_COEFFICIENT**2)
        for i in range(1, n_points):
            noise[i] += AR_COEFFICIENT * noise[i - 1]
        return noise
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
    length: int | Sequence[int],
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
    length : int or sequence of int
        The shapes' length in points: one for all, or one per family.
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
    lengths = [int(length)] * len(families) if isinstance(length, (int, np.integer)) else [int(n) for n in length]
    if len(lengths) != len(families):
        raise ValueError(f"{len(lengths)} lengths for {len(families)} families")
    planted = [Planted(family, n) for family, n in zip(families, lengths, strict=True)]
    values = [shape(family, n) for family, n in zip(families, lengths, strict=True)]
    for index, row in enumerate(series):
        chosen = [p for p in range(len(families)) if rng.random() < prevalence]
        starts = _free_starts(len(row), [lengths[p] for p in chosen], rng)
        for p, start in zip(chosen, starts, strict=True):
            factor = rng.uniform(1.0 - jitter, 1.0 + jitter)
            row[start : start + lengths[p]] += height * factor * values[p]
            planted[p].starts[index] = start
    return planted


def plant_instances(
    series: list[FloatArray],
    instances: FloatArray,
    name: str,
    *,
    prevalence: float,
    height: float,
    rng: np.random.Generator,
    jitter: float = 0.2,
) -> Planted:
    """Adds a different instance of one class of shapes to a share `prevalence` of the series, in place.

    Real motifs vary from one occurrence to the next: each planted series gets
    its own instance (a row of `instances`, drawn without replacement), scaled
    like the families of `shape` (mean 0, peak-to-peak height 1) and then to
    `height` times a factor drawn uniformly within 1 ± `jitter`.

    Parameters
    ----------
    series : list of ndarray
        The series, changed in place.
    instances : ndarray
        One instance per row, all of the same length.
    name : str
        The class's name, kept as the family of the result.
    prevalence : float
        The share of the series that get an instance.
    height : float
        The instances' peak-to-peak height.
    rng : numpy.random.Generator
        The source of the choices.
    jitter : float, default 0.2
        How much each copy's height varies.

    Returns
    -------
    Planted
        Where the instances went.

    Raises
    ------
    ValueError
        When there are fewer instances than series, or they do not fit in a series.

    Examples
    --------
    >>> import numpy as np
    >>> from zef.shapes import plant_instances
    >>> series = [np.zeros(100) for _ in range(3)]
    >>> instances = np.array([[0.0, 1.0, 0.0], [0.0, 2.0, 1.0], [1.0, 0.0, 1.0]])
    >>> planted = plant_instances(series, instances, "peak", prevalence=1.0, height=1.0, rng=np.random.default_rng(0))
    >>> planted.length, sorted(planted.starts)
    (3, [0, 1, 2])
    """
    instances = np.asarray(instances, dtype=np.float64)
    if len(instances) < len(series):
        raise ValueError(f"{len(instances)} instances of {name!r} for {len(series)} series: each needs its own")
    length = instances.shape[1]
    order = rng.permutation(len(instances))
    planted = Planted(name, length)
    for index, row in enumerate(series):
        if rng.random() >= prevalence:
            continue
        (start,) = _free_starts(len(row), [length], rng)
        values = instances[order[index]] - instances[order[index]].mean()
        span = float(np.ptp(values))
        factor = rng.uniform(1.0 - jitter, 1.0 + jitter)
        row[start : start + length] += height * factor * (values / span if span > 0 else values)
        planted.starts[index] = start
    return planted


def _free_starts(n_points: int, lengths: list[int], rng: np.random.Generator) -> list[int]:
    """A start point for each of the windows of `lengths`, uniform over the series, none overlapping."""
    count = len(lengths)
    if count == 0:
        return []
    room = n_points - sum(lengths)
    if room < 0:
        raise ValueError(f"shapes of {', '.join(map(str, lengths))} points do not fit in a series of {n_points} points")
    # Spread the free points over count + 1 gaps, then lay the shapes between them in a random order.
    cuts = np.sort(rng.integers(0, room + 1, count))
    order = rng.permutation(count)
    starts = [0] * count
    laid = 0
    for slot, cut in enumerate(cuts):
        (shape_at,) = np.flatnonzero(order == slot)
        starts[shape_at] = int(cut) + laid
        laid += lengths[shape_at]
    return starts


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
