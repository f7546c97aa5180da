"""The configuration window: under Wine driven through its controls; natively, what /config does
without a display and that the check run never maps the window toolkit."""

from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from conftest import BUILD, ROOT
from test_oauth_signin import (forget_sign_in, oauth_certificate, oauth_server,  # noqa: F401
                               stored_refresh_token, trusting_env)
from window_support import (IDS, RECORDER, TITLE, config_window, free_port,  # noqa: F401
                            ini_keys, smtp_sink, xvfb)

SAVE_ORDER = [
    "EmailConfig/SMTPServer", "EmailConfig/SMTPPort", "EmailConfig/SMTPUserName",
    "EmailConfig/SMTPPassword", "EmailConfig/FromEmail", "EmailConfig/ToEmail",
    "EmailConfig/SMTPAuth", "EmailConfig/UseSSL", "EmailConfig/Subject",
    "EmailConfig/OAuthProvider",
    "General/WhatIsMyIP", "General/WhatIsMyIPv6", "General/CreateTask", "General/TaskTime", "General/UninstallShortcut",
    "General/ConfigShortcut", "General/WebsiteShortcut", "General/WebsiteURL",
    "General/RunConfigAfterInstall", "General/RunAfterInstall",
    "General/CheckEvery", "General/CheckAtStartup",
]
IPV6_PAGES = "https://api6.ipify.org http://[::1]:8080/ip"
INSTALL_BOXES = ["chkCreateTask", "chkOpenConfig", "chkRunAfterInstall", "chkWebsiteShortcut",
                 "chkUninstallShortcut", "chkConfigShortcut"]


def ids(*steps: str) -> list[str]:
    """Steps with control names in place of their ids: "text:txtWebsite" -> "text:206"."""
    out = []
    for step in steps:
        verb, _, arg = step.partition(":")
        name, eq, value = arg.partition("=")
        out.append(f"{verb}:{IDS[name]}{eq}{value}" if name in IDS else step)
    return out


def read(program, section, key):
    for line_section, line in _lines(program):
        if line_section == section and line.split("=", 1)[0] == key:
            return line.split("=", 1)[1]
    return None


def _lines(program):
    section = ""
    for line in program.ini.read_text("latin-1").splitlines():
        if line.startswith("["):
            section = line.strip()[1:-1]
        elif "=" in line:
            yield section, line


