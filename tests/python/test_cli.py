import json
import math
import pathlib
import subprocess
import sys

import numpy as np
import pytest

from helpers import write_csv
from zef import Miner
from zef.planted import make_example

SETTINGS = ["--minsup", "0.5", "--seglen", "8", "--alphabet", "5", "--min_len", "8", "--max_len", "8"]
ZEF_SCRIPT = pathlib.Path(sys.executable).with_name("zef")


@pytest.fixture(scope="module")
def planted():
    """Twelve flat noisy series of 240 points, each holding three shapes of 64 points."""
    series, shapes = make_example(n_series=12, length=240, step=0.0, noise=0.1, share=1.0, seed=3)
    return series, shapes


def direct(series, **settings):
    """What the library gives for the same series and settings, as the JSON output shows it."""
    options = {"min_len": 8, "max_len": 8, **settings}
    motifs = Miner(options.pop("minsup", 0.5), options.pop("seglen", 8), options.pop("alphabet", 5), **options).mine(
        series
    )
    return [(m.pattern, sorted(m.best_matches.items())) for m in motifs]


def from_json(out):
    return [(m["pattern"], [(b["series"], b["start"]) for b in m["best_matches"]]) for m in json.loads(out)["motifs"]]


def test_find_reports_exactly_what_the_miner_finds(zef, tmp_path, planted):
    series, shapes = planted
    write_csv(tmp_path / "planted.csv", series)
    code, out, err = zef("find", "planted.csv", *SETTINGS, "--json")
    assert (code, err) == (0, "")
    result = json.loads(out)
    assert result["settings"] == {
        "minsup": 0.5,
        "seglen": 8,
        "alphabet": 5,
        "min_len": 8,
        "max_len": 8,
        "max_overlap": 0.9,
        "k": 0,
    }
    assert [s["points"] for s in result["series"]] == [240] * 12 and all(s["mined"] for s in result["series"])
    assert from_json(out) == direct(series)
    motifs = result["motifs"]
    assert [m["rank"] for m in motifs] == list(range(1, len(motifs) + 1))
    assert [m["naed"] for m in motifs] == sorted(m["naed"] for m in motifs)
    # Every planted shape is the best match of most series in some motif.
    for shape in shapes:
        hits = max(sum((b["series"], b["start"]) in shape.positions.items() for b in m["best_matches"]) for m in motifs)
        assert hits >= 9, shape.name
    first = motifs[0]
    assert len(first["representative"]) == first["length"] == 64
    assert all(b["end"] == b["start"] + 64 for b in first["best_matches"])
    for occurrence in first["occurrences"]:
        assert all(start % 8 == 0 for start in occurrence["starts"])


def test_columns_names_dates_and_missing_points_keep_the_files_positions(zef, tmp_path, planted):
    series, _ = planted
    # Series 0 starts 5 points late and has a gap; series 1 ends 3 points early.
    shifted = [[math.nan] * 5 + series[0][:150] + [math.nan] * 2 + series[0][152:]] + [list(s) for s in series[1:]]
    shifted[1][-3:] = [math.nan] * 3
    names = [f"s{i}" for i in range(12)]
    rows = [["when", *names]]
    for point in range(245):
        cells = [f"day{point}"]
        for values in shifted:
            cells.append("" if point >= len(values) or math.isnan(values[point]) else repr(values[point]))
        rows.append(cells)
    write_csv(tmp_path / "columns.csv", rows)
    code, out, err = zef("find", "columns.csv", "--columns", "--skip-columns", "1", *SETTINGS, "--json")
    assert code == 0
    assert "2 missing points inside series filled on a straight line" in err
    # 5 before series 0, 3 after series 1, and 5 blank cells after each of the 11 series shorter than the file.
    assert f"{5 + 3 + 11 * 5} missing points at the ends of series left out" in err
    result = json.loads(out)
    assert [s["name"] for s in result["series"]] == names
    assert result["series"][0]["missing"] == 7
    # Mined as the miner sees them: trimmed, gap filled on a straight line.
    filled = series[0][:150] + [series[0][149] + (series[0][152] - series[0][149]) * i / 3 for i in (1, 2)]
    expected = direct([filled + series[0][152:]] + [s[:-3] if i == 1 else s for i, s in enumerate(series[1:], 1)])
    shifted_expected = [(p, [(s, start + 5 if s == 0 else start) for s, start in m]) for p, m in expected]
    assert from_json(out) == shifted_expected
    labels = {b["start_label"] for m in result["motifs"] for b in m["best_matches"]}
    assert labels and all(label.startswith("day") for label in labels)

    code, table, _ = zef("find", "columns.csv", "--columns", "--skip-columns", "1", *SETTINGS, "--k", "2")
    lines = table.splitlines()
    assert lines[0] == "columns.csv: 12 series of 245 points, 12 mined"
    assert lines[1] == "Miner(minsup=0.5, seglen=8, alphabet=5, min_len=8, max_len=8, max_overlap=0.9, k=2)"
    assert lines[2] == "2 motifs, ranked by NAED (smallest first):"
    rank_lines = [line for line in lines if line[:4].strip().isdigit()]
    assert len(rank_lines) == 2
    first_pattern, first_matches = shifted_expected[0]
    assert rank_lines[0].split()[1] == first_pattern
    series_index, start = first_matches[0]
    assert f"s{series_index}:day{start}" in rank_lines[0]


