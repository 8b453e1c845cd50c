"""A SeriesSet given as a float64 buffer is read from the buffer; everything
else goes through the ordinary conversion. Either way the engine sees the same
values, and what the ordinary conversion refuses stays refused."""

import array
import math
import struct
import subprocess
import sys

import numpy as np
import pytest

import _zef_cpp
from zef.planted import make_example


class Plain:
    """The same items as a sequence without the buffer protocol: the ordinary conversion."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]


def ordinary(value):
    """`value` without the buffer protocol at the two levels that the buffer path reads
    (the set and its rows), the items of the rows left as they are."""

    def sequence(item):
        return isinstance(item, (list, tuple, array.array, memoryview)) or (
            isinstance(item, np.ndarray) and item.ndim >= 1
        )

    if not sequence(value):
        return value
    return Plain([Plain(list(row)) if sequence(row) else row for row in value])


def bits(x):
    return struct.pack("<d", x)


def motif_state(motif):
    return (
        motif.pattern,
        list(motif.indexes.items()),
        [(s, [bits(v) for v in values]) for s, values in motif.average_occurrences.items()],
        [bits(v) for v in motif.representative],
        list(motif.best_matches.items()),
        motif.length,
        bits(motif.naed),
    )


def outcome(call):
    """The result of a call, or the type of the exception (and its text unless it is the
    binding layer's TypeError, whose text shows the arguments as given)."""
    try:
        return ("ok", call())
    except TypeError as error:
        assert "incompatible function arguments" in str(error)
        return ("TypeError",)
    except Exception as error:  # noqa: BLE001 - every other failure is compared as it is
        return (type(error).__name__, str(error))


def sax_outcome(ts, seglen=2, alphabet=4):
    return outcome(lambda: _zef_cpp.sax(ts, seglen, alphabet))


def mine_outcome(ts, **settings):
    settings = {"minsup": 0.5, "seglen": 2, "alphabet": 3, "min_len": 2, **settings}
    return outcome(lambda: [motif_state(m) for m in _zef_cpp.Miner(**settings).mine(ts)])


@pytest.fixture(scope="module")
def walks():
    series, _ = make_example(n_series=40, length=240, seglen=8, noise=0.05, seed=3)
    return np.array(series)


def test_mine_gives_identical_motifs_for_lists_and_arrays(walks):
    settings = dict(minsup=0.5, seglen=8, alphabet=4, min_len=4, max_len=10)
    from_lists = _zef_cpp.Miner(**settings).mine(walks.tolist())
    from_array = _zef_cpp.Miner(**settings).mine(walks)
    from_rows = _zef_cpp.Miner(**settings).mine(list(walks))
    assert from_lists, "the planted shapes must be found"
    assert [motif_state(m) for m in from_array] == [motif_state(m) for m in from_lists]
    assert [motif_state(m) for m in from_rows] == [motif_state(m) for m in from_lists]


def test_sax_gives_identical_words_for_lists_and_arrays(walks):
    for seglen in (1, 3, 8, 13, 240, 1000):
        expected = _zef_cpp.sax(walks.tolist(), seglen, 5)
        assert _zef_cpp.sax(walks, seglen, 5) == expected
        assert _zef_cpp.sax(list(walks), seglen, 5) == expected
        assert _zef_cpp.sax(memoryview(walks), seglen, 5) == expected
        assert _zef_cpp.sax([array.array("d", row) for row in walks.tolist()], seglen, 5) == expected


def test_the_callers_array_is_left_alone(walks):
    before = walks.copy()
    _zef_cpp.Miner(0.5, 8, 4).mine(walks)
    _zef_cpp.Miner(0.5, 8, 4).mine(list(walks))
    assert np.array_equal(walks, before)


def test_nan_and_infinities_come_through(walks):
    data = walks[:6].copy()
    data[0, 5] = math.nan
    data[1, :] = 2.5
    data[2, 7] = math.inf
    assert mine_outcome(data) == mine_outcome(data.tolist())
    assert sax_outcome(data) == sax_outcome(data.tolist())


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda a: a[:, ::2], id="strided columns"),
        pytest.param(lambda a: a[::2], id="strided rows"),
        pytest.param(lambda a: np.asfortranarray(a), id="fortran order"),
        pytest.param(lambda a: a.T, id="transposed"),
        pytest.param(lambda a: a.astype(np.float32), id="float32"),
        pytest.param(lambda a: np.round(a * 10).astype(np.int64), id="int64"),
        pytest.param(lambda a: a.astype(">f8"), id="big-endian float64"),
        pytest.param(lambda a: a.astype(np.complex128), id="complex"),
        pytest.param(lambda a: a.astype(object), id="object"),
        pytest.param(lambda a: a[0], id="1-D top level"),
        pytest.param(lambda a: a.reshape(4, 3, -1), id="3-D"),
        pytest.param(lambda a: a.reshape(12, -1, 1), id="3-D with a last axis of 1"),
        pytest.param(lambda a: a[:0], id="no series"),
        pytest.param(lambda a: a[:, :0], id="empty series"),
        pytest.param(lambda a: np.float64(1.5), id="scalar"),
        pytest.param(lambda a: [a[0], a[1, :7].tolist(), a[2, :3]], id="ragged rows, arrays and a list"),
        pytest.param(lambda a: [a[0], 1.0], id="an array and a number"),
        pytest.param(lambda a: [a[0], "abc"], id="an array and a str"),
        pytest.param(lambda a: (a[0], a[1]), id="a tuple of arrays"),
        pytest.param(lambda a: [a[0].astype(np.float32), a[1]], id="a float32 row"),
        pytest.param(lambda a: [a[0, ::3], a[1]], id="a strided row"),
        pytest.param(lambda a: [a[:2], a[2]], id="a 2-D row"),
    ],
)
def test_other_inputs_behave_as_the_ordinary_conversion(walks, make):
    data = make(walks[:12, :24].copy())
    assert sax_outcome(data) == sax_outcome(ordinary(data))
    assert mine_outcome(data) == mine_outcome(ordinary(data))


def test_ragged_lists_of_arrays_equal_the_lists(walks):
    rows = [walks[0], walks[1, :100], walks[2, :17], walks[3, :0]]
    assert sax_outcome(rows) == sax_outcome([row.tolist() for row in rows])
    assert mine_outcome(rows) == mine_outcome([row.tolist() for row in rows])


def test_an_unaligned_buffer_is_read_byte_for_byte():
    values = [0.5, -1.25, 3.0, 2.0, -0.75, 1.0]
    raw = bytearray(1) + bytearray(struct.pack(f"<{len(values)}d", *values))
    unaligned = memoryview(raw)[1:].cast("d", shape=[2, 3])
    assert _zef_cpp.sax(unaligned, 1, 4) == _zef_cpp.sax([values[:3], values[3:]], 1, 4)


def test_the_module_does_not_import_numpy():
    code = "import sys, _zef_cpp; _zef_cpp.sax([[1.0, 2.0]], 1, 3); sys.exit('numpy' in sys.modules)"
    assert subprocess.run([sys.executable, "-c", code], check=False).returncode == 0
