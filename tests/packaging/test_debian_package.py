"""The real Debian package: its contents and declared dependencies, lintian, and its maintainer
scripts, by installing, upgrading, removing and purging it with dpkg.

dpkg runs inside a private mount namespace in which /etc, /opt, /usr and /var are overlays on a
scratch tmpfs: the package, its cron entry, its stored address and dpkg's own records land in
the overlays and vanish with the namespace, so the test machine stays as it was. The test reads
the namespace's files through /proc/PID/root.
"""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path
from xml.etree import ElementTree

import pytest

from packages import ADDRESS, BUILD, ROOT, package, product_version

from check_run_servers import email_settings, smtp_sink, stored_address  # noqa: F401
from conftest import ini_bytes
from ip_page import ip_page  # noqa: F401

VERSION = product_version(BUILD / "native")
DEB_NAME = f"addrwatch_{VERSION}_amd64.deb"
PREFIX = "opt/addrwatch"
CRON_ENTRY = "etc/cron.d/quillfen-addrwatch"
POLICY = "com.quillfen.addrwatch.policy"
PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"


@pytest.fixture(scope="module")
def deb() -> Path:
    return package(DEB_NAME)


def control_field(deb: Path, name: str) -> str:
    return subprocess.run(["dpkg-deb", "-f", str(deb), name], check=True, capture_output=True,
                          text=True).stdout.strip()


def alternatives(field: str) -> list[str]:
    """A relation field as its entries, each without its version."""
    return [" | ".join(p.split(" (")[0].strip() for p in entry.split("|"))
            for entry in field.split(",") if entry.strip()]


def test_contents_come_from_the_install_rules(deb, tmp_path):
    listing = subprocess.run(["dpkg-deb", "-c", str(deb)], check=True, capture_output=True,
                             text=True).stdout.splitlines()
    entries = {}
    for line in listing:
        mode, owner, _size, _date, _time, name, *rest = line.split(None, 6)
        entries[name.removeprefix("./").rstrip("/")] = (mode, owner, " ".join(rest))

    # Whatever the native build's CMake rules install (the program and every module), and only that.
    subprocess.run(["cmake", "--install", str(BUILD / "native"), "--prefix", f"/{PREFIX}"],
                   env=dict(os.environ, DESTDIR=str(tmp_path)), check=True, capture_output=True)
    installed = {str(p.relative_to(tmp_path)) for p in tmp_path.rglob("*") if p.is_file()}
    packaged = {n for n, (mode, _, _) in entries.items()
                if n.startswith(PREFIX + "/") and not mode.startswith("d")}
    assert packaged == installed
    assert {f"{PREFIX}/addrwatch", f"{PREFIX}/libaddrwatch_qt.so"} <= packaged
    assert entries[f"{PREFIX}/addrwatch"][:2] == ("-rwxr-xr-x", "root/root")
    assert entries[f"{PREFIX}/libaddrwatch_qt.so"][0] == "-rw-r--r--"
    assert entries["usr/bin/addrwatch"][2] == "-> /opt/addrwatch/addrwatch"
    assert f"{PREFIX}/addrwatch.ini" not in entries, "the settings file is the user's"
    assert {"usr/share/applications/addrwatch.desktop", "usr/share/doc/addrwatch/copyright",
            "usr/share/doc/addrwatch/changelog.gz",
            "usr/share/man/man1/addrwatch.1.gz"} <= set(entries)

    assert entries[f"usr/share/polkit-1/actions/{POLICY}"][:2] == ("-rw-r--r--", "root/root")


def test_no_binary_names_the_folders_it_was_built_in(deb, tmp_path):
    # A build folder the program knows of is a place it might load code from, and on the
    # installed machine any user may be able to create it.
    subprocess.run(["dpkg-deb", "-x", str(deb), str(tmp_path)], check=True)
    binaries = [p for p in tmp_path.rglob("*")
                if p.is_file() and not p.is_symlink() and p.read_bytes()[:4] == b"\x7fELF"]
    assert {p.name for p in binaries} >= {"addrwatch", "libaddrwatch_tls.so", "libaddrwatch_qt.so"}
    # The tree holds the build folder. A compiler may build a short constant path from 16- and
    # 8-byte pieces, so the path's leading pieces count as well.
    tree = str(ROOT.resolve()).encode()
    pieces = {tree, tree[:16], tree[:8]}
    for binary in binaries:
        data = binary.read_bytes()
        assert not [p for p in pieces if p in data], binary
        dynamic = subprocess.run(["readelf", "-d", str(binary)], capture_output=True, text=True,
                                 check=True).stdout
        assert "RPATH" not in dynamic and "RUNPATH" not in dynamic, binary


