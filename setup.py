"""Builds the extension module through the project's CMake and packages it with its stub.

The wheel holds the one `tessel_client.abi3.so` (stable ABI, CPython 3.11 and later), the
stub `tessel_client.pyi` beside it and `tessel_client/py.typed`. Type checkers only take a
stub from site-packages when a folder named after the module marks it with py.typed; a folder
without an `__init__` does not shadow the extension at import time.

CMake runs in Release with tests and benchmarks off, in setuptools' build folder, so a second
build (`pip install .` after `pip wheel .`) is incremental. CMAKE_BUILD_PARALLEL_LEVEL and
CMAKE_CXX_COMPILER_LAUNCHER in the environment are honoured as CMake honours them.
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
STUB = ROOT / "tessel_client_py" / "tessel_client.pyi"
PY_TYPED = ROOT / "tessel_client_py" / "py.typed"


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    match = re.search(r"^project\(tessel_client VERSION (\d+\.\d+\.\d+)\b", text, re.MULTILINE)
    if not match:
        raise RuntimeError("no VERSION in the project() line of CMakeLists.txt")
    return match.group(1)


def wheel_command():
    """wheel's bdist_wheel, from the environment or else from the base interpreter's packages.

    A venv made with Debian's `python3 -m venv` holds setuptools but not wheel, which this
    setuptools needs to build any wheel; offline, pip cannot fetch it, so Debian's python3-wheel
    is borrowed from the interpreter the venv was made from. Another interpreter (a pyenv-built
    one, say) has no such package to lend, and the message says so.
    """
    try:
        from wheel.bdist_wheel import bdist_wheel
        return bdist_wheel
    except ImportError:
        pass
    base = getattr(sys, "_base_executable", None) or sys.executable
    found = subprocess.run(
        [base, "-c", "import os, wheel; print(os.path.dirname(wheel.__path__[0]))"],
        capture_output=True, text=True)
    if found.returncode != 0:
        where = sys.executable if base == sys.executable else f"{sys.executable} (a venv of {base})"
        raise RuntimeError(
            f"building needs the wheel package, which {where} cannot import. Debian's python3-wheel "
            "serves /usr/bin/python3 only: make the venv with `/usr/bin/python3 -m venv`, or install "
            f"wheel for {base}")
    # Only wheel itself is taken from there: its submodules load through the package's own path.
    site = found.stdout.strip()
    sys.path.append(site)
    try:
        from wheel.bdist_wheel import bdist_wheel
    finally:
        sys.path.remove(site)
    return bdist_wheel


class CMakeExtension(Extension):
    def __init__(self, name, target):
        super().__init__(name, sources=[], py_limited_api=True)
        self.target = target


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DTESSEL_BUILD_TESTS=OFF",
            "-DTESSEL_BUILD_BENCH=OFF",
            "-DTESSEL_BUILD_PYTHON=ON",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        if shutil.which("ninja") and not (build_dir / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        build = ["cmake", "--build", str(build_dir), "--target", ext.target]
        if self.parallel:
            build += ["--parallel", str(self.parallel)]
        subprocess.run(build, check=True)

        built = build_dir / "python" / "tessel_client.abi3.so"
        destination = pathlib.Path(self.get_ext_fullpath(ext.name))
        destination.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, destination)
        if not self.inplace:
            shutil.copyfile(STUB, destination.parent / "tessel_client.pyi")
            (destination.parent / "tessel_client").mkdir(exist_ok=True)
            shutil.copyfile(PY_TYPED, destination.parent / "tessel_client" / "py.typed")


setup(
    version=project_version(),
    ext_modules=[CMakeExtension("tessel_client", target="tessel_client_py")],
    cmdclass={"build_ext": CMakeBuild, "bdist_wheel": wheel_command()},
    options={
        # setuptools' default build folder would be the CMake build folder developers use.
        "build": {"build_base": "build-py"},
        # One wheel serves every CPython from 3.11 on.
        "bdist_wheel": {"py_limited_api": "cp311"},
    },
    packages=[],
    py_modules=[],
    zip_safe=False,
)
