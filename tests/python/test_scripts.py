"""scripts/setup on machines of every kind, played by stand-ins for dpkg-query,
id, sudo and apt-get on a PATH that holds nothing else but bash, grep and env."""

import shutil
import subprocess

import pytest

from support import REPO

ENV = "(DEBIAN_FRONTEND=noninteractive LC_ALL=C)"
UPDATE = f"apt-get update -qq {ENV}"
LISTS = "Could not get lock /var/lib/apt/lists/lock. It is held by process 4321 (apt-get)"
DPKG = "Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4321 (apt-get)"


def install(packages):
    return f"apt-get install -y -qq --no-install-recommends {packages} {ENV}"


def fake(folder, name, body):
    path = folder / name
    path.write_text("#!/bin/sh\n" + body + "\n")
    path.chmod(0o755)


def setup_on(tmp_path, args, uid, missing, sudo, held=None, says=None):
    """Runs scripts/setup where the packages named in missing are not installed;
    returns its outcome and the commands it ran. apt-get's first held[command]
    calls of a command find a lock held by another process, and then it ends as
    says[command] tells: (its errors, exit status)."""
    folder = tmp_path / "bin"
    folder.mkdir()
    log = tmp_path / "log"
    log.touch()
    for tool in ("bash", "grep", "env"):
        (folder / tool).symlink_to(shutil.which(tool))
    fake(folder, "id", f"echo {uid}")
    cases = "|".join(missing) or "-"
    fake(folder, "dpkg-query", f'for p; do :; done\ncase "$p" in {cases}) exit 1;; esac\necho "install ok installed"')
    for command, times in (held or {}).items():
        (tmp_path / f"held.{command}").write_text(f"{times}\n")
    for command, (errors, status) in (says or {}).items():
        (tmp_path / f"says.{command}").write_text(errors)
        (tmp_path / f"status.{command}").write_text(f"{status}\n")
    fake(folder, "apt-get", f"""cd {tmp_path}
echo "apt-get $* (DEBIAN_FRONTEND=$DEBIAN_FRONTEND LC_ALL=$LC_ALL)" >> log
case "$1" in update) lock=/var/lib/apt/lists/lock;; *) lock=/var/lib/dpkg/lock-frontend;; esac
n=0; [ -f held.$1 ] && read n < held.$1
if [ "$n" -gt 0 ]; then
  echo $((n - 1)) > held.$1
  echo "E: Could not get lock $lock. It is held by process 4321 (apt-get)" >&2
  echo "E: Unable to lock $lock, is another process using it?" >&2
  exit 100
fi
[ -f says.$1 ] || exit 0
while IFS= read -r line; do echo "$line" >&2; done < says.$1
read status < status.$1
exit $status""")
    fake(folder, "sleep", f"echo sleep $* >> {log}")
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


WAIT = "setup: waiting for the package manager's lock ({})\n"
HELD_OUT = ("E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4321 (apt-get)\n"
            "E: Unable to lock /var/lib/apt/lists/lock, is another process using it?\n")


@pytest.mark.parametrize("held, says, status, said, errors, ran", [
    ({"update": 2}, {}, 0, WAIT.format(LISTS), "",
     [UPDATE, "sleep 5", UPDATE, "sleep 5", UPDATE, install("make")]),
    ({"install": 1}, {}, 0, WAIT.format(DPKG), "", [UPDATE, install("make"), "sleep 5", install("make")]),
    ({"update": 1, "install": 1}, {}, 0, WAIT.format(LISTS) + WAIT.format(DPKG), "",
     [UPDATE, "sleep 5", UPDATE, install("make"), "sleep 5", install("make")]),
    # Ten minutes of waiting, then apt-get's own words.
    ({"update": 1000}, {}, 1, WAIT.format(LISTS), HELD_OUT, [UPDATE, "sleep 5"] * 120 + [UPDATE]),
    # Any other failure ends the run at once, in apt-get's words.
    ({}, {"install": ("E: Unable to locate package make\n", 100)}, 1, "", "E: Unable to locate package make\n",
     [UPDATE, install("make")]),
    ({}, {"update": ("E: Failed to fetch http://deb.example/dists/InRelease\n", 100)}, 1, "",
     "E: Failed to fetch http://deb.example/dists/InRelease\n", [UPDATE]),
    # Warnings of a run that succeeds are passed on.
    ({}, {"update": ("W: Some index files failed to download.\n", 0)}, 0, "",
     "W: Some index files failed to download.\n", [UPDATE, install("make")]),
], ids=["lists-lock", "dpkg-lock", "both-locks", "lock-never-released", "no-such-package", "offline", "warning"])
def test_waits_for_a_held_lock_and_passes_on_apt_gets_errors(tmp_path, held, says, status, said, errors, ran):
    run, log = setup_on(tmp_path, (), 0, ["make"], sudo=False, held=held, says=says)
    assert (run.returncode, run.stdout, run.stderr, log) == (status, "setup: installing make\n" + said, errors, ran)