def test_dependencies_are_computed_and_run_time_loads_are_recommended(deb):
    assert control_field(deb, "Package") == "addrwatch"
    assert control_field(deb, "Version") == VERSION
    assert control_field(deb, "Architecture") == "amd64"
    depends = alternatives(control_field(deb, "Depends"))
    recommends = alternatives(control_field(deb, "Recommends"))
    # What the program links (SQLite among it) is required; a headless server needs no GUI.
    assert {"libc6", "libsqlite3-0"} <= set(depends)
    assert not [d for d in depends if "qt" in d or "curl" in d or "x11" in d], depends
    # The window module's Qt, the dlopen'ed libcurl and a cron daemon are recommended.
    assert {"libqt6widgets6", "libqt6core6", "libcurl4", "cron | cron-daemon",
            "pkexec"} <= set(recommends)
    assert not set(depends) & set(recommends)


def test_lintian_reports_no_errors_and_no_warnings_but_reasoned_overrides(deb):
    result = subprocess.run(["lintian", "--fail-on", "error,warning", "--no-tag-display-limit",
                             str(deb)], capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert not [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
    # Every override says why, in the comment above it.
    lines = (ROOT / "packaging" / "debian" / "lintian-overrides").read_text().splitlines()
    for i, line in enumerate(lines):
        if line.strip() and not line.startswith("#"):
            assert i > 0 and lines[i - 1].startswith("# "), line


class Sandbox:
    """A private mount namespace with throw-away overlays over the system folders."""

    SETUP = r"""
set -e
mount -t tmpfs tmpfs "$1"
for d in etc opt usr var; do
    mkdir "$1/$d.upper" "$1/$d.work"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$1/$d.upper,workdir=$1/$d.work" "/$d"
done
mkdir -p /etc/cron.d
echo ready
exec sleep 3600
"""

    def __init__(self, scratch: Path):
        scratch.mkdir()
        self.proc = subprocess.Popen(
            ["unshare", "--mount", "--propagation", "private", "sh", "-c", self.SETUP, "sh",
             str(scratch)], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready = self.proc.stdout.readline()
        if ready != b"ready\n":
            self.proc.wait(timeout=10)
            pytest.fail("no private mount namespace: " + self.proc.stderr.read().decode())
        self.root = Path(f"/proc/{self.proc.pid}/root")

    def path(self, inside: str) -> Path:
        return self.root / inside

    def run(self, *args: str, env: dict[str, str] | None = None) -> subprocess.CompletedProcess:
        environment = {"PATH": PATH, "LANG": "C.UTF-8", "DEBIAN_FRONTEND": "noninteractive",
                       # Diagnostic messages on stderr; no display for a window to use.
                       "ADDRWATCH_DEBUG": "1", **(env or {})}
        return subprocess.run(["nsenter", "--target", str(self.proc.pid), "--mount", "--", *args],
                              env=environment, capture_output=True, text=True, timeout=180)

    def dpkg(self, *args: str, env: dict[str, str] | None = None) -> subprocess.CompletedProcess:
        result = self.run("dpkg", *args, env=env)
        assert result.returncode == 0, result.stdout + result.stderr
        return result

    def status(self) -> str:
        return self.run("dpkg-query", "-W", "-f", "${Status}", "addrwatch").stdout

    def close(self) -> None:
        self.proc.kill()
        self.proc.wait()


@pytest.fixture
def sandbox(tmp_path):
    if os.geteuid() != 0:
        pytest.skip("installing the package needs root (for a private mount namespace)")
    box = Sandbox(tmp_path / "scratch")
    yield box
    box.close()


def stored(box: Sandbox, scratch: Path) -> str | None:
    """The address stored in the sandbox, read from a copy of its store (SQLite cannot open a
    database through /proc/PID/root)."""
    copy = scratch / "state"
    shutil.rmtree(copy, ignore_errors=True)
    source = box.path("var/lib/quillfen")
    if source.exists():
        shutil.copytree(source, copy)

    class Store:  # what check_run_servers.stored_address needs of a program
        is_wine = False
        state_dir = copy

    return stored_address(Store())


def deploy_settings(box: Sandbox, page_url: str, smtp_port: int) -> bytes:
    """A prepared settings file put in place before the package is installed."""
    settings = ini_bytes({
        # RunConfigAfterInstall is missing: without the unattended switch the window would open.
        "General": {"CreateTask": "1", "RunAfterInstall": "1", "TaskTime": "06:15:00",
                    "WhatIsMyIP": page_url},
        "EmailConfig": email_settings(smtp_port),
    })
    ini = box.path(PREFIX + "/addrwatch.ini")
    ini.parent.mkdir(parents=True)
    ini.write_bytes(settings)
    ini.chmod(0o600)
    return settings


def window_attempted(result: subprocess.CompletedProcess) -> bool:
    return "Form1: configuration window skipped" in result.stderr


def assert_window_is_started_through_pkexec(box: Sandbox) -> None:
    """The installed menu entry, the polkit actions that let pkexec start the window with the
    desktop's display, and the installed program started by a user who cannot read root's
    settings file."""
    entry = box.path("usr/share/applications/addrwatch.desktop").read_text().splitlines()
    assert "Exec=pkexec /opt/addrwatch/addrwatch /config" in entry
    assert "TryExec=pkexec" in entry
    policy = ElementTree.parse(box.path(f"usr/share/polkit-1/actions/{POLICY}")).getroot()
    actions = {}
    for action in policy.iter("action"):
        notes = {a.get("key").removeprefix("org.freedesktop.policykit."): a.text
                 for a in action.iter("annotate")}
        actions[notes.pop("exec.path")] = (notes, action.findtext("defaults/allow_active"))
    # pkexec compares the path as given: the command in /usr/bin has its own action.
    assert set(actions) == {"/opt/addrwatch/addrwatch", "/usr/bin/addrwatch"}
    for notes, allow_active in actions.values():
        assert notes == {"exec.argv1": "/config", "exec.allow_gui": "true"}
        assert allow_active == "auth_admin_keep"

    refused = box.run("setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups",
                      "addrwatch", "/config", env={"QT_QPA_PLATFORM": "offscreen"})
    assert refused.returncode != 0
    assert ("addrwatch: the settings file /opt/addrwatch/addrwatch.ini cannot be read by this "
            "user") in refused.stderr
    assert "pkexec addrwatch /config" in refused.stderr


def test_install_upgrade_remove_purge(deb, sandbox, tmp_path, ip_page, smtp_sink):
    ip_page.answer(ADDRESS + "\r\n")
    settings = deploy_settings(sandbox, ip_page.url, smtp_sink.port)
    ini = sandbox.path(PREFIX + "/addrwatch.ini")
    cron = sandbox.path(CRON_ENTRY)

    installed = sandbox.dpkg("-i", str(deb))
    assert sandbox.status() == "install ok installed"
    assert not window_attempted(installed), installed.stderr
    assert cron.read_text() == "15 6 * * * root '/opt/addrwatch/addrwatch'\n"
    assert len(smtp_sink.mails) == 1
    assert stored(sandbox, tmp_path) == ADDRESS
    assert sandbox.run("readlink", "-e", "/usr/bin/addrwatch").stdout == "/opt/addrwatch/addrwatch\n"
    assert ini.read_bytes() == settings
    assert_window_is_started_through_pkexec(sandbox)

    # An upgrade keeps the task and the settings; its hook checks again (no change, no mail).
    upgraded = sandbox.dpkg("-i", str(deb))
    assert not window_attempted(upgraded), upgraded.stderr
    assert cron.exists()
    assert ini.read_bytes() == settings
    assert len(ip_page.requests) == 2
    assert len(smtp_sink.mails) == 1

    sandbox.dpkg("-r", "addrwatch")
    assert sandbox.status() == "deinstall ok config-files"
    assert not cron.exists()
    assert stored(sandbox, tmp_path) is None
    assert not sandbox.path(PREFIX + "/addrwatch").exists()
    assert not sandbox.path("usr/bin/addrwatch").is_symlink()
    assert ini.read_bytes() == settings, "removal keeps the settings; purge removes them"

    sandbox.dpkg("-P", "addrwatch")
    assert sandbox.status() == ""
    assert not sandbox.path(PREFIX).exists()
    assert not sandbox.path("var/lib/quillfen").exists()
    assert len(smtp_sink.mails) == 1


def test_a_failing_program_never_leaves_the_package_half_installed(deb, sandbox, tmp_path,
                                                                  ip_page, smtp_sink):
    ip_page.answer(ADDRESS + "\r\n")
    deploy_settings(sandbox, ip_page.url, smtp_sink.port)
    # A library the program needs that cannot be loaded: the program fails before it starts.
    broken = tmp_path / "broken"
    broken.mkdir()
    (broken / "libsqlite3.so.0").write_bytes(b"")
    failing = {"LD_LIBRARY_PATH": str(broken)}

    installed = sandbox.dpkg("-i", str(deb), env=failing)
    assert sandbox.status() == "install ok installed"
    assert "the installer hook failed" in installed.stderr
    assert not sandbox.path(CRON_ENTRY).exists()

    hook = sandbox.run("addrwatch", "/installer", env={"ADDRWATCH_UNATTENDED": "1"})
    assert hook.returncode == 0, hook.stderr
    assert sandbox.path(CRON_ENTRY).exists()

    removed = sandbox.dpkg("-r", "addrwatch", env=failing)
    assert "the uninstaller hook failed" in removed.stderr
    assert sandbox.status() == "deinstall ok config-files"
    assert not sandbox.path(CRON_ENTRY).exists(), "no entry left to start a removed program"

    sandbox.dpkg("-P", "addrwatch", env=failing)
    assert sandbox.status() == ""
    assert not sandbox.path(PREFIX).exists()
