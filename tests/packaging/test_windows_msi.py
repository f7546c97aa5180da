"""The Windows Installer package under 64-bit Wine, in a Wine prefix of its own: a silent
installation with INIFILE= whose hook creates the task and mails once without a window, and a
silent removal with PURGE=1 that leaves nothing of the program; an upgrade from a lower version
with ADDLOCAL= that keeps the settings file, and a plain removal that keeps it too; the setup
program and the MSI each refusing to install over the other.

As for the setup program, Wine keeps no file access rules, and the scheduler is a recorder named
schtasks.exe put into the folder before the package is installed. The package runs on a private
X display: a window opened by its hook would keep msiexec waiting until the timeout. Wine's
Windows Installer puts the shortcuts of a per-machine package into the installing user's Start
menu (Windows: the all users' one), so both are looked in.
"""

from __future__ import annotations

import shutil
import subprocess
from pathlib import Path

import pytest

from packages import ADDRESS, BUILD, ROOT, TASK, package, product_version

from check_run_servers import email_settings, smtp_sink, stored_address  # noqa: F401
from conftest import ini_bytes
from ip_page import ip_page  # noqa: F401
from test_windows_setup import (RECORDER, SETUP, SETUP_TIMEOUT, Wine, copy_setup, recorded,
                                run_setup, uninstall_silently)
from window_support import xvfb  # noqa: F401

VERSION = product_version(BUILD / "win64")
MSI = f"addrwatch-{VERSION}-x64.msi"
TARGET = r"C:\Program Files\Addrwatch"
SETUP_UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Addrwatch"
MENUS = ("ProgramData/Microsoft/Windows/Start Menu/Programs/Addrwatch",
         "users/root/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Addrwatch")
SHORTCUTS = {"Addrwatch Configuration.lnk", "Uninstall Addrwatch.lnk"}


@pytest.fixture(scope="module")
def wine(tmp_path_factory, xvfb) -> Wine:
    w = Wine(tmp_path_factory.mktemp("wineprefix"), xvfb)
    yield w
    wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
    subprocess.run([wineserver, "-k"], env=w.env, timeout=60)


def msi_property(msi: Path, name: str) -> str:
    table = subprocess.run(["msiinfo", "export", str(msi), "Property"], check=True,
                           capture_output=True, text=True).stdout
    for line in table.splitlines():
        key, _, value = line.partition("\t")
        if key == name:
            return value
    raise AssertionError(f"no {name} in {msi}")


def msiexec(wine: Wine, *args: str, status: int | tuple[int, ...] = 0) -> str:
    """Runs msiexec silently with a verbose log; returns the log. status: the exit code, or
    the codes one of which it must be."""
    log = wine.prefix / "drive_c" / "msiexec.log"
    log.unlink(missing_ok=True)
    try:
        result = wine.run("msiexec", *args, "/qn", "/l*v", r"C:\msiexec.log")
    except subprocess.TimeoutExpired:
        pytest.fail(f"the silent msiexec still waits after {SETUP_TIMEOUT} s (for a window?)")
    text = log.read_text("utf-8", "replace") if log.exists() else ""
    # What reaches a Unix parent is the low byte of the Windows exit code (1603: 67).
    codes = status if isinstance(status, tuple) else (status,)
    assert result.returncode in [code & 0xFF for code in codes], text[-3000:]
    return text


def shortcuts(wine: Wine) -> set[str]:
    found = set()
    for menu in MENUS:
        folder = wine.prefix / "drive_c" / menu
        if folder.exists():
            found |= {p.name for p in folder.iterdir()}
    return found


def menu_folders_left(wine: Wine) -> list[str]:
    return [menu for menu in MENUS if (wine.prefix / "drive_c" / menu).exists()]


def arp_entry(wine: Wine, msi: Path) -> dict[str, str] | None:
    code = msi_property(msi, "ProductCode")
    return wine.registry(r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + code)


def lower_version_msi(folder: Path) -> Path:
    """The same program packaged as version 1.0.0: a build tree that says so, beside the real
    build's program."""
    build = folder / "build"
    (build / "generated").mkdir(parents=True)
    env = (BUILD / "win64" / "generated" / "product.env").read_text()
    (build / "generated" / "product.env").write_text(
        env.replace(f"ADDRWATCH_VERSION='{VERSION}'", "ADDRWATCH_VERSION='1.0.0'"))
    (build / "addrwatch.exe").symlink_to(BUILD / "win64" / "addrwatch.exe")
    subprocess.run([str(ROOT / "packaging" / "windows" / "build-msi"), str(build), str(folder)],
                   check=True, capture_output=True, timeout=120)
    return folder / "addrwatch-1.0.0-x64.msi"


