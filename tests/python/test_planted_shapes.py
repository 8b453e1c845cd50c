from _zef_cpp import Miner
from zef.planted import make_example


def test_planted_shapes_are_found_at_their_planted_positions():
    # Every series holds every shape over a flat, noisy background, so each
    # shape has the same word wherever it was planted.
    series, planted = make_example(n_series=20, step=0.0, noise=0.1, share=1.0, seed=1)
    shape_symbols = len(planted[0].values) // 8
    motifs = Miner(0.5, 8, 5, min_len=shape_symbols, max_len=shape_symbols).mine(series)
    for shape in planted:
        assert len(shape.positions) == 20
        hits = max(sum(m.best_matches.get(s) == pos for s, pos in shape.positions.items()) for m in motifs)
        assert hits >= 14, f"{shape.name} found at its planted position in only {hits} of 20 series"


def test_shapes_of_different_lengths_are_planted_without_overlapping():
    import numpy as np

    from zef.shapes import plant

    rows = [np.zeros(300) for _ in range(30)]
    planted = plant(
        rows, ["bump", "spike", "saw"], [150, 20, 100], prevalence=1.0, height=1.0, rng=np.random.default_rng(4)
    )
    for index in range(len(rows)):
        spans = sorted((p.starts[index], p.starts[index] + p.length) for p in planted)
        assert spans[-1][1] <= 300
        assert all(end <= start for (_, end), (start, _) in zip(spans, spans[1:], strict=False))