def test_row_and_column_layouts_and_formats_agree(zef, tmp_path, planted):
    series, _ = planted
    write_csv(tmp_path / "rows.csv", series)
    write_csv(tmp_path / "cols.tsv", list(zip(*series, strict=False)), delimiter="\t")
    (tmp_path / "rows.txt").write_text("\n".join(" ".join(repr(v) for v in s) for s in series) + "\n")
    np.save(tmp_path / "cols.npy", np.array(series).T)
    write_csv(tmp_path / "semi.data", series, delimiter=";")
    runs = [
        ("rows.csv",),
        ("cols.tsv", "--columns"),
        ("rows.txt",),
        ("cols.npy", "--columns"),
        ("semi.data", "--format", "csv"),
        ("semi.data", "--format", "csv", "--delimiter", ";"),
    ]
    results = []
    for run in runs:
        code, out, err = zef("find", *run, *SETTINGS, "--json")
        assert (code, err) == (0, ""), run
        results.append(from_json(out))
    assert all(result == results[0] for result in results)


@pytest.mark.parametrize(
    "options, settings",
    [
        (["--min-len", "6", "--max-len", "9"], {"min_len": 6, "max_len": 9}),
        (["--max_overlap", "0.5", "--k", "2"], {"max_overlap": 0.5, "k": 2}),
        (
            ["--alphabet", "3", "--seglen", "16", "--min_len", "4", "--max_len", "0"],
            {"alphabet": 3, "seglen": 16, "min_len": 4, "max_len": 0},
        ),
        (["--minsup", "1.0", "-k", "1"], {"minsup": 1.0, "k": 1}),
    ],
)
def test_every_setting_reaches_the_miner(zef, tmp_path, planted, options, settings):
    series, _ = planted
    write_csv(tmp_path / "planted.csv", series)
    code, out, _ = zef("find", "planted.csv", *SETTINGS, *options, "--json")
    assert code == 0
    assert json.loads(out)["settings"] == {
        **{"minsup": 0.5, "seglen": 8, "alphabet": 5, "min_len": 8, "max_len": 8, "max_overlap": 0.9, "k": 0},
        **settings,
    }
    assert from_json(out) == direct(series, **settings)


def test_nothing_found_is_said_plainly(zef, tmp_path):
    write_csv(tmp_path / "two.csv", [[0.0, 1.0, 0.0, 1.0, 0.0, 1.0], [5.0, 4.0, 3.0, 2.0, 1.0, 0.0]])
    code, out, err = zef("find", "two.csv", "--minsup", "1", "--seglen", "1", "--alphabet", "4", "--min_len", "5")
    assert code == 0
    assert out.splitlines()[-1] == "0 motifs, ranked by NAED (smallest first)"
    assert "no motif found: try a lower --minsup or --min_len" in err
    code, out, _ = zef(
        "find", "two.csv", "--minsup", "1", "--seglen", "1", "--alphabet", "4", "--min_len", "5", "--json"
    )
    assert json.loads(out)["motifs"] == []


