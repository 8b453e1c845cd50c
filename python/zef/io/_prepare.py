"""Readying series for the miner: gaps filled, series without a shape set aside; and the miner's z-normalisation."""

from __future__ import annotations

import math

from zef.io._dataset import Prepared

__all__ = ["prepare", "znorm", "znorm_stats"]


def prepare(series: list[list[float]]) -> Prepared:
    """Fills the gaps of each series and sets aside the series that have no shape.

    Gaps inside a series are filled on a straight line, missing points at its
    ends cut off; a series with no value, one value or a constant one is set
    aside.

    Parameters
    ----------
    series : list of list of float
        The series, NaN for a missing point.

    Returns
    -------
    Prepared
        The series to mine and where their points came from.

    Examples
    --------
    >>> from zef.io import prepare
    >>> prepare([[1.0, float("nan"), 3.0]]).series
    [[1.0, 2.0, 3.0]]
    """
    prepared = Prepared([], [], [])
    for index, values in enumerate(series):
        known = [i for i, v in enumerate(values) if not math.isnan(v)]
        if not known:
            prepared.dropped[index] = "no values" if values else "no points"
            continue
        if min(values[i] for i in known) == max(values[i] for i in known):
            prepared.dropped[index] = "one value only" if len(known) == 1 else "constant"
            continue
        first, last = known[0], known[-1]
        kept = values[first : last + 1]
        gaps = len(kept) - len(known)
        if gaps:
            kept = _interpolate(kept)
        prepared.filled += gaps
        prepared.trimmed += len(values) - len(kept)
        prepared.series.append(kept)
        prepared.source.append(index)
        prepared.offset.append(first)
    return prepared


def _interpolate(values: list[float]) -> list[float]:
    """Fills runs of NaN between known values (both ends are known) on a straight line."""
    result = list(values)
    start = 0
    while start < len(result):
        if not math.isnan(result[start]):
            start += 1
            continue
        end = start
        while math.isnan(result[end]):
            end += 1
        before, after = result[start - 1], result[end]
        span = end - start + 1
        for i in range(start, end):
            result[i] = before + (after - before) * (i - start + 1) / span
        start = end
    return result


def znorm_stats(values: list[float]) -> tuple[float, float]:
    """The mean and the population deviation that the miner's z-normalisation uses (sums from the left).

    Parameters
    ----------
    values : list of float
        One series, at least one point.

    Returns
    -------
    tuple of float
        The mean and the deviation.

    Examples
    --------
    >>> from zef.io import znorm_stats
    >>> znorm_stats([1.0, 3.0])
    (2.0, 1.0)
    """
    n = float(len(values))
    total = 0.0
    for v in values:
        total += v
    mean = total / n
    squares = 0.0
    for v in values:
        squares += (v - mean) * (v - mean)
    return mean, math.sqrt(squares / n)


def znorm(values: list[float]) -> list[float]:
    """Z-normalises one series as the miner does, to the bit. A deviation of 0
    divides as in the miner: 0 / 0 is NaN (a flat series becomes NaN), and a
    value apart from the mean becomes an infinity of its sign (the deviation of
    values so close that their squares vanish).

    Parameters
    ----------
    values : list of float
        One series.

    Returns
    -------
    list of float
        The series z-normalised.

    Examples
    --------
    >>> from zef.io import znorm
    >>> znorm([1.0, 3.0])
    [-1.0, 1.0]
    """
    if not values:
        return []
    mean, deviation = znorm_stats(values)
    if deviation == 0.0:  # +0.0, the root of a sum of squares; Python would raise ZeroDivisionError
        return [math.nan if v - mean == 0.0 else math.copysign(math.inf, v - mean) for v in values]
    return [(v - mean) / deviation for v in values]
