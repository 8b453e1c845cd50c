"""The motif lengths discovery searches: one length, a range of lengths, or a range taken from the data."""

from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import Any

from zef._validation import MIN_LENGTH, discovery_settings, whole_number

__all__ = [
    "DEFAULT_SHORTEST",
    "LengthSetting",
    "default_lengths",
    "length_setting",
    "lengths_for",
    "settings_by_length",
]

#: Lengths is one length, (shortest, longest), or None for a range from the data.
LengthSetting = int | tuple[int, int] | None

#: The default range: from DEFAULT_SHORTEST points to a quarter of the median
#: series length, and at most DEFAULT_FACTOR times the shortest.
DEFAULT_SHORTEST = 16
DEFAULT_SHARE = 4
DEFAULT_FACTOR = 64


def length_setting(length: Any) -> LengthSetting:
    """`length` checked: an int of at least MIN_LENGTH, a pair (shortest, longest) of them, or None."""
    if length is None:
        return None
    if whole_number(length) is not None:
        value = int(length)
        if value < MIN_LENGTH:
            raise ValueError(f"length must be at least {MIN_LENGTH} points, got {value}")
        return value
    if isinstance(length, (tuple, list)) and len(length) == 2 and all(whole_number(v) is not None for v in length):
        lo, hi = (int(v) for v in length)
        if lo < MIN_LENGTH:
            raise ValueError(f"the shortest length must be at least {MIN_LENGTH} points, got {lo}")
        if lo > hi:
            raise ValueError(f"the shortest length {lo} is above the longest {hi}")
        return (lo, hi)
    raise TypeError(f"length must be an int, a pair (shortest, longest) of ints, or None, got {length!r}")


def default_lengths(sizes: Sequence[int]) -> tuple[int, int]:
    """The range searched when no length is given, from the series' lengths.

    From DEFAULT_SHORTEST points (less for series too short for it) to a quarter
    of the median series length, at most DEFAULT_FACTOR times the shortest.

    Examples
    --------
    >>> from zef.discovery._lengths import default_lengths
    >>> default_lengths([1000] * 5), default_lengths([40, 60, 80]), default_lengths([10**6])
    ((16, 250), (7, 15), (16, 1024))
    """
    median = sorted(sizes)[(len(sizes) - 1) // 2]
    hi = max(MIN_LENGTH, median // DEFAULT_SHARE)
    lo = max(MIN_LENGTH, min(DEFAULT_SHORTEST, hi // 2))
    return lo, max(lo, min(hi, lo * DEFAULT_FACTOR))


def lengths_for(setting: LengthSetting, sizes: Sequence[int]) -> int | tuple[int, int]:
    """The length, or range of lengths, searched in series of `sizes` points.

    A range is cut at the longest series; a range of one length is that
    length. ValueError when even the shortest length is longer than every series.
    """
    longest = max(sizes)
    lo, hi = default_lengths(sizes) if setting is None else (setting, setting) if isinstance(setting, int) else setting
    if lo > longest:
        raise ValueError(f"length {lo} is longer than every series (the longest has {longest} points)")
    hi = min(hi, longest)
    return lo if lo == hi else (lo, hi)


def settings_by_length(setting: LengthSetting, *others: Any) -> Callable[[int | tuple[int, int]], dict[str, Any]]:
    """The settings of a discovery (`discovery_settings` of `others`) for whichever lengths it settles
    on; checked at once, with a stand-in for a range still to be taken from the data."""

    def settings_of(lengths: int | tuple[int, int]) -> dict[str, Any]:
        return discovery_settings(lengths, *others)

    settings_of((DEFAULT_SHORTEST, 4 * DEFAULT_SHORTEST) if setting is None else setting)
    return settings_of
