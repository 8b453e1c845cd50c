import math

import pytest

from _zef_cpp import sax
from helpers import LENGTH_ERROR


def test_words_hold_one_symbol_per_segment():
    assert sax([[-1.0, 0.0, 1.0]], 1, 3) == [["a", "b", "c"]]
    assert sax(ts=[[-1.0, 0.0, 1.0]], seglen=1, alphabet=3) == [["a", "b", "c"]]
    assert sax([], 1, 3) == []
    assert sax([[], [1.0, 1.0]], 4, 3) == [[], ["c"]]
    # Ten values in segments of three: the last, short segment is averaged over three.
    assert sax([[-1, -1, -1, 0, 0, 0, 1, 1, 1, 3.0]], 3, 3) == [["a", "b", "c", "c"]]


def test_nan_and_infinities_give_symbols():
    assert sax([[math.nan, math.inf, -math.inf]], 1, 10) == [["a", "j", "a"]]


def test_caller_series_are_not_changed():
    series = [[3.0, 1.0, 2.0], [5.0]]
    sax(series, 1, 4)
    assert series == [[3.0, 1.0, 2.0], [5.0]]


def test_any_sequence_of_numbers_converts():
    class Half:
        def __float__(self):
            return 0.5

    assert sax(((-1, 0, 1),), 1, 3) == [["a", "b", "c"]]
    assert sax([range(-1, 2)], 1, 3) == [["a", "b", "c"]]
    assert sax([[Half()]], 1, 3) == [["c"]]


@pytest.mark.parametrize(
    "args",
    [
        ("abc", 1, 3),
        (["abc"], 1, 3),
        ([b"ab"], 1, 3),
        ([[1.0, "x"]], 1, 3),
        ([[1.0]], 1.0, 3),
        ([[1.0]], 1, 3.0),
        ([[1.0]], 2**31, 3),
        ([[1.0]], -(2**31) - 1, 3),
        ([[1.0]], 1, None),
    ],
)
def test_arguments_that_do_not_convert_raise_type_error(args):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        sax(*args)


def test_seglen_without_a_word_length_raises_value_error():
    with pytest.raises(ValueError, match=LENGTH_ERROR):
        sax([[1.0]], 0, 3)
    with pytest.raises(ValueError, match=LENGTH_ERROR):
        sax([[]], 0, 3)
    with pytest.raises(ValueError, match=LENGTH_ERROR):
        sax([[], [1.0]], -1, 3)
    assert sax([[]], -1, 3) == [[]]


@pytest.mark.parametrize("alphabet", [-1, 11, 2**31 - 1])
def test_alphabet_outside_the_table_raises_value_error(alphabet):
    with pytest.raises(ValueError, match=rf"^alphabet must be between 0 and 10, got {alphabet}$"):
        sax([[1.0]], 1, alphabet)
    with pytest.raises(ValueError, match="alphabet must be between 0 and 10"):
        sax([], 1, alphabet)
