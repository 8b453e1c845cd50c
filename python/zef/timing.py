"""How long each stage of a call took, from its progress reports."""

from __future__ import annotations

import time
from collections.abc import Callable

__all__ = ["StageTimes"]


class StageTimes:
    """A `progress` callback that records the wall time of each stage of a call.

    It works with every call that takes ``progress=``: `zef.mine`,
    `zef.discover`, `zef.dask.mine` and `zef.dask.discover`. A stage's time
    runs from its first report to the first report of the stage after it (or
    to `stop()`); a stage reported again later (one per alphabet in discovery)
    adds up.

    Parameters
    ----------
    then : callable, optional
        Another progress callback that gets every report too (a progress bar).

    Attributes
    ----------
    seconds : dict of str to float
        Each stage's wall time, in the order the stages began.

    Examples
    --------
    >>> import zef
    >>> from zef.timing import StageTimes
    >>> times = StageTimes()
    >>> motifs = zef.mine([[1.0, 2.0, 3.0, 2.0]] * 4, 0.5, 1, 3, progress=times)
    >>> times.stop()
    >>> set(times.seconds) <= {"discretise", "mine", "filter", "map", "collect"}
    True
    """

    def __init__(self, then: Callable[[str, int, int], object] | None = None) -> None:
        self.then = then
        self.seconds: dict[str, float] = {}
        self._stage: str | None = None
        self._since = 0.0

    def __call__(self, stage: str, done: int, total: int) -> None:
        if stage != self._stage:
            self.stop()
            self._stage, self._since = stage, time.perf_counter()
        if self.then is not None:
            self.then(stage, done, total)

    def stop(self) -> None:
        """Ends the stage that is running; call it once the call has returned."""
        if self._stage is not None:
            elapsed = time.perf_counter() - self._since
            self.seconds[self._stage] = self.seconds.get(self._stage, 0.0) + elapsed
            self._stage = None
