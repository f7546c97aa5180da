"""The real Windows setup program under 64-bit Wine, in a Wine prefix of its own: a silent
deployment with a prepared settings file beside it, the silent uninstall that Apps & Features
registers, and upgrades that keep or replace the installed settings file.

The scheduler is a recorder named schtasks.exe put into the target folder before the setup runs
(the program finds its own folder first); the check run meets a loopback page and SMTP sink.
The setup runs on a private X display: a configuration window opened by mistake would keep it
waiting until its timeout.
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from packages import ADDRESS, BUILD, ROOT, TASK, package, product_version

from check_run_servers import smtp_sink, stored_address  # noqa: F401  (fixtures)
from conftest import ini_bytes
from ip_page import ip_page  # noqa: F401
from window_support import xvfb  # noqa: F401

VERSION = product_version(BUILD / "win64")
SETUP = f"addrwatch-{VERSION}-setup.exe"
RECORDER = BUILD / "win64" / "tests" / "schtasks_recorder.exe"
WINE_RUN = ROOT / "scripts" / "wine-run"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Addrwatch"
MENU = "ProgramData/Microsoft/Windows/Start Menu/Programs/Addrwatch"
PROGRAM_FILES = ("addrwatch.exe", "applogo.ico", "addrwatch.ini", "uninstall.exe")
SETUP_TIMEOUT = 180


class Wine:
    """A Wine prefix of this module's own, and the setup programs run in it."""

    def __init__(self, prefix: Path, display: str):
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", DISPLAY=display,
                        # No desktop menu entries on the test machine for the shortcuts.
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        self.env.pop("ADDRWATCH_UNATTENDED", None)
        self.run("cmd", "/c", "exit")

    def run(self, *args: str, timeout: float = SETUP_TIMEOUT) -> subprocess.CompletedProcess:
        result = subprocess.run([str(WINE_RUN), *args], env=self.env, capture_output=True,
                                timeout=timeout)
        self.settle()
        return result

    def settle(self) -> None:
        """Waits for every process of the prefix: an NSIS uninstaller runs on as a copy."""
        wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
        subprocess.run([wineserver, "-w"], env=self.env, timeout=SETUP_TIMEOUT)

    def path(self, windows_path: str) -> Path:
        """The Unix path of a C: path."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        return self.prefix / "drive_c" / windows_path[3:].replace("\\", "/")

    def registry(self, key: str) -> dict[str, str] | None:
        """The values of a key in the 64-bit view, as reg.exe shows them; None when absent."""
        result = self.run("reg", "query", key, "/reg:64", timeout=60)
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.decode("latin-1").splitlines():
            m = re.match(r"^\s+(\S+)\s+(REG_\w+)\s+(.*)$", line)
            if m:
                values[m.group(1)] = m.group(3)
        return values

    # What check_run_servers.stored_address needs of a program.
    is_wine = True

    def environment(self) -> dict[str, str]:
        return dict(self.env)


@pytest.fixture(scope="module")
def wine(tmp_path_factory, xvfb) -> Wine:
    w = Wine(tmp_path_factory.mktemp("wineprefix"), xvfb)
    yield w
    wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
    subprocess.run([wineserver, "-k"], env=w.env, timeout=60)


def run_setup(wine: Wine, setup: Path, *args: str) -> None:
    """Runs the setup silently from where it lies (where a prepared addrwatch.ini is found)."""
    try:
        result = wine.run(str(setup), "/S", *args)
    except subprocess.TimeoutExpired:
        pytest.fail(f"the silent setup still waits after {SETUP_TIMEOUT} s (for a window?)")
    assert result.returncode == 0, result.stderr.decode("latin-1")[-2000:]


def uninstall_silently(wine: Wine) -> None:
    """Runs what Apps & Features registered as the quiet uninstall command."""
    entry = wine.registry(UNINSTALL_KEY)
    assert entry is not None
    m = re.fullmatch(r'"([^"]+)" (.*)', entry["QuietUninstallString"])
    assert m, entry["QuietUninstallString"]
    assert wine.run(m.group(1), *m.group(2).split()).returncode == 0


def menu_entries(wine: Wine) -> set[str]:
    folder = wine.prefix / "drive_c" / MENU
    return {p.name for p in folder.iterdir()} if folder.exists() else set()


def recorded(folder: Path) -> list[str]:
    log = folder / "schtasks.log"
    return log.read_text("latin-1").splitlines() if log.exists() else []


def copy_setup(folder: Path, source: Path | None = None) -> Path:
    folder.mkdir(parents=True, exist_ok=True)
    return Path(shutil.copy2(source or package(SETUP), folder / SETUP))


def test_silent_deployment_and_silent_uninstall(wine, tmp_path, ip_page, smtp_sink):
    ip_page.answer(ADDRESS + "\r\n")
    wine.run("reg", "delete", r"HKLM\Software\Quillfen\Addrwatch", "/f", timeout=60)
    target = wine.path(r"C:\Program Files\Addrwatch")
    target.mkdir(parents=True, exist_ok=True)
    shutil.copy2(RECORDER, target / "schtasks.exe")
    setup = copy_setup(tmp_path / "share")
    settings = ini_bytes({
        # RunConfigAfterInstall is missing: interactively the window would open.
        "General": {"CreateTask": "1", "RunAfterInstall": "1", "TaskTime": "07:30:00",
                    "WhatIsMyIP": ip_page.url, "ConfigShortcut": "1", "WebsiteShortcut": "0"},
        "EmailConfig": {"SMTPServer": "127.0.0.1", "SMTPPort": str(smtp_sink.port),
                        "FromEmail": "addrwatch@example.test", "ToEmail": "owner@example.test",
                        "Subject": "Home", "UseSSL": "0", "SMTPAuth": "0"},
    })
    (setup.parent / "addrwatch.ini").write_bytes(settings)

    run_setup(wine, setup)

    for name in PROGRAM_FILES:
        assert (target / name).is_file(), name
    assert (target / "addrwatch.ini").read_bytes() == settings
    assert (target / "addrwatch.exe").read_bytes() == (BUILD / "win64" / "addrwatch.exe").read_bytes()
    # UninstallShortcut is missing, so it is made; WebsiteShortcut is "0".
    assert menu_entries(wine) == {"Addrwatch Configuration.lnk", "Uninstall Addrwatch.lnk"}
    menu = wine.prefix / "drive_c" / MENU
    assert "/config".encode("utf-16-le") in (menu / "Addrwatch Configuration.lnk").read_bytes()
    assert b"uninstall.exe" in (menu / "Uninstall Addrwatch.lnk").read_bytes().lower()
    exe = r"C:\Program Files\Addrwatch\addrwatch.exe"
    assert recorded(target) == [
        f'/delete /f /tn "{TASK}"',
        f'/create /ru system /sc DAILY /st 07:30:00 /rl highest /f /tn "{TASK}" /tr "\\"{exe}\\"',
    ]
    assert len(ip_page.requests) == 1
    assert len(smtp_sink.mails) == 1
    assert ADDRESS in smtp_sink.mails[0].text
    assert stored_address(wine) == ADDRESS
    entry = wine.registry(UNINSTALL_KEY)
    assert entry is not None
    assert {k: entry[k] for k in ("DisplayName", "DisplayVersion", "Publisher", "InstallLocation",
                                  "DisplayIcon", "UninstallString", "QuietUninstallString",
                                  "NoModify", "NoRepair")} == {
        "DisplayName": "Addrwatch",
        "DisplayVersion": VERSION,
        "Publisher": "Quillfen",
        "InstallLocation": r"C:\Program Files\Addrwatch",
        "DisplayIcon": r"C:\Program Files\Addrwatch\applogo.ico",
        "UninstallString": r'"C:\Program Files\Addrwatch\uninstall.exe"',
        "QuietUninstallString": r'"C:\Program Files\Addrwatch\uninstall.exe" /S',
        "NoModify": "0x1",
        "NoRepair": "0x1",
    }
    assert int(entry["EstimatedSize"], 16) > 0

    before = len(recorded(target))
    uninstall_silently(wine)

    for name in PROGRAM_FILES:
        assert not (target / name).exists(), name
    assert menu_entries(wine) == set()
    assert not (wine.prefix / "drive_c" / MENU).exists()
    assert wine.registry(UNINSTALL_KEY) is None
    assert stored_address(wine) is None
    assert recorded(target)[before:] == [f'/delete /f /tn "{TASK}"', '/delete /f /tn "Addrwatch"']
    # The recorder (and its log) are the user's files: they and so the folder stay.
    assert sorted(p.name for p in target.iterdir()) == ["schtasks.exe", "schtasks.log"]
    assert len(smtp_sink.mails) == 1


@pytest.fixture(scope="module")
def setup_with_packaged_ini(tmp_path_factory) -> Path:
    """A setup program built with scripts/package --ini: its own default settings file."""
    folder = tmp_path_factory.mktemp("packaged")
    ini = folder / "default.ini"
    ini.write_bytes(ini_bytes({"General": {"RunAfterInstall": "0", "WebsiteShortcut": "",
                                           "WebsiteURL": "example.test/packaged"}}))
    subprocess.run([str(ROOT / "packaging" / "windows" / "build-setup"), str(BUILD / "win64"),
                    str(folder), str(ini)], check=True, capture_output=True, timeout=120)
    return folder / SETUP


def test_upgrades_keep_the_installed_settings_unless_new_ones_come(wine, tmp_path,
                                                                  setup_with_packaged_ini):
    # /D= takes no quotes, and Wine would quote an argument with a blank.
    target_dos = r"C:\AddrwatchTest"
    target = wine.path(target_dos)
    plain = copy_setup(tmp_path / "plain")
    packaged = copy_setup(tmp_path / "packaged", setup_with_packaged_ini)
    prepared = copy_setup(tmp_path / "prepared")
    new_settings = ini_bytes({"General": {"WebsiteShortcut": "1", "ConfigShortcut": "0",
                                          "UninstallShortcut": "0",
                                          "WebsiteURL": "https://example.test/new"}})
    (prepared.parent / "addrwatch.ini").write_bytes(new_settings)
    packaged_settings = ini_bytes({"General": {"RunAfterInstall": "0", "WebsiteShortcut": "",
                                               "WebsiteURL": "example.test/packaged"}})

    run_setup(wine, plain, "/D=" + target_dos)
    assert not (target / "addrwatch.ini").exists(), "a plain setup brings no settings file"
    assert menu_entries(wine) == {"Addrwatch Configuration.lnk", "Addrwatch Website.url",
                                  "Uninstall Addrwatch.lnk"}

    # The packaged settings file where none is installed yet; a bare host gets http://.
    run_setup(wine, packaged)
    assert (target / "addrwatch.ini").read_bytes() == packaged_settings
    website = wine.prefix / "drive_c" / MENU / "Addrwatch Website.url"
    assert "URL=http://example.test/packaged" in website.read_text("latin-1").splitlines()

    (target / "addrwatch.ini").write_bytes(packaged_settings + b"[EmailConfig]\r\nSubject=Mine\r\n")
    edited = (target / "addrwatch.ini").read_bytes()
    # The installation is found again without /D=; the installed settings stay.
    run_setup(wine, packaged)
    run_setup(wine, plain)
    assert (target / "addrwatch.ini").read_bytes() == edited

    # New settings beside the setup replace them, and the shortcuts follow.
    run_setup(wine, prepared)
    assert (target / "addrwatch.ini").read_bytes() == new_settings
    assert menu_entries(wine) == {"Addrwatch Website.url"}
    assert "URL=https://example.test/new" in website.read_text("latin-1").splitlines()

    uninstall_silently(wine)
    assert not target.exists(), "with nothing of the user's in it, the folder goes"
    assert wine.registry(UNINSTALL_KEY) is None
