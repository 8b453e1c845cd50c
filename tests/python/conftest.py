import os
import pathlib
import signal

import pytest

from zef.cli import main

# The sanitizer stage (scripts/sanitize.sh) sets ZEF_SANITIZED to the folder of
# the module built with ASan and UBSan, and preloads the ASan runtime.
SANITIZED = os.environ.get("ZEF_SANITIZED", "")


def pytest_configure(config):
    config.addinivalue_line(
        "markers",
        "not_sanitized(reason): skipped in the sanitizer stage, for the reason given "
        "(too slow there, or measuring what ASan changes, such as resident memory)",
    )
    if SANITIZED:
        import _zef_cpp

        loaded = pathlib.Path(_zef_cpp.__file__).resolve().parent
        if loaded != pathlib.Path(SANITIZED).resolve():
            raise pytest.UsageError(f"the sanitizer stage loaded {_zef_cpp.__file__}, not the module in {SANITIZED}")
        from zef import _native

        if pathlib.Path(_native.__file__).resolve().parent != pathlib.Path(SANITIZED).resolve() / "zef":
            raise pytest.UsageError(f"the sanitizer stage loaded {_native.__file__}, not the module in {SANITIZED}/zef")


def pytest_collection_modifyitems(config, items):
    if not SANITIZED:
        return
    for item in items:
        marker = item.get_closest_marker("not_sanitized")
        if marker is not None:
            reason = marker.kwargs.get("reason") or (marker.args[0] if marker.args else "")
            item.add_marker(pytest.mark.skip(reason=f"sanitizer stage: {reason}"))


try:
    from hypothesis import HealthCheck, settings
except ImportError:  # hypothesis is in requirements-dev.txt; the property tests need it
    pass
else:
    # Fewer examples under ASan, which runs every example several times slower;
    # in CI the examples are derived from the test alone, so that a run can be
    # repeated exactly.
    common = dict(deadline=None, database=None, print_blob=True, suppress_health_check=[HealthCheck.too_slow])
    settings.register_profile("default", max_examples=150, **common)
    settings.register_profile("ci", max_examples=150, derandomize=True, **common)
    settings.register_profile("sanitized", max_examples=40, derandomize=True, **common)
    settings.load_profile("sanitized" if SANITIZED else "ci" if os.environ.get("CI") else "default")


@pytest.fixture
def ctrl_c():
    """Ctrl-C raises KeyboardInterrupt, as in a terminal, even when the tests were started with SIGINT
    ignored (a job started in the background with `&` inherits that, and interrupt_main then does nothing)."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    yield
    signal.signal(signal.SIGINT, previous)


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
