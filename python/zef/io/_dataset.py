"""Series as read from a file, and as handed to the miner."""

from __future__ import annotations

from dataclasses import dataclass, field

__all__ = ["DataError", "Dataset", "Prepared"]


class DataError(Exception):
    """A file that cannot be read as series; the message is meant for the user.

    Examples
    --------
    >>> from zef.io import DataError, read_series
    >>> try:
    ...     read_series("no-such-file.csv")
    ... except DataError as error:
    ...     print(error)
    no-such-file.csv: no such file
    """


@dataclass
class Dataset:
    """Series as read from a file. NaN marks a missing point.

    Attributes
    ----------
    series : list of list of float
        The series.
    names : list of str or None
        One name per series, when the file names them.
    point_labels : list of str or None
        One label per point index (dates, times), when the file gives them.

    Examples
    --------
    >>> from zef.io import Dataset
    >>> dataset = Dataset([[1.0, 2.0], [3.0, 4.0]], names=["left", "right"])
    >>> dataset.name(1), dataset.point_label(0)
    ('right', None)
    """

    series: list[list[float]]
    # One name per series, when the file names them.
    names: list[str] | None = None
    # One label per point index (dates, times), when the file gives them.
    point_labels: list[str] | None = None

    def name(self, index: int) -> str:
        """How a series is shown: the name the file gives it when every series has its own, else its index.

        Parameters
        ----------
        index : int
            The series' index.

        Returns
        -------
        str
            Its name or its index.
        """
        if self.names is not None and self.names[index] and len(set(self.names)) == len(self.names):
            return self.names[index]
        return str(index)

    def point_label(self, point: int) -> str | None:
        """The label of a point index, when the file gives one.

        Parameters
        ----------
        point : int
            A point index.

        Returns
        -------
        str or None
            Its label (a date, a time), or None.
        """
        if self.point_labels is not None and 0 <= point < len(self.point_labels) and self.point_labels[point]:
            return self.point_labels[point]
        return None


@dataclass
class Prepared:
    """The series handed to the miner, and where their points came from.

    Attributes
    ----------
    series : list of list of float
        The series as mined: gaps filled, missing ends cut off.
    source : list of int
        For each, its index in the Dataset.
    offset : list of int
        For each, how many missing points were cut off its start.
    filled, trimmed : int
        Missing points filled inside series, and cut off their ends.
    dropped : dict of int to str
        Dataset index -> why the series was set aside.

    Examples
    --------
    >>> from zef.io import prepare
    >>> prepared = prepare([[float("nan"), 1.0, 2.0], [5.0, 5.0]])
    >>> prepared.series, prepared.dropped, prepared.position(0, 0)
    ([[1.0, 2.0]], {1: 'constant'}, (0, 1))
    """

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
        """A (series, point) of the prepared set, as a (series, point) of the Dataset.

        Parameters
        ----------
        prepared_index : int
            A series of the prepared set.
        point : int
            A point of that series.

        Returns
        -------
        tuple of int
            The series and point in the Dataset.
        """
        return self.source[prepared_index], point + self.offset[prepared_index]
