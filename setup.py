"""The Python package for pip: the compiled module comes from the project's
own CMake build (the target _programma), so that pip installs the code that
the CMake build, its tests and the Debian package have; the Python sources
come from python/programma."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeExtension(Extension):
    """A module that CMake builds: no sources of its own here."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    """Configures a Release build for this interpreter and builds the module."""

    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(
            ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
             "-DPROGRAMMA_REQUIRE_PYTHON=ON", "-DPROGRAMMA_TESTS=OFF", "-DPROGRAMMA_BENCHMARKS=OFF",
             f"-DPython3_EXECUTABLE={sys.executable}"],
            check=True,
        )
        jobs = str(len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 2)
        subprocess.run(["cmake", "--build", str(build), "--target", "_programma", "-j", jobs], check=True)
        built = next((build / "python" / "programma").glob("_programma*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built, target)


VERSION = re.search(r"project\(programma VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())[1]

setup(
    version=VERSION,
    packages=["programma"],
    package_dir={"": "python"},
    ext_modules=[CMakeExtension("programma._programma")],
    cmdclass={"build_ext": CMakeBuild},
)
