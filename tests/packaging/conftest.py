"""Makes the freshly built module importable."""
import os
import sys

_build = os.environ.get("TESSEL_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
_path = os.path.abspath(os.path.join(_build, "python"))
if _path not in sys.path:
    sys.path.insert(0, _path)
