import pytest

import _zef_cpp

# Every signature as pybind11 renders it, defaults included. Series stay
# List[List[float]] though buffers are read too.
SIGNATURES = {
    "Motif.pattern": "(arg0: _zef_cpp.Motif) -> str\n",
    "Motif.indexes": "(arg0: _zef_cpp.Motif) -> Dict[int, List[int]]\n",
    "Motif.average_occurrences": "(arg0: _zef_cpp.Motif) -> Dict[int, List[float]]\n",
    "Motif.representative": "(arg0: _zef_cpp.Motif) -> List[float]\n",
    "Motif.best_matches": "(arg0: _zef_cpp.Motif) -> Dict[int, int]\n",
    "Motif.length": "(arg0: _zef_cpp.Motif) -> int\n",
    "Motif.naed": "(arg0: _zef_cpp.Motif) -> float\n",
    "Motif.__repr__": "__repr__(self: _zef_cpp.Motif) -> str\n",
    "Miner.__init__": "__init__(self: _zef_cpp.Miner, minsup: float, seglen: int, alphabet: int, min_len: int = 3,"
    " max_len: int = 0, max_overlap: float = 0.9, k: int = 0) -> None\n",
    "Miner.mine": "mine(self: _zef_cpp.Miner, arg0: List[List[float]]) -> List[_zef_cpp.Motif]\n",
    "Miner.motifs": "(arg0: _zef_cpp.Miner) -> List[_zef_cpp.Motif]\n",
    "PatternMiner.__init__": "__init__(self: _zef_cpp.PatternMiner, minsup: float, min_len: int = 3, max_len: int = 0,"
    " max_overlap: float = 0.9) -> None\n",
    "PatternMiner.mine": "mine(self: _zef_cpp.PatternMiner, arg0: List[List[str]]) -> None\n",
    "PatternMiner.frequent": "(arg0: _zef_cpp.PatternMiner) -> Dict[Tuple[str, ...], _zef_cpp.Motif]\n",
    "sax": "sax(ts: List[List[float]], seglen: int, alphabet: int) -> List[List[str]]\n",
}


def test_module_has_no_docstring_and_registers_its_api_in_order():
    assert _zef_cpp.__name__ == "_zef_cpp"
    assert _zef_cpp.__doc__ is None
    public = [name for name in vars(_zef_cpp) if not name.startswith("__")]
    assert public == ["Motif", "Miner", "PatternMiner", "sax"]


@pytest.mark.parametrize("name", SIGNATURES)
def test_rendered_signatures(name):
    member = _zef_cpp
    for part in name.split("."):
        member = getattr(member, part)
    if isinstance(member, property):
        assert member.fset is None, "read-only"
        member = member.fget
    assert member.__doc__ == SIGNATURES[name]