def test_opens_with_defaults_switches_pages_and_saves_every_key(program, config_window):
    w = config_window()
    seen = w.drive(*ids("title", "visible:picGeneral", "visible:picSMTP",
                        "text:txtScheduledTime", "text:txtWebsite", "text:txtWhatIsMyIP",
                        *[f"check:{b}" for b in INSTALL_BOXES], "check:chkUseSSL",
                        "check:chkSMTPAuth", "items:comboSMTPPort", "text:comboSMTPPort",
                        "text:txtSMTPServer", "text:txtEmailSubject",
                        "limit:txtSMTPPassword", "items:comboCheckEvery", "text:comboCheckEvery",
                        "check:chkCheckAtStartup"))
    named = {k.split(":")[0] + ":" + _name(k): v for k, v in seen.items()}
    assert named["title:"] == TITLE
    assert (named["visible:picGeneral"], named["visible:picSMTP"]) == ("1", "0")
    assert named["text:txtScheduledTime"] == "10:00:00"
    assert named["text:txtWebsite"] == "www.quillfen.com"
    assert named["text:txtWhatIsMyIP"] == "http://www.quillfen.com/IPCheck.php"
    assert all(named[f"check:{b}"] == "1" for b in INSTALL_BOXES)
    assert (named["check:chkUseSSL"], named["check:chkSMTPAuth"]) == ("0", "0")
    assert named["items:comboSMTPPort"] == "25,465,587"
    assert named["text:comboSMTPPort"] == named["text:txtSMTPServer"] == ""
    assert named["limit:txtSMTPPassword"] == "199"
    assert named["items:comboCheckEvery"] == ("daily,12 hours,8 hours,6 hours,4 hours,3 hours,"
                                              "2 hours,1 hour")
    assert (named["text:comboCheckEvery"], named["check:chkCheckAtStartup"]) == ("daily", "0")
    w.screenshot("general")

    seen = w.drive(*ids("label:lblSideBar1", "visible:picGeneral", "visible:picSMTP"))
    assert (seen["visible:110"], seen["visible:111"]) == ("0", "1")
    w.screenshot("smtp")
    seen = w.drive(*ids("label:lblSideBar0", "visible:picGeneral", "visible:picSMTP"))
    assert (seen["visible:110"], seen["visible:111"]) == ("1", "0")

    assert not program.ini.exists()
    w.drive(*ids("settext:txtSMTPServer=smtp.example.test", "settext:comboSMTPPort=2525",
                 "settext:txtSMTPPassword=pa ss&word", "settext:txtToEmail=a@x.test, b@x.test",
                 "click:chkSMTPAuth", "click:chkCreateTask", "settext:txtScheduledTime=07:30:00",
                 "select:comboCheckEvery=3", "click:chkCheckAtStartup",
                 f"settext:txtWhatIsMyIPv6={IPV6_PAGES}", "label:lblClose1", "gone"))
    assert w.closed() == 0
    assert ini_keys(program.ini) == SAVE_ORDER
    assert read(program, "EmailConfig", "SMTPPort") == "2525"
    assert read(program, "EmailConfig", "ToEmail") == "a@x.test, b@x.test"
    assert read(program, "EmailConfig", "SMTPAuth") == "1"
    assert read(program, "General", "CreateTask") == "0"
    assert read(program, "General", "TaskTime") == "07:30:00"
    assert read(program, "General", "CheckEvery") == "6"
    assert read(program, "General", "CheckAtStartup") == "1"
    assert read(program, "General", "WhatIsMyIPv6") == IPV6_PAGES
    stored = read(program, "EmailConfig", "SMTPPassword")
    assert stored and "pa ss" not in stored

    # Opened again, the window shows what was saved, the password in clear in its box.
    again = config_window()
    seen = again.drive(*ids("text:txtSMTPPassword", "text:comboSMTPPort", "check:chkCreateTask",
                            "text:comboCheckEvery", "check:chkCheckAtStartup",
                            "text:txtWhatIsMyIPv6", "close", "gone"))
    assert seen["text:313"] == "pa ss&word"
    assert seen["text:271"] == IPV6_PAGES
    assert (seen["text:310"], seen["check:211"]) == ("2525", "0")
    assert (seen["text:261"], seen["check:262"]) == ("6 hours", "1")


def _name(key: str) -> str:
    _, _, arg = key.partition(":")
    return next((n for n, i in IDS.items() if str(i) == arg), arg)


@pytest.mark.parametrize("leave", ["label:lblClose0", "close"], ids=["cancel-and-close", "close-box"])
def test_leaving_without_saving_writes_nothing(program, config_window, leave):
    program.write_ini({"EmailConfig": {"SMTPServer": "old.example.test"}})
    before = program.ini.read_bytes()
    w = config_window()
    w.drive(*ids("settext:txtSMTPServer=new.example.test", "click:chkUseSSL", leave, "gone"))
    assert w.closed() == 0
    assert program.ini.read_bytes() == before


