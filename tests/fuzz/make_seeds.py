"""Writes the seed corpus of the engine's fuzz target into tests/fuzz/corpus.

Each seed is one input in the layout that fuzz_engine.cpp reads: the settings
(seglen, alphabet, minsup, min_len, max_len, max_overlap, k), then the series,
then the words. Run it again after changing the layout:

    python3.12 tests/fuzz/make_seeds.py
"""

import math
import pathlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"

INT_EXTREMES = [-(2**31), -(2**31) + 1, -1000000, -2, -1, 0, 1, 2, 3, 4, 1000000, 2**30, 2**31 - 2, 2**31 - 1]
# The special doubles of fuzz_engine.cpp, in its order.
SPECIALS = ["nan", "-nan", "inf", "-inf", "0", "-0", "denorm", "-denorm", "quarter-min", "min", "max", "-max",
            "1e300", "-1e-300", "1", "0.5"]  # fmt: skip


def integer(value, small_min, small_count):
    """An int setting: an extreme by index, a small value, or the raw 32 bits."""
    if value in INT_EXTREMES:
        return bytes([0, INT_EXTREMES.index(value)])
    if small_min <= value < small_min + small_count:
        return bytes([1, value - small_min])
    return bytes([3]) + struct.pack("<i", value)


def real(value, scale, offset):
    """A double: a small multiple of scale around offset, or its raw 64 bits."""
    steps = (value - offset) / scale if math.isfinite(value) else None
    if steps is not None and steps == int(steps) and -128 <= steps <= 127:
        return bytes([1, int(steps) & 0xFF])
    return bytes([7]) + struct.pack("<d", value)


def special(name):
    return bytes([0, SPECIALS.index(name)])


# The size limits of fuzz_engine.cpp (kMaxSeries, kMaxPoints, kMaxWords, kMaxSymbols).
MAX_SERIES, MAX_POINTS, MAX_WORDS, MAX_SYMBOLS = 4, 16, 4, 12


def seed(seglen=2, alphabet=3, minsup=1.0, min_len=3, max_len=0, max_overlap=0.9, k=0, series=(), words=()):
    assert len(series) <= MAX_SERIES and all(len(values) <= MAX_POINTS for values in series)
    assert len(words) <= MAX_WORDS and all(len(word) <= MAX_SYMBOLS for word in words)
    out = bytearray()
    out += integer(seglen, 1, 8)
    out.append(alphabet + 5)
    out += minsup if isinstance(minsup, bytes) else real(minsup, 1 / 64, 0.5)
    out += integer(min_len, -2, 8)
    out += integer(max_len, -2, 8)
    out += max_overlap if isinstance(max_overlap, bytes) else real(max_overlap, 1 / 64, 0.5)
    out += integer(k, -1, 6)
    out.append(len(series))
    for values in series:
        out.append(len(values))
        for v in values:
            out += v if isinstance(v, bytes) else real(v, 1 / 16, 0.0)
    out.append(len(words))
    for word in words:
        out.append(len(word))
        for symbol in word:
            # Letters a to d by their index; any other byte behind the escape 0xC0.
            out += bytes([ord(symbol) - ord("a")]) if symbol in "abcd" else bytes([0xC0, ord(symbol)])
    return bytes(out)


SHAPE = [0.0, 0.0, 5.0, 5.0, 5.0, 5.0, 0.0, 0.0, 1.0, 1.0, 2.0, 2.0]
SHIFTED = [1.0, 1.0, 2.0, 2.0, 0.0, 0.0, 5.0, 5.0, 5.0, 5.0, 0.0, 0.0]
WORDS = ["abcab", "bcabd", "cabca"]

