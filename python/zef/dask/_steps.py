"""The native steps of the partitioned calls, bound in one place.

Every call of `zef.dask` into the native module goes through these names:
the steps that run on a partition (words, level tables, averages, best
matches, discovery's windows) and those of the client (joins, filters,
ranking, restoring motifs).
"""

from zef._native import dask_averages as averages
from zef._native import dask_bests as bests
from zef._native import dask_discovery_closest as discovery_closest
from zef._native import dask_discovery_coarse_shape as discovery_coarse_shape
from zef._native import dask_discovery_evaluate as discovery_evaluate
from zef._native import dask_discovery_need as discovery_need
from zef._native import dask_discovery_occurrences as discovery_occurrences
from zef._native import dask_discovery_places as discovery_places
from zef._native import dask_discovery_prepare as discovery_prepare
from zef._native import dask_discovery_score as discovery_score
from zef._native import dask_discovery_seeds as discovery_seeds
from zef._native import dask_discovery_shape as discovery_shape
from zef._native import dask_discovery_sums as discovery_sums
from zef._native import dask_extend as extend
from zef._native import dask_finish as finish
from zef._native import dask_first_level as first_level
from zef._native import dask_join as join
from zef._native import dask_rank as rank
from zef._native import dask_redundant as redundant
from zef._native import dask_restore as restore
from zef._native import dask_table_order as table_order
from zef._native import dask_words as words

__all__ = [
    "averages",
    "bests",
    "discovery_closest",
    "discovery_coarse_shape",
    "discovery_evaluate",
    "discovery_need",
    "discovery_occurrences",
    "discovery_places",
    "discovery_prepare",
    "discovery_score",
    "discovery_seeds",
    "discovery_shape",
    "discovery_sums",
    "extend",
    "finish",
    "first_level",
    "join",
    "rank",
    "redundant",
    "restore",
    "table_order",
    "words",
]
