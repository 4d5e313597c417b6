"""Makes the freshly built module (and the test-only frame probe) importable."""
import os
import sys

_build = os.environ.get("TESSEL_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
for sub in ("python", "python_probe"):
    path = os.path.abspath(os.path.join(_build, sub))
    if path not in sys.path:
        sys.path.insert(0, path)
