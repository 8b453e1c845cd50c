import pytest

from zef.cli import main


@pytest.fixture
def zef(capsys, monkeypatch, tmp_path):
    """Runs the command line in this process, from tmp_path: (exit status, stdout, stderr)."""
    monkeypatch.chdir(tmp_path)

    def run(*args):
        try:
            code = main([str(a) for a in args])
        except SystemExit as stop:
            code = stop.code
        out, err = capsys.readouterr()
        return code, out, err

    return run
