"""The check run with the real store (or Wine's registry) and a loopback SMTP sink: store and
notify on a change, stay quiet otherwise, and never lose a notice to a failed send."""

from __future__ import annotations

import os
import struct

import pytest

from check_run_servers import (SmtpSink, body_address, configure, forget_address, free_port,
                               smtp_sink, stored_address)  # noqa: F401
from ip_page import ip_page  # noqa: F401


def mailed(sink) -> list[str]:
    return [body_address(m) for m in sink.mails]


def test_notifies_once_per_change(program, smtp_sink, ip_page):
    forget_address(program)
    configure(program, ip_page.url, smtp_sink.port)

    steps = [
        # page answer, addresses mailed so far, remembered address
        ("203.0.113.7\r\n", ["203.0.113.7"], "203.0.113.7"),  # first run
        ("203.0.113.7\r\n", ["203.0.113.7"], "203.0.113.7"),  # same answer: nothing
        ("203.0.113.7 \r\n", ["203.0.113.7", "203.0.113.7 "], "203.0.113.7 "),  # a blank differs
        ("198.51.100.1\r\n", ["203.0.113.7", "203.0.113.7 ", "198.51.100.1"], "198.51.100.1"),
        ("", ["203.0.113.7", "203.0.113.7 ", "198.51.100.1", "Unknown"], "Unknown"),
        ("", ["203.0.113.7", "203.0.113.7 ", "198.51.100.1", "Unknown"], "Unknown"),
    ]
    for answer, mails, remembered in steps:
        ip_page.answer(answer)
        result = program.run()
        assert result.returncode == 0
        assert mailed(smtp_sink) == mails, answer
        assert stored_address(program) == remembered, answer
    mail = smtp_sink.mails[0]
    assert mail.rcpt_tos == ["owner@example.test"]
    assert len(ip_page.requests) == len(steps), "one page request per run"


def test_failed_send_keeps_the_notice_for_the_next_run(program, smtp_sink, ip_page):
    forget_address(program)
    configure(program, ip_page.url, smtp_sink.port)
    ip_page.answer("203.0.113.7\r\n")
    program.run()
    assert mailed(smtp_sink) == ["203.0.113.7"]

    # SMTP down: nothing arrives and the old address is put back...
    ip_page.answer("198.51.100.1\r\n")
    configure(program, ip_page.url, free_port())
    program.run()
    assert stored_address(program) == "203.0.113.7"

    # ...so the next run with SMTP up sends the notice.
    configure(program, ip_page.url, smtp_sink.port)
    program.run()
    assert mailed(smtp_sink) == ["203.0.113.7", "198.51.100.1"]
    assert stored_address(program) == "198.51.100.1"


def test_first_run_with_smtp_down_is_retried(program, smtp_sink, ip_page):
    forget_address(program)
    ip_page.answer("203.0.113.7\r\n")
    configure(program, ip_page.url, free_port())
    program.run()
    assert stored_address(program) in (None, "")
    configure(program, ip_page.url, smtp_sink.port)
    program.run()
    assert mailed(smtp_sink) == ["203.0.113.7"]
    assert stored_address(program) == "203.0.113.7"


def test_unwritable_store_still_sends(make_program, smtp_sink, ip_page, target):
    if target != "native":
        pytest.skip("the store's folder is a POSIX matter")
    program = make_program()
    # The store's folder cannot be created (its path runs through a file): this holds for root
    # too, unlike a folder without write permission.
    blocker = program.folder / "blocked"
    blocker.write_text("")
    env = {"ADDRWATCH_STATE_DIR": str(blocker / "state")}
    configure(program, ip_page.url, smtp_sink.port)
    ip_page.answer("203.0.113.7\r\n")
    for _ in range(2):
        assert program.run(env=env).returncode == 0
    # Nothing could be remembered, so each run sees a change and sends.
    assert mailed(smtp_sink) == ["203.0.113.7", "203.0.113.7"]


def test_check_run_is_silent(program, smtp_sink, ip_page):
    forget_address(program)
    configure(program, ip_page.url, smtp_sink.port)
    ip_page.answer("203.0.113.7\r\n")
    env = {"ADDRWATCH_DEBUG": "0", "DISPLAY": ""}
    if program.is_wine:
        env["WINEDEBUG"] = "-all"
    result = program.run(env=env)
    assert result.returncode == 0
    assert mailed(smtp_sink) == ["203.0.113.7"], "a changed address run, mail included"
    assert result.stdout == ""
    assert result.stderr == ""
    if program.is_wine:
        # A GUI-subsystem program: Windows opens no console window for it.
        data = program.exe.read_bytes()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        subsystem = struct.unpack_from("<H", data, pe + 24 + 68)[0]
        assert subsystem == 2
    else:
        maps = os.popen(f"ldd {program.exe}").read()
        assert "libQt" not in maps
