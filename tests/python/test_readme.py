"""Every example in the README runs as written.

Python blocks run in order, in one scratch directory: those with `>>>` as
doctests, the others as scripts. `console` blocks are commands (`$ ...`) whose
output, stdout and stderr together, must be the lines shown below them; a line
`...` stands for any lines. `sh` blocks only install or run the project's own
commands (pip, make) and are not examples; `text` blocks are templates to fill
in (a script of your own), not examples either.
"""

import doctest
import os
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = (ROOT / "README.md").read_text()
BLOCKS = re.findall(r"^```(\w*)\n(.*?)^```$", README, re.S | re.M)
SETUP = re.compile(r"(python3\.12 -m pip install|make) ")


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


def test_every_readme_example_runs_as_written(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    kinds = [kind for kind, _ in BLOCKS]
    assert kinds.count("python") >= 2 and kinds.count("console") >= 2
    for number, (kind, block) in enumerate(BLOCKS, start=1):
        where = f"README block {number} ({kind})"
        if kind == "python" and ">>>" in block:
            test = doctest.DocTestParser().get_doctest(block, {}, where, str(ROOT / "README.md"), 0)
            runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
            runner.run(test)
            assert runner.summarize(verbose=False).failed == 0, where
        elif kind == "python":
            exec(compile(block, where, "exec"), {"__name__": "__readme__"})
        elif kind == "console":
            run_console(block, tmp_path)
        elif kind == "sh":
            commands = [line.split("#")[0].strip() for line in block.splitlines()]
            assert all(SETUP.match(c) for c in commands if c), f"{where} is not only set-up; run it here"
        elif kind == "text":
            continue
        else:
            raise AssertionError(f"{where}: no way to run a {kind or 'plain'} block")
    # The plot command of the real-data example made its plot, and the README
    # shows the committed copy.
    assert (tmp_path / "stocks.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    for image in re.findall(r"!\[[^\]]*\]\(([^)]+)\)", README):
        assert (ROOT / image).is_file(), image
