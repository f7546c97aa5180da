"""Other local users against the native check run (which runs as root): a module planted where
the program must not look, and a process of another user sitting on the check run's lock.

Runs as root; the planted module is put in place inside a private mount namespace, so the build
folder itself stays as it is.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from check_run_servers import body_address, configure, email_settings, smtp_sink  # noqa: F401
from conftest import BUILD, Result, parse_messages
from ip_page import ip_page  # noqa: F401

NATIVE = BUILD / "native"
SYSTEM_PYTHON = "/usr/bin/python3"  # one the user nobody can run
AS_NOBODY = ["setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups"]

PLANTED = r"""
#include <stdio.h>
__attribute__((constructor)) static void planted(void) {
    FILE* f = fopen(MARKER, "a");
    if (f != NULL) {
        fputs("planted module loaded\n", f);
        fclose(f);
    }
}
void addrwatch_tls_session(void) {}
void addrwatch_show_form(void) {}
"""

# Inside the namespace: libssl.so.3 gone from the library folder (an overlay whiteout), as on a
# machine without libssl3, when $HIDE_SSL is set; the planted module over each of the build's own.
NAMESPACE = r"""
set -e
if [ -n "$HIDE_SSL" ]; then
    mkdir "$SCRATCH/upper" "$SCRATCH/work"
    mknod "$SCRATCH/upper/libssl.so.3" c 0 0
    mount -t overlay overlay -o "lowerdir=$LIBS,upperdir=$SCRATCH/upper,workdir=$SCRATCH/work" "$LIBS"
fi
for module in libaddrwatch_tls.so libaddrwatch_qt.so; do
    mount --bind "$PLANTED" "$BUILD_DIR/$module"
done
exec "$@"
"""


@pytest.fixture(autouse=True)
def native_as_root(target):
    if target != "native":
        pytest.skip("other local users against the POSIX build")
    if os.geteuid() != 0:
        pytest.skip("needs root (mount namespaces, another user)")


def library_folder(soname: str) -> Path:
    cache = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True, check=True).stdout
    for line in cache.splitlines():
        if line.strip().startswith(soname + " ") and "x86-64" in line:
            return Path(line.rsplit("=> ", 1)[1]).resolve().parent
    pytest.skip(f"{soname} is not installed")


@pytest.fixture
def planted(tmp_path) -> tuple[Path, Path]:
    """A module whose constructor leaves a marker file: (the module, the marker)."""
    marker = tmp_path / "planted-marker"
    source = tmp_path / "planted.c"
    source.write_text(PLANTED)
    module = tmp_path / "planted.so"
    subprocess.run(["gcc", "-shared", "-fPIC", f'-DMARKER="{marker}"', "-o", str(module),
                    str(source)], check=True, capture_output=True)
    return module, marker


def run_beside_planted(program, planted, tmp_path, *args, hide_ssl, via=None,
                       env=None) -> Result:
    scratch = tmp_path / "namespace"
    scratch.mkdir()
    environment = program.environment(env)
    environment.update(SCRATCH=str(scratch), LIBS=str(library_folder("libssl.so.3")),
                       PLANTED=str(planted[0]), BUILD_DIR=str(NATIVE),
                       HIDE_SSL="1" if hide_ssl else "")
    command = ["unshare", "--mount", "--propagation", "private", "sh", "-c", NAMESPACE, "sh",
               str(via or program.exe), *args]
    proc = subprocess.run(command, cwd=program.folder, env=environment, capture_output=True,
                          timeout=120)
    stderr = proc.stderr.decode("latin-1")
    return Result(proc.returncode, proc.stdout.decode("latin-1"), stderr,
                  parse_messages("native", stderr))


@pytest.mark.parametrize("case", ["module missing", "libssl missing", "run through a link"])
def test_a_tls_mail_run_loads_no_module_from_outside_the_programs_folder(
        case, make_program, planted, tmp_path, ip_page, smtp_sink):
    program = make_program(modules=False)
    folder = str(program.folder)
    via = None
    if case == "libssl missing":
        # The program's own module is there but cannot be loaded.
        shutil.copy2(NATIVE / "libaddrwatch_tls.so", program.folder)
        expected = "libssl.so.3: cannot open shared object file: No such file or directory"
    else:
        expected = f"{folder}/libaddrwatch_tls.so: cannot open shared object file"
    if case == "run through a link":
        # A link to the program in a folder that holds a module: the program's real folder counts.
        other = tmp_path / "link"
        other.mkdir()
        via = other / "addrwatch"
        via.symlink_to(program.exe)
        shutil.copy2(planted[0], other / "libaddrwatch_tls.so")
    # Implicit TLS: the module is needed right after the connection is made.
    program.write_ini({"General": {"WhatIsMyIP": ip_page.url},
                       "EmailConfig": {**email_settings(smtp_sink.port), "UseSSL": "1"}})
    ip_page.answer("203.0.113.7\r\n")

    done = run_beside_planted(program, planted, tmp_path, hide_ssl=case == "libssl missing",
                              via=via)
    assert not planted[1].exists(), "a planted module ran as root"
    assert done.returncode == 0, done.stderr
    refusals = [m for m in done.messages if "the TLS module cannot be loaded: " in m]
    assert len(refusals) == 1, done.messages
    assert expected in refusals[0]
    assert len(ip_page.requests) == 1
    assert smtp_sink.mails == []


def test_the_window_module_comes_from_the_programs_folder_only(make_program, planted, tmp_path):
    program = make_program(modules=False)
    done = run_beside_planted(program, planted, tmp_path, "/config", hide_ssl=False,
                              env={"QT_QPA_PLATFORM": "offscreen"})
    assert not planted[1].exists(), "a planted module ran as root"
    assert done.returncode == 1
    assert (f"the window module cannot be loaded: {program.folder}/libaddrwatch_qt.so: "
            "cannot open shared object file") in done.stderr


# --- the check run's lock ---------------------------------------------------------------------

SQUAT = r"""
import fcntl, os, sys, time
try:
    fd = os.open(sys.argv[1], os.O_RDONLY)
    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
