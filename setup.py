"""Builds scan39's Python extensions with the project's own CMake build.

The version is the CMake project's. Nothing is downloaded: CMake finds Debian's Qt 6, and
pybind11 comes from the installed Python package (python3-pybind11).
"""

import importlib
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

# What the build needs of the interpreter that runs it (the extensions are built for that
# one); Debian's /usr/bin/python3 has them all from Debian's packages. Another python3 first on
# PATH (pyenv, conda) usually lacks some, and would fail far from the cause ("invalid command
# 'bdist_wheel'"): say what to run instead.
NEEDED = {"setuptools": "python3-setuptools", "wheel": "python3-wheel",
          "pybind11": "python3-pybind11", "numpy": "python3-numpy"}
missing = []
for name in NEEDED:
    try:
        importlib.import_module(name)
    except ImportError:
        missing.append(name)
if missing:
    sys.exit(
        f"scan39 cannot be built with {sys.executable}: it lacks {', '.join(missing)}.\n"
        "Build it with Debian's Python, which has them from Debian's packages\n"
        f"(apt install {' '.join(NEEDED[name] for name in missing)} python3-build python3-venv):\n"
        "  /usr/bin/python3 -m venv --system-site-packages ~/scan39-env\n"
        "  ~/scan39-env/bin/python -m pip install --no-build-isolation .\n"
        "or, for a wheel in dist/:\n"
        "  /usr/bin/python3 -m build --no-isolation --wheel")

from setuptools import Extension, setup  # noqa: E402
from setuptools.command.build_ext import build_ext  # noqa: E402

ROOT = Path(__file__).resolve().parent


def cmake_version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(scan39\s+VERSION\s+([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    """Configures the project once and builds the extensions' targets, then copies them."""

    def build_extensions(self):
        import pybind11

        build = Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build),
                     "-DCMAKE_BUILD_TYPE=Release", "-DSCAN39_BUILD_TESTS=OFF",
                     "-DSCAN39_BUILD_BENCH=OFF", f"-DPython3_EXECUTABLE={sys.executable}",
                     f"-Dpybind11_DIR={pybind11.get_cmake_dir()}"]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        if shutil.which("ccache"):  # a second build of the same sources takes seconds
            configure += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "python_package",
                        "--parallel", str(os.cpu_count() or 1)], check=True)
        built = build / "python" / "scan39"
        for ext in self.extensions:
            name = ext.name.rpartition(".")[2]
            found = sorted(built.glob(f"{name}.*.so")) or sorted(built.glob(f"{name}.so"))
            if not found:
                raise RuntimeError(f"the CMake build made no {name} extension in {built}")
            target = Path(self.get_ext_fullpath(ext.name))
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(found[0], target)


(ROOT / "build-python").mkdir(exist_ok=True)

setup(
    version=cmake_version(),
    ext_modules=[Extension("scan39._scan39", sources=[]), Extension("scan39._box", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Out of the way of the CMake build folder (build/).
    options={"build": {"build_base": "build-python"}, "egg_info": {"egg_base": "build-python"}},
)
