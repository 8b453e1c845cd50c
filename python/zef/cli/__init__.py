"""The command line: `zef demo` and `zef find FILE`.

Ordinary mistakes (a file that cannot be read, a setting out of range, a
missing optional package) end with one line on stderr that says what to do,
and exit status 2 for the command line itself, 1 for the data.
"""

from zef.cli._main import main

__all__ = ["main"]
