"""Motifs in collections of time series.

The classes and the function come from the native module `_zef_cpp`; this
package adds the command line (`python -m zef`, or `zef`), file reading and
plots around them, and `mine`, which does the work of `Miner.mine` on every
core, interruptible and with progress.
"""

from _zef_cpp import Miner, Motif, PatternMiner, sax
from zef.mining import TooManyPatterns, mine

__all__ = ["Miner", "Motif", "PatternMiner", "sax", "mine", "TooManyPatterns"]
