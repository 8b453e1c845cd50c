"""One run of a partitioned call on the client: the futures it holds, its passes over the
partitions, and what it reports (progress, timings, errors).

Every future of a run is made here, so that a failure can release them all:
after an error the scheduler and the workers hold nothing of the run, even
while the caller keeps the exception (whose traceback still refers to the
run's frames).
"""

from __future__ import annotations

import itertools
import time
import weakref
from collections.abc import Callable
from typing import Any

import distributed

from zef._validation import Progress
from zef.dask._errors import BadSeries, PartitionError

__all__ = ["Run"]


class Run:
    """The client side of one call: submits tasks, goes over the partitions, reports."""

    def __init__(
        self,
        client: distributed.Client,
        progress: Progress | None = None,
        timings: list[tuple[str, float]] | None = None,
    ) -> None:
        self.client = client
        self.progress = progress
        self.timings = timings
        # Every future of the run that is still referenced anywhere (weakly: one that the run
        # no longer needs is released by Dask as soon as it is dropped).
        self.futures: weakref.WeakValueDictionary[int, Any] = weakref.WeakValueDictionary()
        self.numbers = itertools.count()
        self.last = time.perf_counter()
        # The first series of each partition, once the partitions are counted.
        self.first_series: list[int] | None = None

    def __enter__(self) -> Run:
        return self

    def __exit__(self, kind: object, error: object, trace: object) -> None:
        if error is not None:
            self.release()

    def release(self) -> None:
        """Cancels every future of the run, so that neither the scheduler nor the workers keep its keys."""
        alive = list(self.futures.values())
        self.futures.clear()
        # Released rather than cancelled: the scheduler's cancel walks into dependents that no client
        # wants any more and fails there, dropping this client's connection while it reconnects,
        # which loses the next call's futures. A released key goes as soon as nothing needs it.
        for future in alive:
            future.release()

    def lap(self, stage: str) -> None:
        """Records the wall time since the last lap, when the caller asked for timings."""
        now = time.perf_counter()
        if self.timings is not None:
            self.timings.append((stage, now - self.last))
        self.last = now

    def report(self, stage: str, done: int, total: int) -> None:
        if self.progress is not None:
            self.progress(stage, done, total)

    def submit(self, function: Callable[..., Any], *args: Any) -> Any:
        future = self.client.submit(function, *args, pure=False)
        self.futures[next(self.numbers)] = future
        return future

    def scatter(self, values: list[Any]) -> list[Any]:
        """Sends each of `values` to a worker once, as a future of the run."""
        # Keys of their own: an earlier run's release of the same values must not reach these.
        futures: list[Any] = self.client.scatter(values, hash=False)
        for future in futures:
            self.futures[next(self.numbers)] = future
        return futures

    def compute(self, task: Any) -> Any:
        future = self.client.compute(task)
        self.futures[next(self.numbers)] = future
        return future

    def each(self, function: Callable[..., Any], per_partition: list[Any], *args: Any) -> list[Any]:
        """function(item, *args) for each partition's item (a future or a value), as futures."""
        return [self.submit(function, item, *args) for item in per_partition]

    def gather(self, futures: list[Any]) -> list[Any]:
        """The results of one future per partition, in order; a PartitionError names the first that failed."""
        distributed.wait(futures)
        for index, future in enumerate(futures):
            if future.status == "error":
                self.fail(index, future.exception())
        results: list[Any] = self.client.gather(futures)
        return results

    def fail(self, partition: int, cause: BaseException) -> None:
        """Raises the PartitionError of a partition that failed (a bad series named by its index in the
        collection, when the partitions are counted)."""
        if isinstance(cause, BadSeries) and self.first_series is not None:
            cause = cause.in_collection(self.first_series[partition])
        raise PartitionError(partition, cause) from cause

    def paced(
        self, tasks: list[Any], fetch: bool, stage: str = "", count: Callable[[Any], int] | None = None
    ) -> list[Any]:
        """Computes `tasks` (one delayed object per partition), no more at once than the cluster
        has threads: a worker then loads one partition at a time (Dask would start loading the
        next one while the current one is still being worked on). Returns their futures in
        order, finished; or, with `fetch`, their results, each fetched as soon as it is
        ready and then released, so that a worker does not hold the results of all its
        partitions at once. Reports `stage` with the partitions done, when given.
        `count(result)`: the number of series in a task's result, which names a bad series
        by its index in the collection when the partitions are not counted yet.
        """
        width = max(1, sum(self.client.nthreads().values()))
        results: list[Any] = [None] * len(tasks)
        place: dict[int, int] = {}
        running = distributed.as_completed()

        def start(index: int) -> None:
            future = self.compute(tasks[index])
            place[id(future)] = index
            results[index] = future
            running.add(future)

        for index in range(min(width, len(tasks))):
            start(index)
        following = min(width, len(tasks))
        done = 0
        for future in running:
            index = place.pop(id(future))
            if fetch:
                if future.status == "error":
                    self.fail(index, future.exception())
                results[index] = future.result()
            del future
            done += 1
            if stage:
                self.report(stage, done, len(tasks))
            if following < len(tasks):
                start(following)
                following += 1
        if not fetch:
            for index, future in enumerate(results):
                if future.status == "error":
                    cause = future.exception()
                    if isinstance(cause, BadSeries) and count is not None and self.first_series is None:
                        before = self.gather(self.each(count, results[:index]))
                        cause = cause.in_collection(sum(before))
                    self.fail(index, cause)
        return results
