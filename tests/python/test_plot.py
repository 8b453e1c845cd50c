import math
import struct

import pytest

from helpers import same_values, write_csv
from zef import Miner
from zef.io import Dataset, prepare, znorm
from zef.planted import make_example

plot = pytest.importorskip("zef.plot")


def png_size(path):
    """Width and height of a PNG file, read from its header."""
    head = path.read_bytes()[:24]
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR"
    return struct.unpack(">II", head[16:24])


@pytest.fixture(scope="module")
def mined():
    series, _ = make_example(n_series=8, length=240, step=0.0, noise=0.1, share=1.0, seed=5)
    # The first series starts late: the file holds 7 missing points before it.
    dataset = Dataset([[math.nan] * 7 + series[0]] + series[1:], names=[f"s{i}" for i in range(8)])
    prepared = prepare(dataset.series)
    motifs = Miner(0.5, 8, 5, min_len=8, max_len=8, k=3).mine(prepared.series)
    return dataset, prepared, motifs


def test_lines_carry_the_motifs_values_and_positions(mined):
    dataset, prepared, motifs = mined
    assert len(motifs) == 3
    figure = plot.plot_motifs(dataset, prepared, motifs, 8)
    axes = figure.axes
    assert len(axes) == 2 * len(motifs)
    for row, motif in enumerate(motifs):
        left, right = axes[2 * row], axes[2 * row + 1]
        lines = {line.get_label(): line for line in left.get_lines()}
        assert same_values(lines[plot.REPRESENTATIVE].get_ydata(), motif.representative)
        matches = sorted(motif.best_matches.items())
        assert len(lines) == len(matches) + 1
        for series, start in matches:
            normalised = znorm(prepared.series[series])
            line = lines[plot.match_label(dataset.name(prepared.source[series]))]
            assert same_values(line.get_ydata(), normalised[start : start + motif.length])
        # Right: one grey line for each series and its best match over it, at the file's points.
        placed = right.get_lines()[1::2]
        assert [int(line.get_xdata()[0]) for line in placed] == [prepared.offset[s] + p for s, p in matches]
        assert [tick.get_text() for tick in right.get_yticklabels()] == [
            dataset.name(prepared.source[s]) for s, _ in matches
        ]
    assert prepared.offset[0] == 7 and all(0 in m.best_matches for m in motifs), "the late series is drawn"


def test_plot_files_from_the_command_line(zef, tmp_path, mined):
    dataset, _, _ = mined
    write_csv(tmp_path / "series.csv", [["" if math.isnan(v) else repr(v) for v in s] for s in dataset.series])
    settings = ["--minsup", "0.5", "--seglen", "8", "--alphabet", "5", "--min_len", "8", "--max_len", "8"]
    code, _, err = zef("find", "series.csv", *settings, "--k", "3", "--plot", "three.png")
    assert code == 0 and "plot written to three.png" in err
    width, height = png_size(tmp_path / "three.png")
    assert width == 1300 and 900 <= height <= 1000
    # More motifs than a plot can show: the best ten are drawn.
    code, _, err = zef("find", "series.csv", *settings, "--min_len", "4", "--plot", "many.png")
    assert code == 0 and "the plot shows the best 10 of" in err
    assert png_size(tmp_path / "many.png")[1] == 100 * (0.6 + 3.1 * 10)
    code, _, err = zef(
        "find", "series.csv", *settings, "--minsup", "1", "--min_len", "30", "--max_len", "0", "--plot", "none.png"
    )
    assert code == 0 and "no motif found" in err
    assert png_size(tmp_path / "none.png") == (1300, 370)
