"""Motifs in collections of time series.

The classes and the function `sax` come from the native module `_zef_cpp`.
`discover` finds the motifs of a given length at point resolution on top of
them, and `mine` does the work of `Miner.mine` on every core, interruptible and
with progress. The package adds the command line (`python -m zef`, or `zef`),
file reading and plots.
"""

from _zef_cpp import Miner, Motif, PatternMiner, sax
from zef.discovery import DiscoveredMotif, Discovery, discover
from zef.mining import TooManyPatterns, mine

__all__ = [
    "DiscoveredMotif",
    "Discovery",
    "Miner",
    "Motif",
    "PatternMiner",
    "TooManyPatterns",
    "discover",
    "mine",
    "sax",
]
