import math

import numpy as np
import pytest

from helpers import same_values, write_csv
from zef import Miner
from zef.io import DataError, _read, prepare, read_series, znorm

NAN = math.nan


def test_csv_rows_header_names_and_missing_cells(tmp_path):
    path = write_csv(
        tmp_path / "rows.csv",
        [
            ['# measured by hand, with "quotes" that are not CSV'],
            ["label", "t0", "t1", "t2", "t3"],
            ["first", 1.0, "", 3.0, "NA"],
            ["second", "2", " nan ", "n/a", "-4.5e1"],
        ],
    )
    got = read_series(str(path), skip_columns=1)
    assert got.names == ["first", "second"]
    assert got.point_labels == ["t0", "t1", "t2", "t3"]
    assert same_values(got.series[0], [1.0, NAN, 3.0, NAN])
    assert same_values(got.series[1], [2.0, NAN, NAN, -45.0])


def test_csv_columns_pad_short_rows_and_label_points(tmp_path):
    path = write_csv(
        tmp_path / "cols.csv",
        [["date", "a", "b", "c"], ["d0", 1.0, 2.0], ["d1", "", 5.0, 6.0], ["d2", "", "", ""], ["d3", 7.0]],
    )
    got = read_series(str(path), columns=True, skip_columns=1)
    assert got.names == ["a", "b", "c"]
    assert got.point_labels == ["d0", "d1", "d2", "d3"]
    assert same_values(got.series[0], [1.0, NAN, NAN, 7.0])
    assert same_values(got.series[1], [2.0, 5.0, NAN, NAN])
    assert same_values(got.series[2], [NAN, 6.0, NAN, NAN])
    assert got.name(1) == "b" and got.point_label(2) == "d2" and got.point_label(9) is None


def test_windows_line_ends_and_a_byte_order_mark_are_read(tmp_path):
    path = tmp_path / "excel.csv"
    path.write_bytes("\ufeffname;x;y\r\nfirst;1,5;2\r\n".replace(",", ".").encode())
    got = read_series(str(path), skip_columns=1)
    assert got.names == ["first"] and got.point_labels == ["x", "y"] and got.series == [[1.5, 2.0]]


def test_delimiter_is_guessed_or_given(tmp_path):
    rows = [[1.5, 2.0, 3.0], [4.0, "", 6.0]]
    expected = [[1.5, 2.0, 3.0], [4.0, NAN, 6.0]]
    for name, delimiter in (("semi.csv", ";"), ("tabs.tsv", "\t"), ("tabs.csv", "\t"), ("comma.csv", ",")):
        got = read_series(str(write_csv(tmp_path / name, rows, delimiter)))
        assert all(same_values(a, b) for a, b in zip(got.series, expected, strict=False)), name
    # Other delimiters are only read right when given.
    path = tmp_path / "pipes.csv"
    path.write_text("1|2|3\n4|5|6\n")
    assert read_series(str(path), delimiter="|").series == [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]]
    with pytest.raises(DataError, match=r"line 2, column 1: '4\|5\|6' is not a number"):
        read_series(str(path))


def test_text_files_hold_one_series_per_line(tmp_path):
    path = tmp_path / "series.txt"
    path.write_text("# two series\n1 2   3\n\n  4\tNaN 6 7\n")
    got = read_series(str(path))
    assert got.names is None and got.point_labels is None
    assert same_values(got.series[0], [1.0, 2.0, 3.0]) and same_values(got.series[1], [4.0, NAN, 6.0, 7.0])
    path.write_text("1,2,3\n")
    with pytest.raises(DataError, match=r"use --format csv"):
        read_series(str(path))
    assert read_series(str(path), fmt="csv").series == [[1.0, 2.0, 3.0]]


def test_npy_arrays_rows_columns_and_one_series(tmp_path):
    table = np.array([[9.0, 1.0, np.nan, 3.0], [9.0, 4.0, 5.0, 6.0]])
    np.save(tmp_path / "t.npy", table)
    rows = read_series(str(tmp_path / "t.npy"), skip_columns=1)
    assert same_values(rows.series[0], [1.0, NAN, 3.0]) and rows.series[1] == [4.0, 5.0, 6.0]
    columns = read_series(str(tmp_path / "t.npy"), columns=True)
    assert len(columns.series) == 4 and columns.series[1] == [1.0, 4.0]
    np.save(tmp_path / "one.npy", np.arange(5, dtype=np.int32))
    assert read_series(str(tmp_path / "one.npy")).series == [[0.0, 1.0, 2.0, 3.0, 4.0]]


