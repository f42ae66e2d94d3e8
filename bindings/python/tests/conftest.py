"""The package from this source tree when none is installed."""
import os
import sys

try:
    import kestrix  # noqa: F401
except ImportError:
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
