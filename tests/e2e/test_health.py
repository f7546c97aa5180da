"""Is it working? What each kind of check run records beside the stored address, the heartbeat
it pings, the alert when lookups keep failing, and the warning where administrators look."""

from __future__ import annotations

import re
import shutil
import socket
import subprocess
import time

import pytest

from check_run_servers import (Mail, body_address, email_settings, forget_address,  # noqa: F401
                               smtp_sink, wait_until)
from conftest import WINE_RUN
from health_support import Monitor, health
from ip_page import IpPage, ip_page  # noqa: F401
from smtp_server import SmtpServer
from test_send_email import stored_password

UTC = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
EVENT_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Addrwatch"


@pytest.fixture
def monitor():
    m = Monitor()
    yield m
    m.close()


@pytest.fixture(autouse=True)
def wine_session_ends(program):
    yield
    if program.is_wine:
        subprocess.run(["wineserver", "-w"], env=program.environment(), timeout=60)


def write_settings(program, page_url, smtp_port, general=None, **email):
    program.write_ini({"General": {"WhatIsMyIP": page_url, "ValidateAddress": "1",
                                   **(general or {})},
                       "EmailConfig": {**email_settings(smtp_port), **email}})


def pings(monitor) -> list[str]:
    got = [p.removeprefix(Monitor.PATH) or "up" for p in monitor.requests]
    monitor.requests.clear()
    return [p.lstrip("/") for p in got]


