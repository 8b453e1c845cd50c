"""Mining and discovery on a Dask cluster: `mine` and `discover`, for collections that outgrow one machine.

`mine` returns, bit for bit, what `zef.mine` returns on the same series in one
process, while the series stay where Dask keeps them:

1. Each partition is z-normalised and discretised on its worker, one series
   at a time; the words stay there (one task result per partition).
2. Support is counted level by level: each partition finds the occurrences of
   the level's candidates at those of their prefixes (kept on the workers,
   level after level) and sends its count of series per candidate; the client
   adds the counts up (one reduction per level), keeps the frequent patterns
   and joins them into the next level's candidates.
3. The length and redundancy filters run on the client, over patterns only.
4. Mapping, in batches of patterns sized so that what one task sends back
   stays a small share of its partition: the workers send each series'
   positions and average occurrence; the client adds them up into the
   representative in the order in which the one-process engine adds them; in
   the next pass over the partitions (the one of the next batch) the workers
   send each series' best match against it, and the client sums the NAED in
   the same order and ranks the motifs as the engine does.

`discover` returns what `zef.discover` returns on the same series: each
partition is filled, detrended and measured on its worker and stays there;
the engine's candidates come from the mining above, and the candidate
windows, the screening, the refinement and the occurrences run on the
partitions, which send per-series distances and best matches and exact sums
of windows; the client ranks and combines them.

Lost partitions are recomputed by Dask from the task graph (a worker may die
during a run). A partition that fails in any pass, or that gives other values
than at its first read, stops the run with a `PartitionError` that names it,
and the run's tasks and results are released from the cluster.
"""

from zef.dask._discover import discover
from zef.dask._errors import PartitionError
from zef.dask._mine import mine

__all__ = ["PartitionError", "discover", "mine"]
