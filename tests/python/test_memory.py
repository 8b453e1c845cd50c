"""Resident memory stops growing while the module is used in a loop: nothing
leaks, on results or on errors."""

import gc
import os

import pytest

from _zef_cpp import Miner, PatternMiner, sax
from helpers import MOTIF_PROPERTIES, SHAPE_SERIES, LenRaises

SERIES = [*SHAPE_SERIES, [3.0] * 12]


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def one_round():
    # A new Miner each round: a Miner's stored list grows by design.
    miner = Miner(0.5, 2, 3, min_len=1, max_overlap=1.0)
    for _ in range(2):
        for motif in miner.mine([list(s) for s in SERIES]) + miner.motifs:
            for name in MOTIF_PROPERTIES:
                getattr(motif, name)
            repr(motif)
    patterns = PatternMiner(0.5, min_len=1)
    patterns.mine([list("abcab"), list("\xe9abc")])
    for motif in patterns.frequent.values():
        motif.indexes
        try:
            motif.pattern
        except UnicodeDecodeError:
            pass
    sax(SERIES, 3, 4)
    # The error paths: a refused k, an alphabet, a stored motif beyond the
    # series, an argument that does not convert, a __len__ that raises.
    for call in (
        lambda: Miner(0.5, 2, 3, k=-1).mine(SERIES),
        lambda: Miner(0.5, 2, 11).mine(SERIES),
        lambda: miner.mine(SERIES[:1]),
        lambda: miner.mine([[1.0, "x"]]),
        lambda: miner.mine(LenRaises(SERIES)),
        lambda: sax([[1.0]], 0, 3),
    ):
        try:
            call()
        except (ValueError, IndexError, TypeError, RuntimeError):
            pass


@pytest.mark.not_sanitized(reason="ASan's quarantine holds freed memory, so resident memory grows by design")
def test_resident_memory_stops_growing():
    for _ in range(300):  # warm up: allocator pools, caches, interned objects
        one_round()
    gc.collect()
    samples = []
    for _ in range(4):
        for _ in range(500):
            one_round()
        gc.collect()
        samples.append(resident_bytes())
    # Without a leak the samples differ by a few pages at most; a leak of one
    # block of 50 bytes per round would add some 100 kB over the 1500 rounds.
    growth = samples[-1] - samples[0]
    assert growth < 64 * 1024, f"resident memory grew by {growth} bytes over 1500 rounds: {samples}"