def test_silent_install_with_inifile_and_purging_removal(wine, ip_page, smtp_sink):
    msi = package(MSI)
    assert msi_property(msi, "ALLUSERS") == "1"
    ip_page.answer(ADDRESS + "\r\n")
    target = wine.path(TARGET)
    target.mkdir(parents=True)
    shutil.copy2(RECORDER, target / "schtasks.exe")
    settings = ini_bytes({
        # RunConfigAfterInstall is missing: the window would open, were the hook not unattended.
        "General": {"CreateTask": "1", "RunAfterInstall": "1", "TaskTime": "06:15:00",
                    "WhatIsMyIP": ip_page.url},
        "EmailConfig": email_settings(smtp_sink.port),
    })
    prepared = wine.path(r"C:\Deploy\Site.ini")
    prepared.parent.mkdir()
    prepared.write_bytes(settings)

    msiexec(wine, "/i", str(msi), r"INIFILE=C:\Deploy\Site.ini")

    assert (target / "addrwatch.exe").read_bytes() == (BUILD / "win64" / "addrwatch.exe").read_bytes()
    assert (target / "applogo.ico").read_bytes() == (ROOT / "src/app/applogo.ico").read_bytes()
    assert (target / "addrwatch.ini").read_bytes() == settings
    assert prepared.read_bytes() == settings, "the prepared file is copied, not moved"
    # No website shortcut, whatever the settings say.
    assert shortcuts(wine) == SHORTCUTS
    config = next(wine.prefix.joinpath("drive_c", m, "Addrwatch Configuration.lnk")
                  for m in menu_folders_left(wine))
    assert "/config".encode("utf-16-le") in config.read_bytes()
    entry = arp_entry(wine, msi)
    assert entry is not None
    assert (entry["DisplayName"], entry["Publisher"], entry["DisplayVersion"]) == (
        "Addrwatch", "Quillfen", VERSION)
    exe = TARGET + r"\addrwatch.exe"
    assert recorded(target) == [
        f'/delete /f /tn "{TASK}"',
        f'/create /ru system /sc DAILY /st 06:15:00 /rl highest /f /tn "{TASK}" /tr "\\"{exe}\\"',
    ]
    assert len(smtp_sink.mails) == 1
    assert ADDRESS in smtp_sink.mails[0].text
    assert stored_address(wine) == ADDRESS

    before = len(recorded(target))
    msiexec(wine, "/x", str(msi), "PURGE=1")

    assert recorded(target)[before:] == [f'/delete /f /tn "{TASK}"', '/delete /f /tn "Addrwatch"']
    assert stored_address(wine) is None
    # The settings file and the check run's guard file go too; the recorder is the user's.
    assert sorted(p.name for p in target.iterdir()) == ["schtasks.exe", "schtasks.log"]
    assert shortcuts(wine) == set() and menu_folders_left(wine) == []
    assert arp_entry(wine, msi) is None
    assert len(smtp_sink.mails) == 1
    shutil.rmtree(target)


def test_upgrade_and_removal_keep_the_settings_file(wine, tmp_path):
    """Under Wine the old product's removal during the upgrade runs without
    UPGRADINGPRODUCTCODE, so its removal hook runs: that the daily task and the stored address
    survive an upgrade (the hook is skipped) can only be shown on Windows. The settings file,
    which no hook of a removal without PURGE=1 touches, survives either way."""
    old, new = lower_version_msi(tmp_path), package(MSI)
    target = wine.path(TARGET)
    settings = ini_bytes({"General": {"RunAfterInstall": "0", "CreateTask": "0"},
                          "EmailConfig": {"Subject": "Kept"}})
    prepared = tmp_path / "Prepared.ini"
    prepared.write_bytes(settings)

    msiexec(wine, "/i", str(old), "INIFILE=" + "Z:" + str(prepared).replace("/", "\\"))
    assert (target / "addrwatch.ini").read_bytes() == settings
    assert shortcuts(wine) == SHORTCUTS
    assert arp_entry(wine, old)["DisplayVersion"] == "1.0.0"

    # The upgrade, choosing only one shortcut.
    msiexec(wine, "/i", str(new), "ADDLOCAL=ConfigShortcut")

    assert (target / "addrwatch.ini").read_bytes() == settings
    assert (target / "addrwatch.exe").is_file()
    assert shortcuts(wine) == {"Addrwatch Configuration.lnk"}
    assert arp_entry(wine, old) is None
    assert arp_entry(wine, new)["DisplayVersion"] == VERSION

    # While the MSI's installation is there, the setup program refuses and names it.
    setup = copy_setup(tmp_path / "share")
    messages = run_setup(wine, setup, status=2)
    assert any("is already installed by its Windows Installer package" in m for m in messages), \
        messages
    assert wine.registry(SETUP_UNINSTALL_KEY) is None
    assert not (target / "uninstall.exe").exists()

    msiexec(wine, "/x", str(new))

    assert sorted(p.name for p in target.iterdir()) == ["addrwatch.ini"]
    assert (target / "addrwatch.ini").read_bytes() == settings
    assert shortcuts(wine) == set() and menu_folders_left(wine) == []
    assert arp_entry(wine, new) is None
    shutil.rmtree(target)


def test_the_msi_refuses_the_setup_programs_installation_and_a_missing_inifile(wine, tmp_path):
    msi = package(MSI)
    setup_dos = r"C:\AddrwatchSetup"
    run_setup(wine, copy_setup(tmp_path / "share", package(SETUP)), "/D=" + setup_dos)

    msiexec(wine, "/i", str(msi), status=1603)

    # Wine's log leaves out the refusal's text, which a silent run shows nowhere else: it is the
    # message of the condition that failed.
    conditions = subprocess.run(["msiinfo", "export", str(msi), "LaunchCondition"], check=True,
                                capture_output=True, text=True).stdout
    assert any(line.startswith("Installed OR NOT SETUPPROGRAMINSTALLED\t") and
               "is already installed by its setup program" in line
               for line in conditions.splitlines()), conditions
    assert arp_entry(wine, msi) is None
    assert not wine.path(TARGET).exists()
    uninstall_silently(wine)

    # A settings file that can't be installed fails the hook and so the installation, which
    # rolls back: 1603 on Windows, 1627 from Wine's Windows Installer.
    log = msiexec(wine, "/i", str(msi), r"INIFILE=C:\Deploy\Missing.ini", status=(1603, 1627))

    assert "InstallHookWithSettings. Return value 0." in log
    assert arp_entry(wine, msi) is None
    assert not (wine.path(TARGET) / "addrwatch.exe").exists()
    assert shortcuts(wine) == set()