def test_stored_values_that_are_no_state_leave_the_initial_state(program, config_window):
    program.write_ini({"General": {"CreateTask": "yes", "RunAfterInstall": "0"},
                       "EmailConfig": {"SMTPPort": "2525", "UseSSL": "5", "StartTLS": "0"}})
    w = config_window()
    seen = w.drive(*ids("text:comboSMTPPort", "check:chkCreateTask", "check:chkUseSSL",
                        "check:chkRunAfterInstall", "label:lblClose1", "gone"))
    assert (seen["text:310"], seen["check:211"], seen["check:311"], seen["check:210"]) == \
        ("2525", "1", "0", "0")
    assert w.closed() == 0
    assert read(program, "EmailConfig", "SMTPPort") == "2525"
    assert read(program, "General", "CreateTask") == "1"
    assert read(program, "EmailConfig", "UseSSL") == "0"
    assert read(program, "General", "RunAfterInstall") == "0"
    assert read(program, "EmailConfig", "StartTLS") == "0"  # not shown, left as it was


@pytest.mark.parametrize("listening", [True, False], ids=["delivered", "closed-port"])
def test_test_email_saves_the_mail_settings_and_shows_the_outcome(program, config_window,
                                                                  smtp_sink, listening):
    port = smtp_sink.port if listening else free_port()
    w = config_window()
    seen = w.drive(*ids("label:lblSideBar1", "settext:txtSMTPServer=127.0.0.1",
                        f"settext:comboSMTPPort={port}", "settext:txtFromEmail=from@x.test",
                        "settext:txtToEmail=to@x.test", "click:cmdTestEmail", "box",
                        "visible:picSMTP", "close", "gone"))
    expected = ("Test email successfully sent!" if listening
                else "Failed to send test email, please check your settings.")
    assert seen["box"] == f"{expected}|buttons=OK|icon=0"
    assert seen["visible:111"] == "1"
    assert w.closed() == 0
    assert len(smtp_sink.messages) == (1 if listening else 0)
    assert [k for k in ini_keys(program.ini)] == SAVE_ORDER[:10]
    assert read(program, "EmailConfig", "SMTPPort") == str(port)


def test_schedule_buttons_run_the_scheduler_tool_and_confirm(program, config_window):
    shutil.copy2(RECORDER, program.folder / "schtasks.exe")
    w = config_window()
    # Every 6 hours with a start-up check, as shown: neither is saved first.
    seen = w.drive(*ids("settext:txtScheduledTime=07:30:00", "select:comboCheckEvery=3",
                        "click:chkCheckAtStartup", "click:cmdSchedule0", "box",
                        "click:cmdSchedule1", "box", "close", "gone"))
    assert w.closed() == 0
    log = (program.folder / "schtasks.log").read_text("latin-1").splitlines()
    action = f' /tr "\\"{program.windows_path(program.exe)}\\"'
    assert log == [
        '/delete /f /tn "Quillfen - Addrwatch"',
        '/create /ru system /sc HOURLY /mo 6 /st 07:30:00 /rl highest /f '
        '/tn "Quillfen - Addrwatch"' + action,
        '/create /ru system /sc ONSTART /delay 0002:00 /rl highest /f '
        '/tn "Quillfen - Addrwatch (start-up)"' + action,
        '/delete /f /tn "Quillfen - Addrwatch"',
        '/delete /f /tn "Quillfen - Addrwatch (start-up)"',
    ]
    assert not program.ini.exists()
    assert seen["box"] == "Schedule Deleted!|buttons=OK|icon=0"


def test_logon_choice_round_trips_and_sets_the_password_box(program, config_window):
    program.write_ini({"EmailConfig": {"OAuthProvider": "generic"}})
    w = config_window()
    seen = w.drive(*ids("items:comboAuth", "text:comboAuth", "enabled:txtSMTPPassword",
                        "enabled:cmdSignIn", "visible:cmdSignInCancel"))
    assert seen["items:341"] == "Password,Microsoft account,Google account,from the settings file"
    assert seen["text:341"] == "from the settings file"
    assert (seen["enabled:313"], seen["enabled:342"], seen["visible:343"]) == ("0", "1", "0")
    seen = w.drive(*ids("select:comboAuth=0", "enabled:txtSMTPPassword", "enabled:cmdSignIn"))
    assert (seen["enabled:313"], seen["enabled:342"]) == ("1", "0")
    w.drive(*ids("select:comboAuth=1", "label:lblClose1", "gone"))
    assert w.closed() == 0
    assert read(program, "EmailConfig", "OAuthProvider") == "microsoft"
    again = config_window()
    seen = again.drive(*ids("text:comboAuth", "enabled:txtSMTPPassword", "enabled:cmdSignIn",
                            "select:comboAuth=0", "label:lblClose1", "gone"))
    assert seen["text:341"] == "Microsoft account"
    assert (seen["enabled:313"], seen["enabled:342"]) == ("0", "1")
    assert again.closed() == 0
    assert read(program, "EmailConfig", "OAuthProvider") == ""


