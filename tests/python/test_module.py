import _zef_cpp


def test_module_has_no_docstring_and_registers_its_api_in_order():
    assert _zef_cpp.__name__ == "_zef_cpp"
    assert _zef_cpp.__doc__ is None
    public = [name for name in vars(_zef_cpp) if not name.startswith("__")]
    assert public == ["Motif", "Miner", "PatternMiner", "sax"]


def test_sax_signature_names_its_arguments_and_types():
    assert _zef_cpp.sax.__doc__ == "sax(ts: List[List[float]], seglen: int, alphabet: int) -> List[List[str]]\n"
