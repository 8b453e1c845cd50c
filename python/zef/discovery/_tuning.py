"""The fixed settings of discovery's search: how many candidates it takes, how it screens and ranks them."""

__all__ = ["COARSE_POINTS", "ENGINE_SUPPORT", "PLACE_OVERLAP", "SAME_PLACE", "SEEDS_PER_PATTERN"]

#: Candidate shapes taken from each engine pattern (its best matches closest to its representative).
SEEDS_PER_PATTERN = 2
#: Points per shape in the coarse screening of every candidate (block means).
COARSE_POINTS = 32
#: Two motifs are one when, in this share of the series, their best matches
#: overlap by more than PLACE_OVERLAP times the length.
SAME_PLACE = 0.5
PLACE_OVERLAP = 0.25
#: The engine's support threshold, as a share of minsup.
ENGINE_SUPPORT = 1.0
