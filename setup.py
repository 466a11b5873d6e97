"""Builds the module with the project's CMake build and packs it with its type
stubs. The wheel is written here rather than by the `wheel` package, so that a
build without isolation needs nothing but setuptools."""

import base64
import csv
import hashlib
import io
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig
import zipfile

from setuptools import Command, Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
# The module keeps to the stable ABI of CPython 3.10 (Py_LIMITED_API in CMakeLists.txt).
TAG = ("cp310", "abi3", re.sub(r"[-.]", "_", sysconfig.get_platform()))


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


class bdist_wheel(Command):
    """Packs what `build` made into one wheel for every CPython from 3.10 on."""

    description = "build a wheel of the module and its type stubs"
    user_options = [("dist-dir=", "d", "folder to put the wheel in")]

    def initialize_options(self):
        self.dist_dir = None

    def finalize_options(self):
        self.dist_dir = self.dist_dir or "dist"

    def get_tag(self):
        return TAG

    def wheel_text(self):
        return ("Wheel-Version: 1.0\nGenerator: tovarn setup.py\nRoot-Is-Purelib: false\n"
                f"Tag: {'-'.join(TAG)}\n")

    def write_wheelfile(self, dist_info):
        """Called by setuptools' editable_wheel command (which needs the `wheel` package)."""
        pathlib.Path(dist_info, "WHEEL").write_text(self.wheel_text())

    def egg2dist(self, egg_info, dist_info):
        """Called by setuptools' dist_info command to turn egg-info into dist-info."""
        os.makedirs(dist_info, exist_ok=True)
        shutil.copyfile(os.path.join(egg_info, "PKG-INFO"), os.path.join(dist_info, "METADATA"))

    def run(self):
        self.run_command("build")
        self.run_command("egg_info")
        build_lib = pathlib.Path(self.get_finalized_command("build").build_lib)
        built = sorted(pathlib.Path(p) for command in ("build_py", "build_ext")
                       for p in self.get_finalized_command(command).get_outputs())
        name = re.sub(r"[-_.]+", "_", self.distribution.get_name())
        version = self.distribution.get_version()
        dist_info = f"{name}-{version}.dist-info"
        egg_info = pathlib.Path(self.get_finalized_command("egg_info").egg_info)

        files = {p.relative_to(build_lib).as_posix(): (p.read_bytes(), p.stat().st_mode & 0o777) for p in built}
        files[f"{dist_info}/METADATA"] = ((egg_info / "PKG-INFO").read_bytes(), 0o644)
        files[f"{dist_info}/WHEEL"] = (self.wheel_text().encode(), 0o644)
        record = io.StringIO()
        rows = csv.writer(record, lineterminator="\n")
        for arcname, (data, _) in files.items():
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            rows.writerow([arcname, f"sha256={digest}", len(data)])
        rows.writerow([f"{dist_info}/RECORD", "", ""])
        files[f"{dist_info}/RECORD"] = (record.getvalue().encode(), 0o644)

        os.makedirs(self.dist_dir, exist_ok=True)
        path = pathlib.Path(self.dist_dir, f"{name}-{version}-{'-'.join(TAG)}.whl")
        with zipfile.ZipFile(path, "w") as archive:
            for arcname, (data, mode) in files.items():
                info = zipfile.ZipInfo(arcname)  # its fixed date keeps rebuilt wheels alike
                info.external_attr = mode << 16
                archive.writestr(info, data, zipfile.ZIP_DEFLATED)
        print(f"wrote {path}")


setup(
    ext_modules=[Extension("tovarn", sources=[], py_limited_api=True)],
    # A PEP 561 stub-only package: its name is no Python name, so pyproject.toml cannot list it.
    packages=["tovarn-stubs"],
    package_dir={"tovarn-stubs": "src/python/tovarn-stubs"},
    package_data={"tovarn-stubs": ["__init__.pyi"]},
    cmdclass={"build_ext": cmake_build_ext, "bdist_wheel": bdist_wheel},
    # ./build is the test build's; keep setuptools' own work apart from it.
    options={"build": {"build_base": "build-pip"}},
)
