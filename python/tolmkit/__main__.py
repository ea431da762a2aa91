"""`python -m tolmkit`: the `tolmkit` command."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
