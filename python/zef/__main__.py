"""`python -m zef`: the command line."""

import sys

from zef.cli import main

__all__ = []

if __name__ == "__main__":
    sys.exit(main())
