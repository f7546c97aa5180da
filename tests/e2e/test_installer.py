"""The installer hooks end to end: /installer does what the three "General" keys ask (task,
window, one check), /uninstaller removes the daily task and the program's registry key.

Observed through a recorder standing in for schtasks.exe under Wine (the cron folder natively),
the real registry (the SQLite store natively), the loopback IP page and the mails that arrive.
"""

from __future__ import annotations

import shutil
import sqlite3
import subprocess
from pathlib import Path

import pytest

from check_run_servers import (KEY, _wine, email_settings, forget_address, smtp_sink,  # noqa: F401
                               stored_address)
from conftest import BUILD, WINE_RUN, Result, ini_bytes, parse_messages
from ip_page import ip_page  # noqa: F401
from window_support import xvfb  # noqa: F401

TASK = "Quillfen - Addrwatch"
STARTUP_TASK = "Quillfen - Addrwatch (start-up)"
RECORDER = BUILD / "win64" / "tests" / "schtasks_recorder.exe"
DRIVER = BUILD / "win64" / "tests" / "form1_driver.exe"
ADDRESS = "203.0.113.7"
# Natively no display is reachable: the window step says why and the hook goes on.
NO_DISPLAY = {"DISPLAY": "", "WAYLAND_DISPLAY": ""}


class Scheduler:
    """What the program asked of the task scheduler."""

    def __init__(self, program):
        self.program = program
        if program.is_wine:
            if not RECORDER.exists():
                pytest.fail(f"{RECORDER} is missing: build the win64 preset first")
            shutil.copy2(RECORDER, program.folder / "schtasks.exe")
        else:
            program.cron_dir.mkdir(exist_ok=True)  # as /etc/cron.d is there on a real system

    def commands(self) -> list[str]:
        log = self.program.folder / "schtasks.log"
        return log.read_text("latin-1").splitlines() if log.exists() else []

    @property
    def cron_entry(self) -> Path:
        return self.program.cron_dir / "quillfen-addrwatch"

    def task_created(self) -> bool:
        if self.program.is_wine:
            creates = [c for c in self.commands() if c.startswith("/create ")]
            assert all(f'/tn "{TASK}"' in c or f'/tn "{STARTUP_TASK}"' in c for c in creates), \
                creates
            return bool(creates)
        return self.cron_entry.exists()


def key_exists(program) -> bool:
    if program.is_wine:
        return _wine(program, "reg", "query", KEY).returncode == 0
    db = program.state_dir / "registry.db"
    if not db.exists():
        return False
    with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as con:
        return con.execute("SELECT count(*) FROM keys WHERE lower(name) = 'addrwatch'"
                           ).fetchone()[0] > 0


def write_settings(program, general: dict[str, str] | None, page_url: str, smtp_port: int):
    sections = {"EmailConfig": email_settings(smtp_port)}
    if general is not None:
        # The page stays reachable even when the case has no "General" section at all: then
        # the built-in page would be asked, which a check must never reach in these tests.
        sections = {"General": {"WhatIsMyIP": page_url, **general}, **sections}
    program.write_ini(sections)


def run_with_driver(program, display: str, switch: str, steps: list[str],
                    extra: dict[str, str] | None = None) -> Result:
    """Runs the hook under Wine on the display while the driver works its window."""
    env = program.environment({"DISPLAY": display, **(extra or {})})
    # Files, not pipes: Wine's helper processes that outlive the hook would hold a pipe open.
    out_path, err_path = program.folder / "hook.out", program.folder / "hook.err"
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        hook = subprocess.Popen(program.command([switch]), cwd=program.folder, env=env,
                                stdout=out, stderr=err)
        try:
            with open(program.folder / "driver.out", "wb") as sink:
                driver = subprocess.run([str(WINE_RUN), str(DRIVER), *steps], env=env,
                                        stdout=sink, stderr=subprocess.STDOUT, timeout=120)
            hook.wait(timeout=120)
        finally:
            if hook.poll() is None:
                hook.kill()
                hook.wait()
    assert driver.returncode == 0, (program.folder / "driver.out").read_text("latin-1")
    stderr = err_path.read_text("latin-1")
    return Result(hook.returncode, out_path.read_text("latin-1"), stderr,
                  parse_messages(program.target, stderr))


def run_hook(program, request, switch: str, window: bool,
             env: dict[str, str] | None = None) -> Result:
    """Runs the hook; where the window opens under Wine, the driver closes it."""
    if window and program.is_wine:
        display = request.getfixturevalue("xvfb")
        return run_with_driver(program, display, switch, ["wait", "close", "gone"], env)
    return program.run(switch, env={**NO_DISPLAY, **(env or {})})