@pytest.mark.parametrize(
    "options, message",
    [
        (["--minsup", "0"], "--minsup must be above 0 and at most 1"),
        (["--minsup", "1.5"], "--minsup must be above 0 and at most 1"),
        (["--minsup", "nan"], "--minsup must be above 0 and at most 1"),
        (["--seglen", "0"], "--seglen must be between 1 and 2147483647, not 0"),
        (["--seglen", "3000000000"], "--seglen must be between 1 and 2147483647"),
        (["--seglen", "500"], "--seglen 500 is longer than the longest series (240 points)"),
        (["--alphabet", "11"], "--alphabet must be between 2 and 10, not 11"),
        (["--alphabet", "1"], "--alphabet must be between 2 and 10, not 1"),
        (["--min_len", "0"], "--min_len must be between 1 and 2147483647, not 0"),
        (["--max_len", "-1"], "--max_len must be between 0 and 2147483647, not -1"),
        (["--max_len", "5"], "--max_len must be 0 (no limit) or at least --min_len (8), not 5"),
        (["--max_overlap", "1.2"], "--max_overlap must be between 0 and 1, not 1.2"),
        (["--k", "-1"], "--k must be between 0 and 2147483647, not -1"),
        (["--skip-columns", "-2"], "--skip-columns must be 0 or more"),
        (["--delimiter", ";;"], "--delimiter must be one character"),
        (["--plot", "missing-dir/out.png"], "--plot: the directory"),
        (["--plot", "out.pdf"], "--plot writes a PNG file"),
        (["--seglen", "eight"], "argument --seglen: invalid int value: 'eight'"),
        (["--format", "xlsx"], "argument --format: invalid choice: 'xlsx'"),
        (["--threads", "0"], "--threads must be 1 or more, not 0"),
        (["--max-patterns", "0"], "--max_patterns must be 1 or more, not 0"),
    ],
)
def test_bad_settings_are_refused_with_a_message(zef, tmp_path, planted, options, message):
    write_csv(tmp_path / "planted.csv", planted[0])
    code, out, err = zef("find", "planted.csv", *SETTINGS, *options)
    assert code == 2 and out == ""
    assert message in err and "Traceback" not in err


def test_threads_and_the_pattern_limit(zef, tmp_path, planted, monkeypatch):
    series, _ = planted
    write_csv(tmp_path / "planted.csv", series)
    code, out, _ = zef("find", "planted.csv", *SETTINGS, "--threads", "2", "--json")
    assert code == 0 and from_json(out) == direct(series)
    code, out, err = zef("find", "planted.csv", *SETTINGS, "--max-patterns", "1")
    assert code == 1 and out == ""
    assert "mining found more than 1 frequent patterns; raise --minsup" in err
    code, _, err = zef("find", "planted.csv", "--length", "64", "--max_patterns", "1")
    assert code == 1 and "mining found more than 1 frequent patterns" in err
    monkeypatch.setenv("ZEF_NUM_THREADS", "many")
    for command in (["demo"], ["find", "planted.csv", *SETTINGS]):
        code, out, err = zef(*command)
        assert code == 2 and out == "" and "ZEF_NUM_THREADS must be a whole number" in err


def test_required_settings_are_named(zef):
    code, _, err = zef("find", "any.csv", "--seglen", "4")
    assert code == 2
    assert "the following arguments are required: --minsup, --alphabet" in err


@pytest.mark.parametrize(
    "name, content, message",
    [
        ("absent.csv", None, "absent.csv: no such file"),
        ("blob.csv", b"\x00\x01\xff\xfe", "blob.csv: not a text file"),
        ("words.csv", b"a,b\nc,d\n", "words.csv, line 2, column 1: 'c' is not a number"),
        ("flat.csv", b"1,1,1\n,,\n", "flat.csv: no series left to mine (every one is empty or constant)"),
        ("fake.npy", b"1 2 3\n", "fake.npy: not a NumPy .npy file"),
    ],
)
def test_bad_files_are_refused_with_a_message(zef, tmp_path, name, content, message):
    if content is not None:
        (tmp_path / name).write_bytes(content)
    code, out, err = zef("find", name, "--minsup", "0.5", "--seglen", "1", "--alphabet", "3")
    assert code == 1 and out == ""
    last = err.splitlines()[-1]
    assert last.startswith("zef find: error: ") and message in last and "Traceback" not in err


