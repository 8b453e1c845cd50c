import pytest

from _zef_cpp import Motif

PROPERTIES = ["pattern", "indexes", "average_occurrences", "representative", "best_matches", "length", "naed"]


def test_motif_cannot_be_constructed_from_python():
    with pytest.raises(TypeError, match=r"^_zef_cpp\.Motif: No constructor defined!$"):
        Motif()


def test_properties_are_read_only_and_registered_in_order():
    names = [name for name in vars(Motif) if not name.startswith("_")]
    assert names == PROPERTIES
    assert list(vars(Motif)).index("__repr__") > list(vars(Motif)).index("naed")
    docs = {name: getattr(Motif, name).fget.__doc__ for name in PROPERTIES}
    assert docs == {
        "pattern": "(arg0: _zef_cpp.Motif) -> str\n",
        "indexes": "(arg0: _zef_cpp.Motif) -> Dict[int, List[int]]\n",
        "average_occurrences": "(arg0: _zef_cpp.Motif) -> Dict[int, List[float]]\n",
        "representative": "(arg0: _zef_cpp.Motif) -> List[float]\n",
        "best_matches": "(arg0: _zef_cpp.Motif) -> Dict[int, int]\n",
        "length": "(arg0: _zef_cpp.Motif) -> int\n",
        "naed": "(arg0: _zef_cpp.Motif) -> float\n",
    }
    assert all(getattr(Motif, name).fset is None for name in PROPERTIES)
    assert Motif.__repr__.__doc__ == "__repr__(self: _zef_cpp.Motif) -> str\n"