@pytest.mark.parametrize(
    "content, message",
    [
        ("1,2,3\n4,x,6\n", r"bad\.csv, line 2, column 2: 'x' is not a number$"),
        (
            "2020-01-01,1,2\n",
            r"line 1, column 1: '2020-01-01' is not a number \(if column 1 holds .* --skip-columns 1\)",
        ),
        ("1,inf,3\n", r"line 1, column 2: 'inf' is infinite"),
        ("# nothing but a comment\n\n", r"holds no series"),
        ("a,b,c\n", r"holds no series, only a line of words read as a header: 'a b c'"),
    ],
)
def test_cells_that_are_not_numbers_are_named_with_their_place(tmp_path, content, message):
    path = tmp_path / "bad.csv"
    path.write_text(content)
    with pytest.raises(DataError, match=message):
        read_series(str(path))


def test_unreadable_files_give_a_message_not_a_traceback(tmp_path):
    with pytest.raises(DataError, match=r"no such file"):
        read_series(str(tmp_path / "absent.csv"))
    with pytest.raises(DataError, match=r"is a directory"):
        read_series(str(tmp_path))
    (tmp_path / "image.csv").write_bytes(b"\x89PNG\r\n\x1a\n\xff\xfe\x00\x00")
    with pytest.raises(DataError, match=r"not a text file"):
        read_series(str(tmp_path / "image.csv"))
    (tmp_path / "text.npy").write_text("1,2,3\n")
    with pytest.raises(DataError, match=r"not a NumPy \.npy file"):
        read_series(str(tmp_path / "text.npy"))
    np.save(tmp_path / "objects.npy", np.array([[1.0], "x"], dtype=object), allow_pickle=True)
    with pytest.raises(DataError, match=r"holds Python objects"):
        read_series(str(tmp_path / "objects.npy"))
    np.save(tmp_path / "cube.npy", np.zeros((2, 2, 2)))
    with pytest.raises(DataError, match=r"3 dimensions"):
        read_series(str(tmp_path / "cube.npy"))
    np.save(tmp_path / "words.npy", np.array(["a", "b"]))
    with pytest.raises(DataError, match=r"not numbers"):
        read_series(str(tmp_path / "words.npy"))


def test_large_files_report_progress(tmp_path, monkeypatch, capsys):
    import sys

    path = tmp_path / "big.csv"
    path.write_text("\n".join(",".join(str(i + j) for j in range(50)) for i in range(3000)) + "\n")
    monkeypatch.setattr(_read, "PROGRESS_BYTES", 1000)
    got = read_series(str(path), progress=sys.stderr)
    assert len(got.series) == 3000
    lines = capsys.readouterr().err.splitlines()
    assert lines[0].startswith(f"reading {path}: 0% of 0.") and lines[-1].startswith(f"reading {path}: 100%")
    assert len(lines) <= 5, "a stream that is not a terminal gets a line every quarter"
    monkeypatch.setattr(_read, "PROGRESS_BYTES", path.stat().st_size + 1)
    read_series(str(path), progress=sys.stderr)
    assert capsys.readouterr().err == ""


def test_prepare_fills_gaps_trims_ends_and_sets_aside_shapeless_series():
    series = [
        [NAN, NAN, 1.0, NAN, NAN, 4.0, 2.0, NAN],
        [NAN, NAN],
        [],
        [3.0, NAN, 3.0],
        [NAN, 5.0, NAN],
        [0.0, 1.0],
    ]
    got = prepare(series)
    assert got.series == [[1.0, 2.0, 3.0, 4.0, 2.0], [0.0, 1.0]]
    assert got.source == [0, 5] and got.offset == [2, 0]
    assert got.filled == 2 and got.trimmed == 3
    assert got.dropped == {1: "no values", 2: "no points", 3: "constant", 4: "one value only"}
    assert got.position(0, 3) == (0, 5) and got.position(1, 1) == (5, 1)
    assert series[0][3] != series[0][3], "the series as read keep their missing points"


@pytest.mark.parametrize(
    "values",
    [
        [0.1, 0.7, 0.3, 2.5, -1.0, 0.2, 0.9],
        [2.0, 2.0],  # flat: 0 / 0 everywhere
        [0.0, 1e-200, -1e-200],  # squares that vanish: 0 / 0, then an infinity of each sign
    ],
)
def test_znorm_gives_the_values_the_miner_works_on(values):
    # A pattern as long as the word occurs once, so its average occurrence is
    # the whole normalised series.
    (motif,) = Miner(1.0, 1, 3, min_len=len(values), max_len=len(values)).mine([values])
    assert same_values(motif.average_occurrences[0], znorm(values), tol=0.0)


def test_znorm_of_a_short_series():
    assert znorm([1.0, 2.0, 3.0]) == [-1.224744871391589, 0.0, 1.224744871391589]
    assert znorm([0.0, 1e-200, -1e-200])[1:] == [math.inf, -math.inf]
