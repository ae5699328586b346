"""``python -m tavik.amazon_rufus``: see :mod:`tavik.amazon_rufus.cli`."""

import sys

from tavik.amazon_rufus.cli import main

sys.exit(main(prog="python -m tavik.amazon_rufus"))