except OSError as e:
    print("refused", e.errno, flush=True)
    sys.exit(0)
print("holding", flush=True)
time.sleep(600)
"""


class Squatter:
    """A process of the user nobody that opens the lock file and holds an exclusive flock."""

    def __init__(self, lock: Path):
        self.proc = subprocess.Popen([*AS_NOBODY, SYSTEM_PYTHON, "-c", SQUAT, str(lock)],
                                     stdout=subprocess.PIPE, cwd="/")
        self.state = self.proc.stdout.readline().decode().split()

    def stop(self):
        self.proc.kill()
        self.proc.wait()


@pytest.fixture
def open_state_folder():
    """A state folder on a path the user nobody can walk, made 0755 as older versions did."""
    base = Path(tempfile.mkdtemp(prefix="addrwatch-squat."))
    base.chmod(0o755)
    state = base / "state"
    state.mkdir(mode=0o755)
    state.chmod(0o755)
    yield state
    shutil.rmtree(base, ignore_errors=True)


def test_a_squatter_of_another_user_cannot_silence_a_run(make_program, open_state_folder,
                                                         ip_page, smtp_sink):
    program = make_program()
    env = {"ADDRWATCH_STATE_DIR": str(open_state_folder)}
    lock = open_state_folder / "check-run.lock"
    lock.write_bytes(b"")
    lock.chmod(0o644)  # as an older version left it
    inode = lock.stat().st_ino
    configure(program, ip_page.url, smtp_sink.port)

    # The squatter opened the file while it was readable, and holds the lock through the run
    # that narrows it: the run goes on, and says why it is unguarded.
    squatter = Squatter(lock)
    try:
        assert squatter.state == ["holding"]
        ip_page.answer("203.0.113.7\r\n")
        done = program.run(env=env)
        assert done.returncode == 0
        unguarded = [m for m in done.messages if "running unguarded" in m]
        assert unguarded == [f"\tSingleInstance: {lock}: held by process {squatter.proc.pid} "
                             "of user 65534, not by a check run; running unguarded"]
        assert [body_address(m) for m in smtp_sink.mails] == ["203.0.113.7"]
        st = lock.stat()
        assert (st.st_ino, st.st_uid, st.st_mode & 0o7777) == (inode, 0, 0o600)
    finally:
        squatter.stop()

    # Now the file is root's alone: a new squatter cannot even open it, and the run is guarded.
    squatter = Squatter(lock)
    try:
        assert squatter.state == ["refused", "13"]
        ip_page.answer("198.51.100.1\r\n")
        done = program.run(env=env)
        assert done.returncode == 0
        assert not [m for m in done.messages if "SingleInstance" in m], done.messages
        assert [body_address(m) for m in smtp_sink.mails] == ["203.0.113.7", "198.51.100.1"]
    finally:
        squatter.stop()
