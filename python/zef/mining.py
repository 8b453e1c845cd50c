"""Motif discovery on every core: `mine`, and how many threads it uses.

`mine` returns what `Miner(...).mine(series)` returns on a new Miner, bit for
bit, but does the work on the calling thread and threads of its own with the
interpreter lock released: other Python threads go on meanwhile, Ctrl-C
interrupts it, and a callback can follow its progress.
"""

from __future__ import annotations

import math
import operator
import os
import pathlib
import sys
from collections.abc import Callable
from typing import Any

from _zef_cpp import Motif
from zef import _native
from zef._native import TooManyPatterns

__all__ = ["TooManyPatterns", "available_cores", "check_progress", "mine", "thread_count"]

# The variable that sets the thread count when a call does not.
THREADS_VARIABLE = "ZEF_NUM_THREADS"

Progress = Callable[[str, int, int], object]


def mine(
    series: Any,
    minsup: float,
    seglen: int,
    alphabet: int,
    min_len: int = 3,
    max_len: int = 0,
    max_overlap: float = 0.9,
    k: int = 0,
    *,
    threads: int | None = None,
    progress: Progress | None = None,
    max_patterns: int | None = None,
) -> list[Motif]:
    """The motifs of `series`, ranked by NAED: what a new Miner with these settings returns from `mine(series)`.

    `series` is a 2-D float array (one series per row), or a sequence of series
    (1-D arrays or sequences of floats). Arrays are read as C-contiguous float64
    (converted when they are not) and never changed.

    `threads`: how many threads do the work; by default the variable
    ZEF_NUM_THREADS, else every core the process may use (affinity and cgroup
    limits honoured). `progress(stage, done, total)` is called now and then
    from the calling thread while the work runs: stages "discretise" (series),
    "mine" (levels; total 0 while unknown), "filter" (patterns that passed
    the length filter, through the redundancy filter), "map" (motifs) and "collect"
    (returned motifs). It sees a count about every 10 ms, and the last count of
    every stage it saw running. An exception it raises stops the work and is raised.
    `max_patterns`: when mining finds more frequent patterns than this, the
    call fails with TooManyPatterns instead of mapping them all.
    """
    count = thread_count(threads)
    check_progress(progress)
    limit = pattern_limit(max_patterns)
    rows = _as_series(series)
    try:
        return _native.mine(rows, minsup, seglen, alphabet, min_len, max_len, max_overlap, k, count, progress, limit)
    except TypeError as error:
        if not str(error).startswith("mine(): incompatible function arguments"):
            raise
        raise TypeError(
            "mine() takes series as a 2-D float array or a sequence of sequences of numbers, minsup and"
            " max_overlap as floats, and seglen, alphabet, min_len, max_len and k as 32-bit ints"
        ) from None


def _as_series(series: Any) -> Any:
    """Arrays as C-contiguous float64 (read in place by the module); anything else as given."""
    if isinstance(series, (str, bytes)):
        raise TypeError("series must be a 2-D float array or a sequence of series, not a string")
    # An array exists only once numpy is imported: no import here otherwise.
    numpy: Any = sys.modules.get("numpy")
    if numpy is None:
        return series
    if isinstance(series, numpy.ndarray):
        if series.ndim != 2:
            raise TypeError(f"series: an array must have 2 dimensions (one series per row), not {series.ndim}")
        return _float64(numpy, series)
    if isinstance(series, (list, tuple)) and any(isinstance(row, numpy.ndarray) for row in series):
        rows = []
        for index, row in enumerate(series):
            if isinstance(row, numpy.ndarray):
                if row.ndim != 1:
                    raise TypeError(f"series[{index}]: an array must have 1 dimension, not {row.ndim}")
                row = _float64(numpy, row)
            rows.append(row)
        return rows
    return series


def _float64(numpy: Any, array: Any) -> Any:
    """Numbers as C-contiguous float64, converted as float() converts each; other
    arrays (objects, strings) are converted value by value by the module, as Miner does."""
    if array.dtype.kind not in "biuf":
        return array
    return numpy.ascontiguousarray(array, dtype=numpy.float64)