def window_skipped(result) -> bool:
    return any(m.startswith("\tForm1: configuration window skipped: ") for m in result.messages)


# general keys (None: no section), task created, window step, one check run; then the
# environment of the hook, where the case sets one
UNATTENDED = {"ADDRWATCH_UNATTENDED": "1"}
INSTALL_CASES = {
    "no General section": (None, False, True, False),
    "task and check, no window": ({"CreateTask": "1", "RunConfigAfterInstall": "0",
                                   "RunAfterInstall": "1"}, True, False, True),
    "the word true is not 1": ({"CreateTask": "true", "RunConfigAfterInstall": "0",
                                "RunAfterInstall": "true"}, False, False, False),
    # Quoted, so that the blank survives the settings file reader.
    "a blank before the 1": ({"CreateTask": '" 1"', "RunConfigAfterInstall": "0",
                              "RunAfterInstall": '" 1"'}, False, False, False),
    "empty window key still opens it": ({"CreateTask": "1", "RunConfigAfterInstall": ""},
                                        True, True, False),
    # A silent setup: the other two actions still happen as the keys ask.
    "unattended keeps the window shut": ({"CreateTask": "1", "RunAfterInstall": "1"},
                                         True, False, True, UNATTENDED),
    "unattended only when exactly 1": (None, False, True, False,
                                       {"ADDRWATCH_UNATTENDED": "yes"}),
}


@pytest.mark.parametrize("case", list(INSTALL_CASES))
def test_installer_follows_the_general_keys(case, program, smtp_sink, ip_page, request):
    general, task, window, check, *env = INSTALL_CASES[case]
    forget_address(program)
    ip_page.answer(ADDRESS + "\r\n")
    write_settings(program, general, ip_page.url, smtp_sink.port)
    scheduler = Scheduler(program)

    result = run_hook(program, request, "/installer", window, *env)

    assert result.returncode == 0
    assert result.stdout == ""
    assert scheduler.task_created() == task
    if program.is_wine and task:
        assert scheduler.commands()[0] == f'/delete /f /tn "{TASK}"'
    if not program.is_wine:
        assert window_skipped(result) == window
    assert len(ip_page.requests) == (1 if check else 0)
    assert len(smtp_sink.mails) == (1 if check else 0)
    assert stored_address(program) == (ADDRESS if check else None)


def test_a_task_time_with_extra_arguments_creates_no_task(program, smtp_sink, ip_page):
    forget_address(program)
    time = "10:00 /ru x /sd y"
    write_settings(program, {"CreateTask": "1", "TaskTime": time, "RunConfigAfterInstall": "0"},
                   ip_page.url, smtp_sink.port)
    scheduler = Scheduler(program)

    result = program.run("/installer", env={**NO_DISPLAY, **UNATTENDED})

    assert result.returncode == 0
    assert not scheduler.task_created()
    if program.is_wine:
        # The old task still goes, as for any failed creation.
        assert scheduler.commands() == [f'/delete /f /tn "{TASK}"']
        assert result.messages.count(f"\tTaskTime is not a time of day (hh:mm:ss): {time}") == 1


def test_uninstaller_removes_the_task_and_the_key(program, smtp_sink, ip_page):
    forget_address(program)
    ip_page.answer(ADDRESS + "\r\n")
    # Every 6 hours with a start-up check: two entries, and the uninstaller must leave neither.
    write_settings(program, {"CreateTask": "1", "RunConfigAfterInstall": "0",
                             "RunAfterInstall": "1", "TaskTime": "10:00:00", "CheckEvery": "6",
                             "CheckAtStartup": "1"}, ip_page.url, smtp_sink.port)
    scheduler = Scheduler(program)
    assert program.run("/installer", env=NO_DISPLAY).returncode == 0
    assert scheduler.task_created() and stored_address(program) == ADDRESS
    assert len(smtp_sink.mails) == 1
    exe = program.windows_path(program.exe)
    if program.is_wine:
        action = f' /tr "\\"{exe}\\"'
        assert scheduler.commands() == [
            f'/delete /f /tn "{TASK}"',
            f'/create /ru system /sc HOURLY /mo 6 /st 10:00:00 /rl highest /f /tn "{TASK}"'
            + action,
            f'/create /ru system /sc ONSTART /delay 0002:00 /rl highest /f /tn "{STARTUP_TASK}"'
            + action]
    else:
        assert scheduler.cron_entry.read_text() == (f"0 4,10,16,22 * * * root '{exe}'\n"
                                                    f"@reboot root sleep 120 && '{exe}'\n")
    before = len(scheduler.commands())

    result = program.run("/uninstaller", env=NO_DISPLAY)

    assert result.returncode == 0
    assert result.stdout == ""
    if program.is_wine:
        # The real task's name first, with the start-up task it recorded, then the bare
        # product name.
        assert scheduler.commands()[before:] == [f'/delete /f /tn "{TASK}"',
                                                 f'/delete /f /tn "{STARTUP_TASK}"',
                                                 '/delete /f /tn "Addrwatch"']
    else:
        assert not scheduler.cron_entry.exists()
    assert not key_exists(program)
    assert result.messages[-3:] == ["\tmodRegistry\\fDeleteKey: ",
                                    "\t\t- Key: HKLM\\Software\\Quillfen\\Addrwatch",
                                    "\t\t- lResult: 0 SUCCESS"]
    assert len(smtp_sink.mails) == 1, "uninstalling sends nothing"


