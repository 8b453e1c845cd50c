"""Motifs in collections of time series.

The classes and the function come from the native module `_zef_cpp`; this
package adds the command line (`python -m zef`, or `zef`), file reading and
plots around them.
"""

from _zef_cpp import Miner, Motif, PatternMiner, sax

__all__ = ["Miner", "Motif", "PatternMiner", "sax"]