def start(program, env=None) -> subprocess.Popen:
    return subprocess.Popen(program.command([]), cwd=program.folder,
                            env=program.environment(env), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def test_each_kind_of_run_records_its_outcome_and_pings_its_heartbeat(program, ip_page, monitor):
    forget_address(program)
    refusing = SmtpServer(credentials=("watch", "right"))
    accepting = SmtpServer()
    try:
        def run_with(answer, server, status=200, validate="1", **email):
            ip_page.answer(answer, status=status)
            write_settings(program, ip_page.url, server.port,
                           {**monitor.settings(), "ValidateAddress": validate}, **email)
            assert program.run().returncode == 0

        wrong_logon = dict(SMTPAuth="1", SMTPUserName="watch",
                           SMTPPassword=stored_password("wrong"))
        rows = [
            # what the run meets, result, detail, FailedChecks, stored address, ping
            (lambda: run_with("203.0.113.8\r\n", accepting), "notified",
             "notice for 203.0.113.8 accepted", "0", "203.0.113.8", "up"),
            (lambda: run_with("203.0.113.8\r\n", accepting), "unchanged",
             "address 203.0.113.8, unchanged", "0", "203.0.113.8", "up"),
            (lambda: run_with("198.51.100.1\r\n", refusing, **wrong_logon), "notify-failed",
             "the mail server refused the logon: 535 5.7.8 Authentication credentials invalid",
             "1", "203.0.113.8", "fail"),
            (lambda: run_with("oops\r\n", accepting, status=500), "lookup-failed",
             "no check page gave an address: 127.0.0.1: HTTP status 500", "2", "203.0.113.8",
             "fail"),
            # With the check off an empty answer is "Unknown": stored and mailed as ever, and
            # still a failed lookup.
            (lambda: run_with("", accepting, validate="0"), "lookup-failed",
             "no check page gave an address: 127.0.0.1: empty answer", "3", "Unknown", "fail"),
        ]
        notified_at = None
        for act, result, detail, failed, address, ping in rows:
            act()
            values = health(program)
            assert values["LastCheckResult"] == result, detail
            assert values["LastCheckDetail"] == detail
            assert values["FailedChecks"] == failed, detail
            assert UTC.match(values["LastCheckTime"]), values
            assert values["LastWANIP"] == address, detail
            assert pings(monitor) == [ping], detail
            notified_at = notified_at or values["LastNotifyTime"]
            assert values["LastNotifyTime"] == notified_at, "only an accepted notice sets it"
        assert [body_address(Mail(m.mail_from, m.rcpt_tos, m.data))
                for m in accepting.recorder.messages] == ["203.0.113.8", "Unknown"]

        # A run that finds the guard held records nothing and pings nothing: the holder (here
        # stalled at the page, then killed) would record its own outcome.
        before = health(program)
        ip_page.answer(b"", stall=True)
        ip_page.requests.clear()
        holder = start(program)
        try:
            assert wait_until(lambda: len(ip_page.requests) > 0, 60)
            ip_page.requests.clear()
            assert program.run().returncode == 0
            assert ip_page.requests == []
        finally:
            holder.kill()
            holder.wait(30)
        assert health(program) == before, "LastWANIP included"
        assert pings(monitor) == []
    finally:
        refusing.close()
        accepting.close()


def test_a_failing_heartbeat_changes_nothing_and_names_only_its_host(program, ip_page, smtp_sink,
                                                                     target):
    forget_address(program)
    dead = IpPage()
    dead.answer("gone", status=404)
    try:
        ip_page.answer("203.0.113.7\r\n")
        write_settings(program, ip_page.url, smtp_sink.port,
                       {"HeartbeatURL": dead.url + "?id=s3cret"})
        result = program.run()
        assert result.returncode == 0
        assert health(program)["LastCheckResult"] == "notified"
        assert health(program)["LastWANIP"] == "203.0.113.7"
        assert len(dead.requests) == 1
        said = [m.strip() for m in result.messages if "heartbeat" in m]
        assert said == ["health\\Heartbeat: the heartbeat to 127.0.0.1 failed: HTTP status 404"]
        assert not any("s3cret" in m or "IPCheck" in m and "heartbeat" in m
                       for m in result.messages)
    finally:
        dead.close()


def test_a_stalling_heartbeat_keeps_the_run_within_its_bound(program, ip_page, smtp_sink, target):
    if target != "native":
        pytest.skip("the bound is the shared download's; once is enough")
    stalling = IpPage()
    stalling.answer(b"", stall=True)
    try:
        ip_page.answer("203.0.113.7\r\n")
        write_settings(program, ip_page.url, smtp_sink.port, {"HeartbeatURL": stalling.url})
        began = time.monotonic()
        result = program.run(timeout=60)
        took = time.monotonic() - began
        assert result.returncode == 0
        assert took < 30, f"the heartbeat held the run {took:.0f} s"
        assert len(stalling.requests) == 1
        assert health(program)["LastCheckResult"] == "notified"
        assert any("heartbeat to 127.0.0.1 failed: time-out" in m for m in result.messages)
    finally:
        stalling.close()


def test_alert_after_failures_is_sent_once_per_stretch(program, ip_page, smtp_sink):
    forget_address(program)
    write_settings(program, ip_page.url, smtp_sink.port, {"AlertAfterFailures": "2"})

    def alerts():
        return [m for m in smtp_sink.mails if "Subject: Home - IP Check Failing" in m.text]

    # run, alerts so far, AlertSent after it
    steps = [("fail", 0, "0"), ("fail", 1, "1"), ("fail", 1, "1"), ("good", 1, "0"),
             ("fail", 1, "0"), ("fail", 2, "1")]
    for i, (kind, count, sent) in enumerate(steps):
        if kind == "fail":
            ip_page.answer("down", status=503)
        else:
            ip_page.answer("203.0.113.7\r\n")
        assert program.run().returncode == 0
        assert len(alerts()) == count, f"step {i}: {kind}"
        values = health(program)
        assert values["AlertSent"] == sent, f"step {i}: {kind}"
        assert values.get("LastWANIP") == (None if i < 3 else "203.0.113.7"), f"step {i}"
    alert = alerts()[-1]
    assert alert.rcpt_tos == ["owner@example.test"]
    text = alert.text.replace("=\r\n", "")
    assert re.search(r"since \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", text)
    assert "no check page gave an address: 127.0.0.1: HTTP status 503" in text


def test_event_source_and_the_warning_of_a_failing_run(program, ip_page, smtp_sink, target):
    if target == "native":
        pytest.skip("the Application log and its event source are Windows'")
    program.write_ini({"General": {"CreateTask": "0", "RunAfterInstall": "0",
                                   "RunConfigAfterInstall": "0"}})

    def source():
        env = program.environment()
        env["WINEDEBUG"] = "-all"
        out = subprocess.run([str(WINE_RUN), "reg", "query", EVENT_KEY], env=env,
                             capture_output=True, timeout=120).stdout.decode("latin-1")
        return {p[0]: p[2] for p in (line.strip().split("    ", 2) for line in out.splitlines())
                if len(p) == 3}

    assert program.run("/installer").returncode == 0
    registered = source()
    assert registered["EventMessageFile"] == program.windows_path(program.exe)
    assert registered["TypesSupported"] == "0x7"

    ip_page.answer("down", status=503)
    write_settings(program, ip_page.url, smtp_sink.port)
    result = program.run(env={"WINEDEBUG": "-all,+debugstr,warn+eventlog"})
    events = [line for line in result.stderr.splitlines() if ":eventlog:" in line]
    warned = [line for line in events if "warn:eventlog:ReportEventW" in line]
    assert len(warned) == 1, events
    assert "Addrwatch check lookup-failed: no check page gave an address: 127.0.0.1: " \
           "HTTP status 503" in warned[0]

    assert program.run("/uninstaller").returncode == 0
    assert source() == {}


def test_a_store_that_cannot_be_written_costs_one_message(make_program, ip_page, smtp_sink,
                                                          target):
    if target != "native":
        pytest.skip("the store's folder is a POSIX matter")
    program = make_program()
    blocker = program.folder / "blocked"
    blocker.write_text("")
    write_settings(program, ip_page.url, smtp_sink.port)
    ip_page.answer("203.0.113.7\r\n")
    result = program.run(env={"ADDRWATCH_STATE_DIR": str(blocker / "state")})
    assert result.returncode == 0
    assert len(smtp_sink.mails) == 1, "the notice goes out all the same"
    said = [m.strip() for m in result.messages if m.strip().startswith("health\\")]
    assert len(said) == 1 and "the check's outcome was not recorded" in said[0], said


def test_a_failing_run_warns_in_syslog_beside_its_debug_messages(program, ip_page, smtp_sink,
                                                                target, tmp_path):
    if target != "native":
        pytest.skip("syslog is the POSIX place")
    if shutil.which("unshare") is None:
        pytest.skip("unshare is not installed")
    # The run's /dev, in a mount namespace of its own, holds a log socket the test reads.
    dev = tmp_path / "dev"
    dev.mkdir()
    log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    log.bind(str(dev / "log"))
    devices = ("null", "zero", "random", "urandom")
    for name in devices:
        (dev / name).touch()
    script = "; ".join([f"mount --bind /dev/{n} {dev}/{n}" for n in devices] +
                       [f"mount --bind {dev} /dev", 'exec "$0"'])
    ip_page.answer("down", status=503)
    write_settings(program, ip_page.url, smtp_sink.port)
    try:
        done = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-ec", script,
                               str(program.exe)], cwd=program.folder,
                              env=program.environment(), capture_output=True, timeout=60)
        assert done.returncode == 0, done.stderr[-2000:]
        log.setblocking(False)
        lines = []
        while True:
            try:
                lines.append(log.recv(65536).decode("latin-1"))
            except BlockingIOError:
                break
    finally:
        log.close()
    # LOG_USER: <12> is a warning, <15> a debug message.
    warnings = [line for line in lines if line.startswith("<12>")]
    assert len(warnings) == 1, lines
    assert warnings[0].endswith("Addrwatch check lookup-failed: no check page gave an address: "
                                "127.0.0.1: HTTP status 503")
    assert "addrwatch[" in warnings[0]
    assert any(line.startswith("<15>") for line in lines)
