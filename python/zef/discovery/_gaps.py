"""Missing points: gaps inside a series filled on a straight line, missing ends left out."""

from __future__ import annotations

import numpy as np
from numpy.typing import NDArray

__all__ = ["fill_gaps"]

FloatArray = NDArray[np.float64]


def fill_gaps(row: FloatArray) -> tuple[FloatArray, int]:
    """Missing points (NaN) filled as `zef find` fills them.

    Gaps inside the series are filled on a straight line between their
    neighbours; missing points at the ends are left out.

    Parameters
    ----------
    row : ndarray
        One series, NaN for a missing point.

    Returns
    -------
    values : ndarray
        The filled values.
    first : int
        The position of the first one in `row`.

    Examples
    --------
    >>> import numpy as np
    >>> from zef.discovery import fill_gaps
    >>> values, first = fill_gaps(np.array([np.nan, 1.0, np.nan, 3.0, np.nan]))
    >>> values.tolist(), first
    ([1.0, 2.0, 3.0], 1)
    """
    known = np.flatnonzero(~np.isnan(row))
    if known.size == 0:
        return np.empty(0), 0
    first, last = int(known[0]), int(known[-1])
    kept = row[first : last + 1]
    if known.size == kept.size:
        return np.ascontiguousarray(kept), first
    inside = known - first
    filled = np.interp(np.arange(kept.size), inside, kept[inside])
    return filled, first