def test_series_set_aside_are_named(zef, tmp_path, planted):
    rows = [["name"] + [""] * 240, ["flat"] + ["2.5"] * 240] + [
        [f"p{i}"] + [repr(v) for v in s] for i, s in enumerate(planted[0])
    ]
    write_csv(tmp_path / "named.csv", rows)
    code, out, err = zef("find", "named.csv", "--skip-columns", "1", *SETTINGS, "--json")
    assert code == 0
    assert "series name left out: no values" in err and "series flat left out: constant" in err
    assert "1 missing point" not in err
    result = json.loads(out)
    assert [s["mined"] for s in result["series"][:3]] == [False, False, True]
    assert result["series"][1]["left_out"] == "constant"
    assert {b["series"] for m in result["motifs"] for b in m["best_matches"]} <= set(range(2, 14))


def test_an_unwritable_plot_is_refused_with_a_message(zef, tmp_path):
    write_csv(tmp_path / "two.csv", [[0.0, 1.0, 0.0, 1.0, 0.0, 1.0], [5.0, 4.0, 3.0, 2.0, 1.0, 0.0]])
    (tmp_path / "taken.png").mkdir()
    code, _, err = zef("find", "two.csv", "--minsup", "1", "--seglen", "1", "--alphabet", "3", "--plot", "taken.png")
    assert code == 1 and err.splitlines()[-1].startswith("zef find: error: cannot write taken.png: ")


def test_series_that_share_a_name_are_shown_by_index(zef, tmp_path, planted):
    rows = [["class", *[f"t{i}" for i in range(240)]]]
    rows += [[str(1 + i % 2)] + [repr(v) for v in s] for i, s in enumerate(planted[0])]
    rows[3][7] = ""
    write_csv(tmp_path / "classes.csv", rows)
    code, out, err = zef("find", "classes.csv", "--skip-columns", "1", *SETTINGS, "--k", "1")
    assert code == 0 and err == "1 missing point inside series filled on a straight line\n"
    shown = [match.split(":")[0] for match in out.splitlines()[5].split()[5:11]]
    assert len(set(shown)) == 6, "each series once, by index, not by its class 1 or 2"
    code, out, _ = zef("find", "classes.csv", "--skip-columns", "1", *SETTINGS, "--json")
    assert [s["name"] for s in json.loads(out)["series"][:3]] == ["1", "2", "1"]


def test_missing_optional_packages_are_named_before_any_work(zef, tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    code, _, err = zef("find", "absent.csv", "--minsup", "0.5", "--seglen", "1", "--alphabet", "3", "--plot", "x.png")
    assert code == 1
    assert "drawing plots needs matplotlib" in err and "pip install .[plot]" in err
    monkeypatch.setitem(sys.modules, "numpy", None)
    np.save(tmp_path / "a.npy", np.zeros((2, 3)))
    code, _, err = zef("find", "a.npy", "--minsup", "0.5", "--seglen", "1", "--alphabet", "3")
    assert code == 1 and "reading .npy files needs NumPy, which is not installed: pip install numpy" in err


def test_demo_and_the_installed_commands(zef):
    code, out, _ = zef("demo")
    assert code == 0
    assert out.startswith("Discovery: 30 drifting walks of 1000 points")
    assert "\n30 random walks of 480 points, three shapes of 64 points planted in each\n" in out
    assert out.count("recovered by motif") == 3 and out.count(" points: its best matches hold the shape") == 2
    module = subprocess.run([sys.executable, "-m", "zef", "demo"], capture_output=True, text=True, check=True)
    assert module.stdout == out
    script = subprocess.run([ZEF_SCRIPT, "find", "--help"], capture_output=True, text=True, check=True)
    for option in ("--columns", "--skip-columns", "--minsup", "--min_len", "--max_overlap", "--json", "--plot"):
        assert option in script.stdout
    bare = subprocess.run([ZEF_SCRIPT], capture_output=True, text=True)
    assert bare.returncode == 2 and "required: COMMAND" in bare.stderr