def test_window_signs_in_with_the_device_flow(program, config_window, oauth_server,
                                              trusting_env):
    """Sign In shows the code and the address while the window keeps answering; Cancel ends
    the wait; a second Sign In completes and the account appears."""
    forget_sign_in(program)
    program.write_ini({"EmailConfig": {**oauth_server.settings(), "SMTPUserName": "typed"}})
    oauth_server.device_script = ["pending"] * 1000
    w = config_window()
    seen = w.drive(*ids("label:lblSideBar1", "text:comboAuth", "enabled:txtSMTPPassword",
                        "click:cmdSignIn", f"until:txtSignInCode={oauth_server.user_code}",
                        "text:txtSignInAddress", "visible:cmdSignInCancel", "enabled:cmdSignIn",
                        "enabled:comboAuth"))
    assert seen["text:341"] == "from the settings file"
    assert seen["enabled:313"] == "0"
    assert seen["text:346"] == f"{oauth_server.url}/activate"
    assert (seen["visible:343"], seen["enabled:342"], seen["enabled:341"]) == ("1", "0", "0")
    w.screenshot("smtp-signin")
    seen = w.drive(*ids("click:cmdSignInCancel", "until:lblSignInStatus=cancelled",
                        "visible:cmdSignInCancel", "visible:txtSignInCode", "enabled:cmdSignIn"))
    assert (seen["visible:343"], seen["visible:345"], seen["enabled:342"]) == ("0", "0", "1")
    assert stored_refresh_token(program) is None

    oauth_server.device_script = ["pending"]
    seen = w.drive(*ids("click:cmdSignIn", "until:lblSignInStatus=Signed in as",
                        "text:txtSMTPUserName", "label:lblClose1", "gone"))
    assert seen["until:344"] == "Signed in as owner@example.test"
    assert seen["text:308"] == "owner@example.test"
    assert w.closed() == 0
    assert read(program, "EmailConfig", "OAuthProvider") == "generic"
    assert read(program, "EmailConfig", "SMTPUserName") == "owner@example.test"
    stored = stored_refresh_token(program)
    assert stored and oauth_server.refresh_token.encode() not in stored


def test_qt_window_signs_in_with_the_device_flow(program, request):
    """The Qt window's own sign-in test, run against the authorization server started here."""
    if program.target != "native":
        pytest.skip("the Win32 window is driven above")
    oauth_server = request.getfixturevalue("oauth_server")
    trusting_env = request.getfixturevalue("trusting_env")
    tests = BUILD / "native" / "addrwatch_window_tests"
    if not tests.exists():
        pytest.fail(f"{tests} is missing: build the native preset first")
    program.write_ini({"EmailConfig": {**oauth_server.settings(), "SMTPUserName": "typed"}})
    oauth_server.device_script = ["pending"]
    env = program.environment({**trusting_env, "QT_QPA_PLATFORM": "offscreen",
                               "ADDRWATCH_SIGNIN_INI": str(program.ini),
                               "ADDRWATCH_SIGNIN_STATE_DIR": str(program.state_dir)})
    done = subprocess.run([str(tests), "signsInWithTheDeviceFlow"], env=env,
                          capture_output=True, timeout=120)
    out = done.stdout.decode("latin-1")
    assert done.returncode == 0, out[-3000:]
    assert f"code={oauth_server.user_code} address={oauth_server.url}/activate" in out
    assert "status=Signed in as owner@example.test" in out
    assert read(program, "EmailConfig", "OAuthProvider") == "generic"
    assert read(program, "EmailConfig", "SMTPUserName") == "owner@example.test"
    assert stored_refresh_token(program) == oauth_server.refresh_token.encode()


