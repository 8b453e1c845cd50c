"""Every example in the README and on the documentation site runs as written.

Each page's blocks run in order, in one scratch directory per page: Python
blocks with `>>>` as doctests, the others as scripts. `console` blocks are
commands (`$ ...`) whose output, stdout and stderr together, must be the lines
shown below them; a line `...` stands for any lines. Plots (`.. plot::` in an
`{eval-rst}` block) run as scripts and must draw a figure: the site draws them
when it is built. `sh` blocks only install or run the project's own commands
(pip, make) and are not examples; `text` blocks are templates to fill in (a
script of your own), not examples either; the `auto*` directives and the
table of contents are generated, not examples.
"""

import doctest
import os
import pathlib
import re
import subprocess
import sys
import textwrap

import matplotlib
import pytest

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
DOCS = ROOT / "docs"
PAGES = [ROOT / "README.md", *sorted(DOCS.glob("*.md"))]
BLOCK = re.compile(r"^```(\S*)[^\n]*\n(.*?)^```$", re.S | re.M)
SETUP = re.compile(r"(python3\.12 -m pip install|make) ")
NOT_EXAMPLES = {"{toctree}", "{autofunction}", "{autoclass}", "{autoexception}"}


def blocks(page):
    return BLOCK.findall(page.read_text(encoding="utf-8"))


def expected_output(lines):
    """A pattern for the shown output, `...` lines matching any lines."""
    return "".join(r"(?:.*\n)*?" if line == "..." else re.escape(line) + "\n" for line in lines)


def run_console(block, cwd):
    env = {**os.environ, "PATH": f"{pathlib.Path(sys.executable).parent}{os.pathsep}{os.environ['PATH']}"}
    env["PYTHONUNBUFFERED"] = "1"
    commands = re.split(r"^\$ ", block, flags=re.M)[1:]
    assert commands, "a console block starts with a command"
    for command in commands:
        line, *shown = command.rstrip("\n").split("\n")
        done = subprocess.run(
            ["bash", "-c", line], cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True
        )
        assert done.returncode == 0, f"{line}\n{done.stdout}"
        assert re.fullmatch(expected_output(shown), done.stdout), f"{line}: the output differs:\n{done.stdout}"


def plot_code(block, where):
    """The code of a plot directive, which is all that an `{eval-rst}` block may hold."""
    head, _, body = block.partition("\n\n")
    assert head.startswith(".. plot::"), f"{where}: an eval-rst block holds one plot"
    assert all(line.startswith("   :") for line in head.splitlines()[1:]), f"{where}: {head}"
    return textwrap.dedent(body)


def run_plot(code, where, monkeypatch):
    # The benchmark plots read the pages' data through docs/benchmark_data.py.
    monkeypatch.syspath_prepend(str(DOCS))
    plt.close("all")
    try:
        exec(compile(code, where, "exec"), {"__name__": "__docs__"})
        assert plt.get_fignums(), f"{where} draws no figure"
    finally:
        plt.close("all")


@pytest.mark.parametrize("page", PAGES, ids=lambda page: page.name)
def test_every_example_runs_as_written(page, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    # A page's Python blocks share their names, as a reader running them in turn would.
    names = {"__name__": "__docs__"}
    for number, (kind, block) in enumerate(blocks(page), start=1):
        where = f"{page.name} block {number} ({kind})"
        if kind == "python" and ">>>" in block:
            test = doctest.DocTestParser().get_doctest(block, names, where, str(page), 0)
            runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
            runner.run(test, clear_globs=False)
            names.update(test.globs)
            assert runner.summarize(verbose=False).failed == 0, where
        elif kind == "python":
            exec(compile(block, where, "exec"), names)
        elif kind == "console":
            run_console(block, tmp_path)
        elif kind == "{eval-rst}":
            run_plot(plot_code(block, where), where, monkeypatch)
        elif kind == "sh":
            commands = [line.split("#")[0].strip() for line in block.splitlines()]
            assert all(SETUP.match(c) for c in commands if c), f"{where} is not only set-up; run it here"
        elif kind == "text" or kind in NOT_EXAMPLES:
            continue
        else:
            raise AssertionError(f"{where}: no way to run a {kind or 'plain'} block")
    if page.name == "cli.md":
        # The plot command of the real-data example made its plot.
        assert (tmp_path / "stocks.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_the_site_shows_every_kind_of_example():
    kinds = [kind for page in PAGES for kind, _ in blocks(page)]
    assert kinds.count("python") >= 2 and kinds.count("console") >= 2 and kinds.count("{eval-rst}") >= 2


def test_every_relative_link_and_image_is_there():
    # Sphinx checks the links of the site when it builds it; the README is not part of it.
    for page in PAGES:
        text = page.read_text(encoding="utf-8")
        for target in re.findall(r"\]\(([^)#]+)(?:#[^)]*)?\)", text):
            if "://" not in target:
                assert (page.parent / target).exists(), f"{page.name}: {target}"
