"""The module as a user installs it: the wheel pip builds from the checkout, its
install into a fresh venv of every CPython from 3.10 on found here, its type
stubs read by mypy, the sdist, CMake's install rules and the version CMake takes
from pyproject.toml."""

import base64
import csv
import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import textwrap
import zipfile

import pytest

import tovarn
from support import REPO, xform

NAME = f"tovarn-{tovarn.__version__}"
PLATFORM = re.sub(r"[-.]", "_", sysconfig.get_platform())
DIST_INFO = f"{NAME}.dist-info"


def clean_env():
    """The environment without what points a child at the build tree or preloads
    the sanitizers, so that the installed module is the one imported."""
    drop = {"PYTHONPATH", "PYTHONHOME", "VIRTUAL_ENV", "LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "TOVARN_BUILD"}
    return {k: v for k, v in os.environ.items() if k not in drop}


def run(command, cwd=None, timeout=900):
    return subprocess.run([str(c) for c in command], cwd=cwd, env=clean_env(), capture_output=True, text=True,
                          timeout=timeout)


def interpreters():
    """CPython 3.10 and later, each once: /usr/bin's, those on PATH and, where
    PATH holds pyenv's shims, every version pyenv has."""
    folders = [pathlib.Path("/usr/bin")]
    for entry in os.environ.get("PATH", "").split(os.pathsep):
        folder = pathlib.Path(entry)
        folders.append(folder)
        if folder.name == "shims" and (folder.parent / "versions").is_dir():
            folders.extend(sorted((folder.parent / "versions").glob("*/bin")))
    found = {}
    for folder in folders:
        for path in sorted(folder.glob("python3.*")):
            match = re.fullmatch(r"python3\.(\d+)", path.name)
            if not match or int(match[1]) < 10:
                continue
            probe = run([path, "-c", "import os, sys; print(sys.implementation.name,"
                                     " '%d.%d' % sys.version_info[:2], os.path.realpath(sys.executable))"],
                        timeout=60)
            if probe.returncode != 0:
                continue  # a pyenv shim for a version that is not selected
            implementation, version, real = probe.stdout.split(maxsplit=2)
            if implementation == "cpython":
                found.setdefault(real.strip(), (version, pathlib.Path(real.strip())))
    return sorted(found.values(), key=lambda found: tuple(map(int, found[0].split("."))))


@pytest.fixture(scope="session")
def wheel(tmp_path_factory):
    """The wheel that `pip wheel` builds from the checkout, offline."""
    if run([sys.executable, "-m", "pip", "--version"]).returncode != 0:
        pytest.skip(f"pip is not installed for {sys.executable}")
    out = tmp_path_factory.mktemp("wheel")
    built = run([sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "--no-index",
                 "-w", out, REPO])
    assert built.returncode == 0, built.stdout[-3000:] + built.stderr[-3000:]
    wheels = list(out.glob("*.whl"))
    assert [w.name for w in wheels] == [f"{NAME}-cp310-abi3-{PLATFORM}.whl"]
    return wheels[0]


@pytest.fixture(scope="session")
def install(wheel, tmp_path_factory):
    """Installs the wheel into a fresh venv of the interpreter; returns the venv's python."""
    venvs = {}

    def install(python):
        if python in venvs:
            return venvs[python]
        venv = tmp_path_factory.mktemp("venv")
        made = run([python, "-m", "venv", "--clear", "--without-pip", "--system-site-packages", venv])
        if made.returncode != 0 or run([venv / "bin" / "python", "-m", "pip", "--version"]).returncode != 0:
            # The interpreter has no pip of its own to lend: give the venv one.
            made = run([python, "-m", "venv", "--clear", venv])
        if made.returncode != 0:
            pytest.skip(f"no venv can be made with {python}: {made.stderr.strip()[-300:]}")
        installed = run([venv / "bin" / "python", "-m", "pip", "install", "--no-index", "--no-deps",
                         "--ignore-installed", wheel])
        assert installed.returncode == 0, installed.stdout[-3000:] + installed.stderr[-3000:]
        venvs[python] = venv / "bin" / "python"
        return venvs[python]

    return install


def test_wheel_holds_the_stripped_module_and_the_stubs(wheel):
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        files = {name: archive.read(name) for name in names}
    assert sorted(names) == sorted(["tovarn.abi3.so", "tovarn-stubs/__init__.pyi", f"{DIST_INFO}/METADATA",
                                    f"{DIST_INFO}/WHEEL", f"{DIST_INFO}/RECORD", f"{DIST_INFO}/top_level.txt"])
    module = files["tovarn.abi3.so"]
    assert b".symtab" not in module and b".debug_info" not in module
    assert b"libre2.so" in module  # linked dynamically
    assert files["tovarn-stubs/__init__.pyi"] == (REPO / "src/python/tovarn-stubs/__init__.pyi").read_bytes()
    assert f"Tag: cp310-abi3-{PLATFORM}\n" in files[f"{DIST_INFO}/WHEEL"].decode()
    metadata = files[f"{DIST_INFO}/METADATA"].decode()
    assert "\nName: tovarn\n" in metadata and f"\nVersion: {tovarn.__version__}\n" in metadata
    assert "\nRequires-Python: >=3.10\n" in metadata


def test_wheel_record_lists_every_file_with_its_hash(wheel):
    with zipfile.ZipFile(wheel) as archive:
        rows = list(csv.reader(archive.read(f"{DIST_INFO}/RECORD").decode().splitlines()))
        assert sorted(row[0] for row in rows) == sorted(archive.namelist())
        for name, digest, size in rows:
            if name == f"{DIST_INFO}/RECORD":
                assert (digest, size) == ("", "")
                continue
            data = archive.read(name)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert (digest, size) == (f"sha256={expected}", str(len(data))), name


CALL = """
import importlib.metadata, sys, tovarn
print(tovarn.__file__)
print(importlib.metadata.version("tovarn"))
print(tovarn.eval_expression("count(/data/member) + 1", "<data><member/><member/></data>"))
"""


@pytest.mark.parametrize("version, python", interpreters(), ids=lambda v: str(v))
def test_installed_module_runs_under(install, tmp_path, version, python):
    venv_python = install(python)
    done = run([venv_python, "-c", CALL], cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    where, installed, result = done.stdout.splitlines()
    venv = venv_python.parent.parent
    assert pathlib.Path(where).is_relative_to(venv), where
    assert (installed, result) == (tovarn.__version__, "3")


def test_sdist_holds_what_the_build_reads(tmp_path):
    built = run([sys.executable, "-c", f"from setuptools import build_meta; build_meta.build_sdist({str(tmp_path)!r})"],
                cwd=REPO)
    assert built.returncode == 0, built.stderr[-3000:]
    (sdist,) = tmp_path.glob("*.tar.gz")
    with tarfile.open(sdist) as archive:
        members = {pathlib.PurePosixPath(m.name).relative_to(NAME).as_posix() for m in archive.getmembers() if m.isfile()}
    needed = {"CMakeLists.txt", "pyproject.toml", "setup.py", "README.md"}
    needed |= {p.relative_to(REPO).as_posix() for p in (REPO / "src").rglob("*") if p.is_file()}
    assert needed - members == set()


@pytest.fixture
def build_dir():
    build = os.environ.get("TOVARN_BUILD")
    if not build:
        pytest.skip("TOVARN_BUILD does not name the CMake build folder")
    return pathlib.Path(REPO, build)


def test_cmake_install_puts_module_and_stubs_in_site_packages(build_dir, tmp_path):
    cache = (build_dir / "CMakeCache.txt").read_text()
    site = re.search(r"^TOVARN_INSTALL_PYTHONDIR:STRING=(.*)$", cache, re.M)[1]
    env = {**clean_env(), "DESTDIR": str(tmp_path)}
    done = subprocess.run(["cmake", "--install", str(build_dir)], env=env, capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr
    target = tmp_path / site.lstrip("/")
    assert sorted(p.relative_to(tmp_path).as_posix() for p in tmp_path.rglob("*") if p.is_file()) == [
        f"{site.lstrip('/')}/tovarn-stubs/__init__.pyi", f"{site.lstrip('/')}/tovarn.abi3.so"]
    # The sanitizers' preload stays: an instrumented build installs an instrumented module.
    done = subprocess.run([sys.executable, "-c", "import tovarn; print(tovarn.__file__)"], cwd=tmp_path,
                          env={**os.environ, "PYTHONPATH": str(target)}, capture_output=True, text=True)
    assert done.stdout.strip() == str(target / "tovarn.abi3.so"), done.stderr


NO_VERSION = 'pyproject.toml holds no line version = "..." to take the version from'


@pytest.mark.parametrize("line, compiled", [
    ('version = "2.0.0rc1+local.7"', 'std::string_view("2.0.0rc1+local.7")'),
    (None, NO_VERSION),
    # Neither can stand in a C string as written.
    ('version = "1.0\\\\"', NO_VERSION),
    ("version = '1.0'", NO_VERSION),
], ids=["version", "none", "backslash", "single-quotes"])
def test_cmake_gives_the_module_the_version_of_pyproject(tmp_path, line, compiled):
    source = tmp_path / "source"
    source.mkdir()
    shutil.copy(REPO / "CMakeLists.txt", source)
    (source / "src").symlink_to(REPO / "src")
    pyproject = (REPO / "pyproject.toml").read_text()
    (source / "pyproject.toml").write_text(re.sub(r"^version = .*\n", f"{line}\n" if line else "", pyproject,
                                                  count=1, flags=re.M))
    binary = tmp_path / "build"
    configured = run(["cmake", "-S", source, "-B", binary, "-DTOVARN_TESTS=OFF", f"-DPython3_EXECUTABLE={sys.executable}"])
    if compiled == NO_VERSION:
        assert configured.returncode != 0 and f"\n  {NO_VERSION}\n" in configured.stderr, configured.stderr
        return
    assert configured.returncode == 0, configured.stderr
    done = run(["cmake", "--build", binary, "--target", "src/python/module.i"])
    assert done.returncode == 0, done.stdout + done.stderr
    assert compiled in (binary / "CMakeFiles/tovarn_module.dir/src/python/module.cpp.i").read_text()


# mypy reads the installed stubs. Each line below the sample is a misuse that
# must be reported on its own line with the error code given.
FORM = xform('<bind nodeset="/data/q" required="true()"/><bind nodeset="/data/r/x" calculate="../../q"/>',
             instance='<data><q/><r template=""><x/></r><r><x/></r></data>')
SAMPLE = f"""\
import tovarn

FORM = {FORM!r}
SUBMISSION = "<data><q>1</q><r><x>1</x></r></data>"

findings: list[dict[str, str]] = tovarn.submission_findings(FORM, SUBMISSION, today="2026-12-10", now=None)
says: str = findings[0]["says"] if findings else ""
issues: list[dict[str, str | None]] = tovarn.check_form(form=FORM)
value: str = tovarn.eval_expression("count(/data/r)", SUBMISSION)
version: str = tovarn.__version__
s = tovarn.Session(FORM, instance=None, today="2026-12-10")
s.set("/data/q", value="4")
answer: str = s.get(path="/data/q")
rows: int = s.add_row("/data/r") + s.remove_row("/data/r", True)
result = s.recompute()
calculated: dict[str, str] = result["calculated"]
relevant: dict[str, bool] = result["relevant"]
missing: list[str] = result["missing"]
broken: list[tuple[str, str]] = result["invalid"] + result["failed"]
repeats: dict[str, int] = result["repeats"]
choices: list[dict[str, str]] | None = s.choices("/data/q")
xml: str = s.instance_xml()
assert (answer, rows, calculated, repeats) == ("4", 3, {{"/data/r/x": "4"}}, {{"/data/r": 1}}), (rows, result)
"""

MISUSES = [
    ("tovarn.check_form(1)", "arg-type"),
    ("tovarn.eval_expression('1')", "call-arg"),
    ("tovarn.submission_findings(FORM, SUBMISSION, None, None, None)", "call-arg"),
    ("tovarn.Session(FORM, instanc=None)", "call-arg"),
    ("s.set('/data/q')", "call-arg"),
    ("s.remove_row('/data/r', '1')", "arg-type"),
    ("s.recompute(True)", "call-arg"),
    ("result['calculatd']", "typeddict-item"),
    ("count: str = s.add_row('/data/r')", "assignment"),
    ("s.choices('/data/q')[0]", "index"),
    ("tovarn.check_form(FORM)[0]['says'].upper()", "union-attr"),
    ("tovarn.submission_findings(FORM, SUBMISSION)[0]['says'].upper(1)", "call-arg"),
    ("tovarn.evaluate('1', '<a/>')", "attr-defined"),
    ("class Mine(tovarn.Session): pass", "misc"),
]


@pytest.fixture(scope="session")
def mypy_errors(install, tmp_path_factory):
    """mypy's errors on the sample and its misuses, by line."""
    if run([sys.executable, "-m", "mypy", "--version"]).returncode != 0:
        pytest.skip(f"mypy is not installed for {sys.executable} (Debian: python3-mypy)")
    venv_python = install(sys.executable)
    folder = tmp_path_factory.mktemp("mypy")
    (folder / "sample.py").write_text(SAMPLE + "".join(f"{line}\n" for line, _ in MISUSES))
    done = run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--show-error-codes",
                "--no-error-summary", "--python-executable", venv_python, "sample.py"], cwd=folder)
    errors = {}
    for line in done.stdout.splitlines():
        if ": note: " in line:
            continue
        match = re.fullmatch(r"sample\.py:(\d+): error: .*\[([a-z-]+)\]", line)
        assert match, done.stdout + done.stderr
        errors.setdefault(int(match[1]), []).append(match[2])
    return errors


def test_mypy_accepts_the_sample(mypy_errors):
    sample_lines = range(1, SAMPLE.count("\n") + 1)
    assert {n: codes for n, codes in mypy_errors.items() if n in sample_lines} == {}


@pytest.mark.parametrize("index", range(len(MISUSES)), ids=[line for line, _ in MISUSES])
def test_mypy_reports_the_misuse(mypy_errors, index):
    line = SAMPLE.count("\n") + 1 + index
    assert mypy_errors.get(line) == [MISUSES[index][1]]


def test_the_sample_runs(install):
    done = run([install(sys.executable), "-c", SAMPLE], cwd=REPO)
    assert done.returncode == 0, done.stderr
