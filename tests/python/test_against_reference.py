"""The whole pipeline against a plain, independent Python model of it.

The model mines by scanning every substring of every word instead of growing
patterns level by level, and maps motifs with explicit loops. Sums are taken
with explicit left-to-right loops: the built-in `sum` of Python 3.12 is
compensated and would not give the same bits.
"""

import math
import random

import pytest

from _zef_cpp import Miner, PatternMiner, sax

BREAKPOINTS = [
    [], [], [0.0], [-0.43, 0.43], [-0.67, 0.0, 0.67], [-0.84, -0.25, 0.25, 0.84],
    [-0.97, -0.43, 0.0, 0.43, 0.97], [-1.07, -0.57, -0.18, 0.18, 0.57, 1.07],
    [-1.15, -0.67, -0.32, 0.0, 0.32, 0.67, 1.15], [-1.22, -0.76, -0.43, -0.14, 0.14, 0.43, 0.76, 1.22],
    [-1.28, -0.84, -0.52, -0.25, 0.0, 0.25, 0.52, 0.84, 1.28],
]  # fmt: skip


def total(values):
    result = 0.0
    for v in values:
        result += v
    return result


def znorm(series):
    if not series:
        return []
    n = float(len(series))
    mean = total(series) / n
    centred = [v - mean for v in series]
    sd = math.sqrt(total(c * c for c in centred) / n)
    return [c / sd if sd else (math.nan if c == 0 else math.copysign(math.inf, c)) for c in centred]


def word(series, seglen, alphabet):
    segments = math.ceil(len(series) / seglen)
    return [
        chr(ord("a") + sum(total(series[i * seglen : (i + 1) * seglen]) / seglen > b for b in BREAKPOINTS[alphabet]))
        for i in range(segments)
    ]


def mine_patterns(words, minsup, min_len, max_len, max_overlap):
    threshold = max(len(words) * minsup, 1)
    longest = 1 if max_len < 0 else max_len or max((len(w) for w in words), default=0)
    found = {}
    for s, w in enumerate(words):
        for n in range(1, min(longest, len(w)) + 1):
            for p in range(len(w) - n + 1):
                found.setdefault(tuple(w[p : p + n]), {}).setdefault(s, []).append(p)
    frequent = {key: occ for key, occ in found.items() if len(occ) >= threshold}
    # Frequency is anti-monotone, but the level-wise search also stops above an empty level.
    lengths = sorted({len(k) for k in frequent})
    top = next((n - 1 for n in range(1, (lengths[-1] if lengths else 0) + 2) if n not in lengths), 0)
    frequent = {k: v for k, v in frequent.items() if len(k) <= top}

    survivors = sorted((k for k in frequent if len(k) >= min_len), key=lambda k: (-len(k), k))
    removed = []
    for p in survivors:
        if p in removed:
            continue
        for s in survivors:
            if len(p) < len(s) or s == p or s in removed:
                continue
            if lcs(p, s) / len(s) > max_overlap:
                removed.append(s)
    return {k: frequent[k] for k in sorted(survivors) if k not in removed}


def lcs(a, b):
    table = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(1, len(a) + 1):
        for j in range(1, len(b) + 1):
            table[i][j] = table[i - 1][j - 1] + 1 if a[i - 1] == b[j - 1] else max(table[i][j - 1], table[i - 1][j])
    return table[-1][-1]


def nan_mean(values):
    present = [v for v in values if not math.isnan(v)]
    return total(present) / len(present) if present else math.nan


def map_motif(indexes, symbols, series, seglen):
    length = seglen * symbols

    def occurrence(s, p):
        points = series[s][p * seglen : p * seglen + length]
        return points + [math.nan] * (length - len(points))

    averages = {
        s: [nan_mean(col) for col in zip(*(occurrence(s, p) for p in ps), strict=False)] for s, ps in indexes.items()
    }
    mu = [nan_mean(col) for col in zip(*averages.values(), strict=False)]
    representative = [0.0] * length
    for _ in averages:
        representative = [m / len(averages) + r for m, r in zip(mu, representative, strict=False)]
    best_matches, naed = {}, 0.0
    for s, ps in indexes.items():
        best, best_p = 1000000.0, 0
        for p in ps:
            d = math.sqrt(
                total((o - r) ** 2 for o, r in zip(occurrence(s, p), representative, strict=False) if not math.isnan(o))
            )
            if d < best:
                best, best_p = d, p
        naed += best
        best_matches[s] = best_p * seglen
    return averages, representative, best_matches, naed / (len(indexes) * length)


def close(a, b):
    return (math.isnan(a) and math.isnan(b)) or math.isclose(a, b, rel_tol=1e-9, abs_tol=1e-9)


def random_case(rng):
    series = []
    for _ in range(rng.randint(1, 6)):
        values = [rng.choice([rng.gauss(0, 1), float(rng.randint(-2, 2))]) for _ in range(rng.randint(0, 24))]
        if values and rng.random() < 0.05:
            values[rng.randrange(len(values))] = math.nan
        series.append(values)
    settings = dict(
        minsup=rng.choice([-0.5, 0.0, 0.3, 0.5, 2 / 3, 1.0]),
        seglen=rng.randint(1, 4),
        alphabet=rng.randint(2, 5),
        min_len=rng.randint(0, 4),
        max_len=rng.choice([-1, 0, 0, 1, 2, 3, 5]),
        max_overlap=rng.choice([0.0, 0.5, 0.9, 1.0]),
    )
    return series, settings


@pytest.mark.parametrize("seed", range(300))
def test_pipeline_matches_the_reference_model(seed):
    series, settings = random_case(random.Random(seed))
    normalised = [znorm(s) for s in series]
    words = [word(s, settings["seglen"], settings["alphabet"]) for s in normalised]
    assert sax(normalised, settings["seglen"], settings["alphabet"]) == words

    expected = mine_patterns(
        words, settings["minsup"], settings["min_len"], settings["max_len"], settings["max_overlap"]
    )
    pattern_miner = PatternMiner(settings["minsup"], settings["min_len"], settings["max_len"], settings["max_overlap"])
    pattern_miner.mine(words)
    frequent = pattern_miner.frequent
    assert list(frequent) == list(expected)
    assert {k: m.indexes for k, m in frequent.items()} == expected

    motifs = Miner(**settings).mine(series)
    assert sorted(m.pattern for m in motifs) == sorted("".join(k) for k in expected)
    naeds = [m.naed for m in motifs]
    assert all(a <= b for a, b in zip(naeds, naeds[1:], strict=False))
    for motif in motifs:
        key = tuple(motif.pattern)
        averages, representative, best_matches, naed = map_motif(
            expected[key], len(key), normalised, settings["seglen"]
        )
        assert motif.length == settings["seglen"] * len(key)
        assert close(motif.naed, naed)
        assert all(map(close, motif.representative, representative)) and len(motif.representative) == motif.length
        assert motif.average_occurrences.keys() == averages.keys()
        for s, avg in averages.items():
            assert all(map(close, motif.average_occurrences[s], avg))
        assert motif.best_matches == best_matches
