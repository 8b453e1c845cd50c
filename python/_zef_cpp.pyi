# Types of the native module _zef_cpp. The module converts its arguments on
# the way in: any sequence (not a str or bytes) serves where a list is shown,
# an int serves for a float, and a symbol is a str of one character below
# U+0100 or one byte. Every property and result is a new object.

from typing import Dict, List, Never, Sequence, Tuple, Union

# One symbol on the way in: a one-character str (code point below 0x100), or
# a bytes or bytearray object of one byte.
_Symbol = Union[str, bytes, bytearray]

# The metaclass of pybind11's classes (pybind11_builtins.pybind11_type, which
# cannot be imported).
class _pybind11_type(type): ...

class Motif(metaclass=_pybind11_type):
    # Motif objects come only from Miner and PatternMiner: calling Motif()
    # raises TypeError.
    def __init__(self, *args: Never, **kwargs: Never) -> None: ...
    @property
    def pattern(self) -> str: ...
    @property
    def indexes(self) -> Dict[int, List[int]]:
        """Series index -> the symbol positions where the pattern starts in that series' word."""
    @property
    def average_occurrences(self) -> Dict[int, List[float]]:
        """Series index -> the point-wise average of that series' occurrences."""
    @property
    def representative(self) -> List[float]: ...
    @property
    def best_matches(self) -> Dict[int, int]:
        """Series index -> the point where that series' occurrence closest to the representative starts."""
    @property
    def length(self) -> int:
        """Points covered by one occurrence: seglen times the pattern's symbols."""
    @property
    def naed(self) -> float:
        """Normalised average Euclidean distance of the best matches to the representative."""
    def __repr__(self) -> str: ...

class Miner(metaclass=_pybind11_type):
    def __init__(
        self,
        minsup: float,
        seglen: int,
        alphabet: int,
        min_len: int = 3,
        max_len: int = 0,
        max_overlap: float = 0.9,
        k: int = 0,
    ) -> None: ...
    def mine(self, arg0: Sequence[Sequence[float]], /) -> List[Motif]:
        """Z-normalises a copy of the series, mines, maps and ranks; the best k motifs (all for k 0)."""
    @property
    def motifs(self) -> List[Motif]:
        """Every motif that the mine calls so far have found, ranked by NAED."""

class PatternMiner(metaclass=_pybind11_type):
    def __init__(self, minsup: float, min_len: int = 3, max_len: int = 0, max_overlap: float = 0.9) -> None: ...
    def mine(self, arg0: Sequence[Sequence[_Symbol]], /) -> None:
        """Mines the words; each word is a sequence of symbols, never a str."""
    @property
    def frequent(self) -> Dict[Tuple[str, ...], Motif]:
        """Pattern (a tuple of one-character strings) -> its Motif, in ascending pattern order."""

def sax(ts: Sequence[Sequence[float]], seglen: int, alphabet: int) -> List[List[str]]:
    """Each series (not normalised) as a word of one-character strings, one per segment of seglen points."""
