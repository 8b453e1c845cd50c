"""Discovery: the motifs of a given length, or each of its own length, that recur across a collection of series.

`discover(series, length=...)` takes its candidates from the engine (the
frequent SAX patterns of `_zef_cpp`, with settings derived from `length`) and
refines each one at point resolution in native code (`zef._native`): the
candidate's shape is compared with every window of every series by the
z-normalised Euclidean distance, its best match in each series found at any
start point, and the shape re-estimated from its closest matches. Motifs are
ranked by their score, the mean distance of the best matches over the `minsup`
share of the series that match best, smallest first; a motif whose best
matches mostly sit where a better motif's do is dropped.

Over a range of lengths (`length=(lo, hi)`, or no length), each motif is
reported at its own length and ranked against the score that shapes of no
recurring form reach at that length.

Distances are z-normalised Euclidean distances divided by sqrt(length):
sqrt(2 (1 - r)) for a Pearson correlation r, so 0 is the same shape, about 1.41
an unrelated one, and 2 the largest.
"""

from zef._validation import LETTERS, MIN_LENGTH, settings_for
from zef.discovery._gaps import fill_gaps
from zef.discovery._result import DiscoveredMotif, Discovery
from zef.discovery._run import discover

__all__ = ["LETTERS", "MIN_LENGTH", "DiscoveredMotif", "Discovery", "discover", "fill_gaps", "settings_for"]
