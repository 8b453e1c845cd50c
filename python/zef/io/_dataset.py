"""Series as read from a file, and as handed to the miner."""

from __future__ import annotations

from dataclasses import dataclass, field

__all__ = ["DataError", "Dataset", "Prepared"]


class DataError(Exception):
    """A file that cannot be read as series; the message is meant for the user."""


@dataclass
class Dataset:
    """Series as read from a file. NaN marks a missing point."""

    series: list[list[float]]
    # One name per series, when the file names them.
    names: list[str] | None = None
    # One label per point index (dates, times), when the file gives them.
    point_labels: list[str] | None = None

    def name(self, index: int) -> str:
        """How a series is shown: the name the file gives it when every series has its own, else its index."""
        if self.names is not None and self.names[index] and len(set(self.names)) == len(self.names):
            return self.names[index]
        return str(index)

    def point_label(self, point: int) -> str | None:
        if self.point_labels is not None and 0 <= point < len(self.point_labels) and self.point_labels[point]:
            return self.point_labels[point]
        return None


@dataclass
class Prepared:
    """The series handed to the miner, and where their points came from."""

    series: list[list[float]]
    # For each prepared series: its index in the Dataset, and how many missing
    # points were cut off its start (a prepared point p is point p + offset
    # of the series as read).
    source: list[int]
    offset: list[int]
    filled: int = 0
    trimmed: int = 0
    # Dataset index -> why the series was set aside.
    dropped: dict[int, str] = field(default_factory=dict)

    def position(self, prepared_index: int, point: int) -> tuple[int, int]:
        """A (series, point) of the prepared set, as a (series, point) of the Dataset."""
        return self.source[prepared_index], point + self.offset[prepared_index]
