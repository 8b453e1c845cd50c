"""`zef`: the entry point of the command line, and how its errors end the process."""

from __future__ import annotations

import os
import sys
from collections.abc import Sequence

from zef._validation import thread_count
from zef.cli import _discovery, _mining
from zef.cli._errors import PLOT_INSTALL_HINT, Failure, UsageError
from zef.cli._parser import build_parser, length_given
from zef.io import DataError

__all__ = ["main"]


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line: `zef demo` or `zef find FILE [settings]`.

    Parameters
    ----------
    argv : sequence of str, optional
        The arguments; by default those of the process.

    Returns
    -------
    int
        The exit status (argparse's own exits, 2 for a usage error and 1 for
        the data, end the process through SystemExit).

    Examples
    --------
    >>> from zef.cli import main
    >>> try:
    ...     main(["find", "no-such-file.csv", "--minsup", "0.5", "--seglen", "4", "--alphabet", "3"])
    ... except SystemExit as stop:
    ...     print(stop.code)
    1
    """
    discovery = length_given(list(sys.argv[1:] if argv is None else argv))
    parser = build_parser(discovery)
    args = parser.parse_args(argv)
    out, err = sys.stdout, sys.stderr
    try:
        if getattr(args, "threads", None) is None:
            thread_count()  # a bad ZEF_NUM_THREADS is the user's to mend, not a fault
    except ValueError as error:
        parser.exit(2, f"zef {args.command}: error: {error}\n")
    try:
        if args.command == "demo":
            from zef.cli import _demo, _demo_discovery

            _demo_discovery.run(out)
            print(file=out)
            _demo.run(out)
            return 0
        if discovery:
            return _discovery.find(args, out, err)
        return _mining.find(args, out, err)
    except UsageError as error:
        parser.exit(2, f"zef {args.command}: error: {error}\n")
    except (DataError, Failure) as error:
        parser.exit(1, f"zef {args.command}: error: {error}\n")
    except ImportError as error:
        if error.name == "matplotlib" or (error.name or "").startswith("matplotlib."):
            parser.exit(1, f"zef {args.command}: error: {PLOT_INSTALL_HINT}\n")
        raise
    except KeyboardInterrupt:
        parser.exit(130, "zef: interrupted\n")
    except BrokenPipeError:
        # The reader of the output went away (`zef find ... | head`): say
        # nothing more, and keep Python from failing on the final flush.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