def pattern_limit(max_patterns: int | None) -> int | None:
    """The limit on frequent patterns as the module takes it: None for no limit."""
    if max_patterns is None:
        return None
    limit = whole_number(max_patterns)
    if limit is None or limit < 1:
        raise ValueError(f"max_patterns must be None or a whole number of 1 or more, not {max_patterns!r}")
    return None if limit >= 2**63 else limit


def whole_number(value: object) -> int | None:
    """`value` as an int when it is one (numpy's integers too, but not a bool); else None."""
    if isinstance(value, bool):
        return None
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        return None


def check_progress(progress: object) -> None:
    """TypeError unless `progress` is None or a callable (stage, done, total)."""
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be a callable (stage, done, total) or None, not {type(progress).__name__}")


def thread_count(threads: int | None = None) -> int:
    """The threads a call uses: `threads` when given, else ZEF_NUM_THREADS, else available_cores()."""
    # Counts are capped at what the native call takes; the pool then starts no
    # more threads than it can use.
    if threads is not None:
        count = whole_number(threads)
        if count is None or count < 1:
            raise ValueError(f"threads must be a whole number of 1 or more, not {threads!r}")
        return min(count, sys.maxsize)
    text = os.environ.get(THREADS_VARIABLE, "").strip()
    if text:
        try:
            value = int(text)
        except ValueError:
            value = 0
        if value < 1:
            raise ValueError(f"{THREADS_VARIABLE} must be a whole number of 1 or more, not {text!r}")
        return min(value, sys.maxsize)
    return available_cores()


def available_cores(cgroup_root: str = "/sys/fs/cgroup", own_cgroup: str = "/proc/self/cgroup") -> int:
    """The cores this process may use: its CPU affinity, capped by the CPU quota of its cgroup; at least 1."""
    try:
        cores = len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        cores = os.cpu_count() or 1
    quota = _cgroup_quota(pathlib.Path(cgroup_root), _cgroup_path(own_cgroup))
    if quota is not None:
        cores = min(cores, quota)
    return max(1, cores)


def _cgroup_path(own_cgroup: str) -> str:
    """The process's cgroup v2 path (the line "0::/path" of /proc/self/cgroup); "/" when unknown."""
    try:
        lines = pathlib.Path(own_cgroup).read_text().splitlines()
    except OSError:
        return "/"
    for line in lines:
        if line.startswith("0::"):
            return line[3:] or "/"
    return "/"


def _cgroup_quota(root: pathlib.Path, path: str) -> int | None:
    """The smallest CPU quota, in whole cores rounded up, of the cgroup and its parents; None for no quota."""
    limits = []
    # cgroup v2: "cpu.max" holds "QUOTA PERIOD" or "max PERIOD", in each cgroup on the way down.
    folder = root
    for part in [""] + [p for p in path.split("/") if p]:
        folder = folder / part if part else folder
        fields = _read(folder / "cpu.max").split()
        if len(fields) == 2 and fields[0] != "max":
            limits.append(_cores(fields[0], fields[1]))
    # cgroup v1: the cpu controller's quota and period, -1 for none.
    for controller in ("cpu", "cpu,cpuacct", "cpuacct,cpu"):
        quota = _read(root / controller / "cpu.cfs_quota_us").strip()
        period = _read(root / controller / "cpu.cfs_period_us").strip()
        if quota and period:
            limits.append(_cores(quota, period))
            break
    found = [limit for limit in limits if limit is not None]
    return min(found) if found else None


def _read(path: pathlib.Path) -> str:
    try:
        return path.read_text()
    except (OSError, UnicodeDecodeError):
        return ""


def _cores(quota: str, period: str) -> int | None:
    try:
        q, p = int(quota), int(period)
    except ValueError:
        return None
    if q <= 0 or p <= 0:
        return None
    return max(1, math.ceil(q / p))
