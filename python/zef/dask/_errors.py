"""The errors of the partitioned calls: a partition that fails, and a source that changes between reads."""

from __future__ import annotations

__all__ = ["BadSeries", "PartitionError", "SourceChanged"]


class PartitionError(RuntimeError):
    """A partition of the collection could not be loaded or worked on.

    Raised by `zef.dask.mine` and `zef.dask.discover` for a failure in any
    pass over the partitions; the failure itself is the exception's cause.

    Parameters
    ----------
    partition : int
        The index of the partition in the collection.
    cause : BaseException
        What went wrong.

    Attributes
    ----------
    partition : int
        The index of the partition in the collection.

    Examples
    --------
    >>> from zef.dask import PartitionError
    >>> error = PartitionError(2, OSError("disk read failed"))
    >>> error.partition, str(error)
    (2, 'partition 2 of the collection could not be loaded: OSError: disk read failed')
    """

    def __init__(self, partition: int, cause: BaseException) -> None:
        if isinstance(cause, SourceChanged):
            text = (
                f"partition {partition} of the collection gave other values than at its first read:"
                " a source must give the same values on every read (seed its random numbers, or persist it)"
            )
        else:
            text = f"partition {partition} of the collection could not be loaded: {type(cause).__name__}: {cause}"
        super().__init__(text)
        self.partition = partition


class SourceChanged(RuntimeError):
    """On a worker: a partition read again gave values other than at its first read."""


class BadSeries(Exception):
    """On a worker: series `index` of a partition is not a series; `kind` and `rest` make the error
    that the client raises once it knows the series' index in the collection."""

    def __init__(self, index: int, kind: str, rest: str) -> None:
        super().__init__(index, kind, rest)
        self.index, self.kind, self.rest = index, kind, rest

    def in_collection(self, first: int) -> Exception:
        """The error with the series counted from the start of the collection (`first`: the
        partition's first series)."""
        error = ValueError if self.kind == "ValueError" else TypeError
        return error(f"series {first + self.index}{self.rest}")
