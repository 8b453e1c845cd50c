"""The fixed settings of discovery's search: how many candidates it takes, how it screens and ranks them."""

__all__ = [
    "CHANCE_SHAPES",
    "LENGTH_STEPS",
    "MOST_CANDIDATES_OVER_RANGE",
    "ENGINE_SUPPORT",
    "JOIN_CELLS",
    "JOIN_COUNT",
    "JOIN_PAIRS",
    "MERGE_APART",
    "MOST_CANDIDATES",
    "PLACE_OVERLAP",
    "SAME_PLACE",
    "SAMPLE_FEWEST",
    "SAMPLE_POINTS",
    "SEEDS_PER_PATTERN",
    "SURVIVORS",
]

#: Candidate shapes taken from each engine pattern (its best matches closest to its representative).
SEEDS_PER_PATTERN = 2
#: Candidates cut from one series less than this share of the length apart are one.
MERGE_APART = 0.125
#: At most this many candidates are screened: the engines' best patterns first.
MOST_CANDIDATES = 200
#: Every candidate is first compared, point by point, with a sample of the
#: series holding about this many points (at least SAMPLE_FEWEST series) ...
SAMPLE_POINTS = 8000
SAMPLE_FEWEST = 4
#: ... and the best SURVIVORS of them, at distinct places, with every series.
SURVIVORS = 40
#: Exact joins: series of the sample compared window by window in pairs (the
#: first with the second, the third with the fourth, ...), at most JOIN_PAIRS
#: pairs and JOIN_CELLS pairs of windows in all; each pair gives its JOIN_COUNT
#: closest pairs of windows as candidates, whatever their detail.
JOIN_PAIRS = 4
JOIN_COUNT = 1
JOIN_CELLS = 4_000_000
#: Two motifs are one when, in this share of the series, their best matches
#: overlap by more than PLACE_OVERLAP times the length.
SAME_PLACE = 0.5
PLACE_OVERLAP = 0.25
#: The engine's support threshold, as a share of minsup.
ENGINE_SUPPORT = 1.0
#: Over a range of lengths: at most this many candidates are screened (they
#: come at many lengths); CHANCE_SHAPES shapes of no recurring form measure the
#: chance score at each of a few lengths; a motif takes at most LENGTH_STEPS
#: steps of about 12 % in length.
MOST_CANDIDATES_OVER_RANGE = 200
CHANCE_SHAPES = 4
LENGTH_STEPS = 4
