"""Runs the package's tests with pytest; exit 77 (skipped) where pytest or numpy is missing."""
import sys

try:
    import numpy  # noqa: F401
    import pytest
except ImportError as missing:
    print(f"python tests skipped: {missing.name} is not installed (python3-pytest, python3-numpy)")
    sys.exit(77)

sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", sys.argv[1]]))
