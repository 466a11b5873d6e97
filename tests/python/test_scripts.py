"""scripts/setup on machines of every kind, played by stand-ins for dpkg-query,
id, sudo and apt-get on a PATH that holds nothing else but bash, grep and env."""

import shutil
import subprocess

import pytest

from support import REPO

UPDATE = "apt-get update -qq"


def install(packages):
    return f"apt-get install -y -qq --no-install-recommends {packages} (DEBIAN_FRONTEND=noninteractive)"


def fake(folder, name, body):
    path = folder / name
    path.write_text("#!/bin/sh\n" + body + "\n")
    path.chmod(0o755)


def setup_on(tmp_path, args, uid, missing, sudo):
    """Runs scripts/setup where the packages named in missing are not installed;
    returns its outcome and the commands it ran."""
    folder = tmp_path / "bin"
    folder.mkdir()
    log = tmp_path / "log"
    log.touch()
    for tool in ("bash", "grep", "env"):
        (folder / tool).symlink_to(shutil.which(tool))
    fake(folder, "id", f"echo {uid}")
    cases = "|".join(missing) or "-"
    fake(folder, "dpkg-query", f'for p; do :; done\ncase "$p" in {cases}) exit 1;; esac\necho "install ok installed"')
    fake(folder, "apt-get", f'case "$1" in update) echo "apt-get $*";; '
                            f'*) echo "apt-get $* (DEBIAN_FRONTEND=$DEBIAN_FRONTEND)";; esac >> {log}')
    if sudo:
        fake(folder, "sudo", f'echo sudo >> {log}\nexec "$@"')
    run = subprocess.run([str(folder / "bash"), str(REPO / "scripts" / "setup"), *args], env={"PATH": str(folder)},
                         capture_output=True, text=True, timeout=60)
    return run, log.read_text().splitlines()


@pytest.mark.parametrize("args, uid, missing, sudo, said, ran", [
    ((), 0, [], False, "", []),
    ((), 1000, [], False, "", []),
    ((), 0, ["make"], False, "setup: installing make\n", [UPDATE, install("make")]),
    ((), 0, ["clang-16"], False, "", []),
    (("--fuzz",), 0, ["make", "clang-16"], False, "setup: installing clang-16 make\n",
     [UPDATE, install("clang-16 make")]),
    ((), 1000, ["g++", "python3-mypy"], True, "setup: installing g++ python3-mypy\n",
     ["sudo", UPDATE, "sudo", install("g++ python3-mypy")]),
], ids=["nothing-missing", "nothing-missing-not-root", "root", "fuzz-only-with-its-flag", "root-fuzz", "sudo"])
def test_installs_what_is_missing(tmp_path, args, uid, missing, sudo, said, ran):
    run, log = setup_on(tmp_path, args, uid, missing, sudo)
    assert (run.returncode, run.stderr, run.stdout, log) == (0, "", said, ran)


def test_without_root_or_sudo_names_the_packages_and_fails(tmp_path):
    run, log = setup_on(tmp_path, (), 1000, ["g++", "make"], sudo=False)
    assert (run.returncode, run.stdout, log) == (1, "", [])
    assert run.stderr == ("setup: these packages are missing: g++ make\n"
                          "setup: not root and no sudo here, so install them as root with\n"
                          "  apt-get install --no-install-recommends g++ make\n")