def test_uninstaller_on_a_clean_machine_finds_nothing_and_succeeds(program):
    forget_address(program)
    scheduler = Scheduler(program)

    result = program.run("/uninstaller", env=NO_DISPLAY)

    assert result.returncode == 0
    assert result.stdout == ""
    assert result.messages[-1] == "\t\t- lResult: 2 NOT FOUND"
    assert not any("Attempting second run" in m or "reg.exe" in m for m in result.messages)
    if program.is_wine:
        assert scheduler.commands() == [f'/delete /f /tn "{TASK}"', '/delete /f /tn "Addrwatch"']
        # The check-run guard is the check run's: removing the program neither takes nor makes it.
        assert not (program.folder / "check-run.lock").exists()
    else:
        assert not scheduler.cron_entry.exists()
    assert not key_exists(program)


def test_run_after_install_ticked_in_the_window_runs_the_check(program, smtp_sink, ip_page,
                                                              request):
    if not program.is_wine:
        pytest.skip("the Qt window is driven by the window tests; here it has no display")
    forget_address(program)
    ip_page.answer(ADDRESS + "\r\n")
    write_settings(program, {"RunAfterInstall": "0"}, ip_page.url, smtp_sink.port)
    # Tick "Run Addrwatch after install", then "Save && Close".
    result = run_with_driver(program, request.getfixturevalue("xvfb"), "/installer",
                             ["wait", "click:210", "label:105", "gone"])
    assert result.returncode == 0
    assert len(smtp_sink.mails) == 1
    assert stored_address(program) == ADDRESS


def test_unattended_hook_installs_the_given_settings_and_the_purge_removes_them(
        program, tmp_path, smtp_sink, ip_page):
    if program.is_wine:
        pytest.skip("the Windows Installer package's test runs these hooks under Wine")
    forget_address(program)
    ip_page.answer(ADDRESS + "\r\n")
    scheduler = Scheduler(program)
    write_settings(program, {"RunConfigAfterInstall": "0"}, ip_page.url, smtp_sink.port)
    program.ini.chmod(0o644)
    # RunConfigAfterInstall is missing: the window would open, were the hook not unattended.
    prepared = tmp_path / "Deploy Share" / "Site.INI"
    prepared.parent.mkdir()
    prepared.write_bytes(ini_bytes({"General": {"CreateTask": "1", "RunAfterInstall": "1",
                                                "WhatIsMyIP": ip_page.url},
                                    "EmailConfig": email_settings(smtp_sink.port)}))
    older = program.ini.read_bytes()

    # A file that is not there fails the hook before it does anything.
    missing = program.run("/installer-unattended", str(prepared.parent / "site.ini"),
                          env=NO_DISPLAY)
    assert missing.returncode == 1
    assert program.ini.read_bytes() == older
    assert not scheduler.task_created()

    result = program.run("/Installer-Unattended", str(prepared), env=NO_DISPLAY)

    assert result.returncode == 0, result.messages
    assert program.ini.read_bytes() == prepared.read_bytes()
    assert program.ini.stat().st_mode & 0o7777 == 0o600
    assert scheduler.task_created()
    assert not window_skipped(result), "an unattended hook does not even try the window"
    assert len(smtp_sink.mails) == 1
    assert stored_address(program) == ADDRESS

    result = program.run("/uninstaller-purge", env=NO_DISPLAY)

    assert result.returncode == 0
    assert not program.ini.exists()
    assert not scheduler.task_created()
    assert stored_address(program) is None
