"""The cores this process may use: its CPU affinity, capped by the CPU quota of its cgroup."""

from __future__ import annotations

import math
import os
import pathlib

__all__ = ["available_cores"]


def available_cores(cgroup_root: str = "/sys/fs/cgroup", own_cgroup: str = "/proc/self/cgroup") -> int:
    """The cores this process may use: its CPU affinity, capped by the CPU quota of its cgroup; at least 1.

    Parameters
    ----------
    cgroup_root : str
        Where the cgroup file system is mounted.
    own_cgroup : str
        The file that names the process's cgroup.

    Returns
    -------
    int
        The number of cores, at least 1.

    Examples
    --------
    >>> from zef.mining import available_cores
    >>> available_cores() >= 1
    True
    """
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
