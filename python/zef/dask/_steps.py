"""The native steps of the partitioned calls, bound in one place.

Every call of `zef.dask` into the native module goes through these names:
the steps that run on a partition (words, level tables, averages, best
matches, discovery's windows) and those of the client (joins, filters,
ranking, restoring motifs), with the miner's own refusals (too many
patterns, a mapping beyond memory, sizes no list holds).
"""

from zef._native.partitioned import (
    averages,
    bests,
    check_mapping_fits,
    check_pattern_count,
    discovery_closest,
    discovery_coarse_shape,
    discovery_evaluate,
    discovery_need,
    discovery_occurrences,
    discovery_places,
    discovery_prepare,
    discovery_score,
    discovery_seeds,
    discovery_shape,
    discovery_sums,
    extend,
    finish,
    first_level,
    frequent,
    join,
    occurrence_length,
    rank,
    redundant,
    restore,
    returned_count,
    table_order,
    words,
)

__all__ = [
    "averages",
    "bests",
    "check_mapping_fits",
    "check_pattern_count",
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
    "frequent",
    "join",
    "occurrence_length",
    "rank",
    "redundant",
    "restore",
    "returned_count",
    "table_order",
    "words",
]
