"""Builds the module with the project's CMake build. setuptools and the wheel
package's bdist_wheel pack it, with its type stubs, into one wheel for every
CPython from 3.10 on."""

import os
import pathlib
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


class cmake_build_ext(build_ext):
    """Builds the module target with CMake and installs it stripped."""

    def build_extension(self, ext):
        binary = pathlib.Path(self.build_temp).resolve() / "cmake"
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        jobs = [] if "CMAKE_BUILD_PARALLEL_LEVEL" in os.environ else ["-j", str(self.parallel or os.cpu_count() or 1)]
        for command in (
            ["cmake", "-S", ROOT, "-B", binary, "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DTOVARN_TESTS=OFF",
             f"-DPython3_EXECUTABLE={sys.executable}", "-DTOVARN_INSTALL_PYTHONDIR:STRING=."],
            ["cmake", "--build", binary, "--target", "tovarn_module", *jobs],
            ["cmake", "--install", binary, "--component", "module", "--strip", "--prefix", target.parent],
        ):
            subprocess.run(command, check=True)
        if not target.is_file():
            raise RuntimeError(f"CMake installed no {target.name} in {target.parent}")


setup(
    ext_modules=[Extension("tovarn", sources=[], py_limited_api=True)],
    # A PEP 561 stub-only package: its name is no Python name, so pyproject.toml cannot list it.
    packages=["tovarn-stubs"],
    package_dir={"tovarn-stubs": "src/python/tovarn-stubs"},
    package_data={"tovarn-stubs": ["__init__.pyi"]},
    cmdclass={"build_ext": cmake_build_ext},
    options={
        # ./build is the test build's; keep setuptools' own work apart from it.
        "build": {"build_base": "build-pip"},
        # The module keeps to the stable ABI of CPython 3.10 (Py_LIMITED_API in CMakeLists.txt).
        "bdist_wheel": {"py_limited_api": "cp310"},
    },
)