SEEDS = {
    "readme_example": seed(series=[SHAPE, SHIFTED, SHAPE[:8] + [2.0, 2.0, 1.0, 1.0]], words=WORDS),
    "single_symbols_k2": seed(
        seglen=1,
        min_len=1,
        max_len=1,
        max_overlap=1.0,
        k=2,
        series=[[0.0, 0.5, 0.0, 0.25, 0.0, 0.75]],
        words=["aabbcc"],
    ),
    "nan_inf_denormal_values": seed(
        seglen=1,
        alphabet=10,
        min_len=1,
        series=[
            [special("nan"), special("inf"), special("-inf"), special("denorm"), special("-nan")],
            [special("max"), special("max"), special("-max")],
            [special("quarter-min"), 1.0, special("-0"), special("-denorm"), special("1e300")],
        ],
    ),
    "flat_series_all_nan": seed(seglen=1, min_len=1, series=[[3.0] * 6, [3.0] * 6], words=["aaaa"]),
    "seglen_int_max_min_len_1": seed(seglen=2**31 - 1, min_len=1, series=[SHAPE, SHIFTED]),
    "seglen_int_min": seed(seglen=-(2**31), series=[SHAPE, []], words=WORDS),
    "negative_seglen_empty_series": seed(seglen=-1, series=[[], []]),
    "seglen_zero": seed(seglen=0, series=[[]]),
    "seglen_beyond_series": seed(seglen=1000000, min_len=1, series=[SHAPE, SHIFTED]),
    "alphabet_minus_5": seed(alphabet=-5, series=[SHAPE]),
    "alphabet_15": seed(alphabet=15, series=[SHAPE]),
    "alphabet_0_and_1": seed(alphabet=0, min_len=1, series=[SHAPE, SHIFTED], words=["aaa", "aa"]),
    "minsup_zero_max_len_zero": seed(
        seglen=1,
        minsup=0.0,
        min_len=1,
        max_len=0,
        max_overlap=1.0,
        series=[SHAPE[:10], SHIFTED[:10]],
        words=["abab", "abcdabcd", "dcba"],
    ),
    "minsup_negative": seed(minsup=-1.0, min_len=1, series=[SHAPE], words=["abab"]),
    "minsup_nan_overlap_nan": seed(
        minsup=special("nan"), max_overlap=special("nan"), series=[SHAPE, SHIFTED], words=WORDS
    ),
    "minsup_above_one": seed(minsup=1.5, min_len=1, series=[SHAPE, SHIFTED], words=WORDS),
    "max_overlap_negative": seed(seglen=1, min_len=1, max_overlap=-1.0, series=[SHAPE], words=WORDS),
    "k_minus_1": seed(k=-1, series=[SHAPE, SHIFTED], words=WORDS),
    "k_int_min": seed(k=-(2**31), series=[SHAPE]),
    "k_int_max": seed(k=2**31 - 1, min_len=1, series=[SHAPE, SHIFTED]),
    "max_len_negative": seed(min_len=1, max_len=-1, series=[SHAPE, SHIFTED], words=WORDS),
    "max_len_int_min_min_len_int_max": seed(min_len=2**31 - 1, max_len=-(2**31), series=[SHAPE], words=WORDS),
    "min_len_int_min_max_len_int_max": seed(min_len=-(2**31), max_len=2**31 - 1, series=[SHAPE], words=WORDS),
    "max_len_2": seed(seglen=1, min_len=1, max_len=2, series=[SHAPE, SHIFTED], words=["abcd", "abcd"]),
    "bytes_above_0x7f": seed(min_len=1, max_overlap=1.0, words=["\xe9ab", "\xe9ba", "\x80\xff\x00"]),
    "repeated_symbol_word": seed(seglen=1, min_len=1, words=["aaaaaaaaaaaa", "aaaaaaaa"]),
    "ragged_and_empty_series": seed(seglen=3, min_len=1, series=[[1.0], [], SHAPE, [2.0, 1.0]]),
    "fewer_series_than_stored": seed(
        seglen=1, minsup=0.2, min_len=1, series=[[0.0, 1.0], [1.0, 0.0], [0.0, 1.0], [5.0, 1.0, 2.0]]
    ),
    "empty": b"",
}


def main():
    CORPUS.mkdir(exist_ok=True)
    for old in CORPUS.iterdir():
        old.unlink()
    for name, data in SEEDS.items():
        (CORPUS / name).write_bytes(data)
    print(f"wrote {len(SEEDS)} seeds to {CORPUS}")


if __name__ == "__main__":
    main()
