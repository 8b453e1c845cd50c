"""`python -m zef`: the command line."""

import sys

from zef.cli import main

if __name__ == "__main__":
    sys.exit(main())