# --- native -------------------------------------------------------------------------------

def _without_display(program, extra=None):
    env = program.environment(extra)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    env.update(extra or {})
    return env


@pytest.mark.parametrize("extra", [{}, {"DISPLAY": ":187"}, {"QT_QPA_PLATFORM": "nonexistent"}],
                         ids=["unset", "unreachable", "no platform plugin"])
def test_config_without_a_display_says_so_and_fails(program, extra):
    if program.target != "native":
        pytest.skip("Windows always has its desktop")
    done = subprocess.run(program.command(["/config"]), cwd=program.folder,
                          env=_without_display(program, extra), capture_output=True, timeout=60)
    assert done.returncode != 0
    complaint = [line for line in done.stderr.decode().splitlines()
                 if line.startswith("addrwatch:")]
    assert len(complaint) == 1
    assert "needs a graphical display" in complaint[0]
    assert str(program.ini) in complaint[0]
    assert not program.ini.exists()


def test_check_run_maps_no_window_toolkit(program):
    if program.target != "native":
        pytest.skip("the toolkit question is the POSIX build's")
    done = subprocess.run(program.command([]), cwd=program.folder,
                          env=program.environment({"LD_DEBUG": "files"}), capture_output=True,
                          timeout=120)
    loaded = done.stderr.decode("latin-1")
    assert "calling init:" in loaded  # the loader's trace is there to be read
    assert "libQt6" not in loaded and "libaddrwatch_qt" not in loaded


@pytest.mark.parametrize("settings", ["unreadable", "missing"])
def test_config_as_a_user_who_cannot_reach_the_settings_says_how_and_fails(target, make_program,
                                                                         settings):
    """Root's settings file (or root's folder without one) and a window opened by nobody: the
    window would show an empty form and save nothing, so the program says why and how instead."""
    if target != "native":
        pytest.skip("the POSIX rights of root's settings file")
    if os.geteuid() != 0:
        pytest.skip("becoming another user needs root")
    # A folder other users can reach, as /opt/addrwatch is (pytest's own is root's alone).
    folder = Path(tempfile.mkdtemp(prefix="addrwatch-foreign-"))
    try:
        folder.chmod(0o755)
        program = make_program(folder=folder / "opt", modules=False)
        program.folder.chmod(0o755)
        if settings == "unreadable":
            program.write_ini({"EmailConfig": {"SMTPPassword": "secret"}})
            program.ini.chmod(0o600)
        before = program.ini.read_bytes() if program.ini.exists() else None
        env = program.environment({"QT_QPA_PLATFORM": "offscreen"})
        done = subprocess.run(["setpriv", "--reuid", "nobody", "--regid", "nogroup",
                               "--clear-groups", str(program.exe), "/config"],
                              cwd="/", env=env, capture_output=True, timeout=60)
        complaint = [line for line in done.stderr.decode().splitlines()
                     if line.startswith("addrwatch:")]
        assert done.returncode != 0
        assert len(complaint) == 1, done.stderr
        assert str(program.ini) in complaint[0]
        assert ("cannot be read by this user" if settings == "unreadable"
                else "this user cannot create it") in complaint[0]
        assert "pkexec addrwatch /config" in complaint[0] and "sudo" in complaint[0]
        assert (program.ini.read_bytes() if program.ini.exists() else None) == before
    finally:
        shutil.rmtree(folder)
