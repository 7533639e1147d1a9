"""python -m kestrix.wfm: the wfm command."""

import sys

from .cli import main

sys.exit(main())
