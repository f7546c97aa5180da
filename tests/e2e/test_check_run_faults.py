"""The check run under faults: a run killed at each step of a changed run still gets its notice
out (at least once), runs started together do the work once, and nobody else can keep the guard
from a run."""

from __future__ import annotations

import os
import subprocess
import time

import pytest

from check_run_servers import body_address, configure, forget_address, stored_address, wait_until
from conftest import BUILD, WINE_RUN
from ip_page import ip_page  # noqa: F401
from stalling_smtp import StallingSmtp

OLD, NEW = "203.0.113.7", "198.51.100.1"
SQUATTER = BUILD / "win64" / "hold_named_mutex.exe"
OLD_GUARD_NAME = r"Global\Quillfen-Addrwatch-CheckRun"


@pytest.fixture
def smtp():
    server = StallingSmtp()
    yield server
    server.close()


@pytest.fixture(autouse=True)
def wine_session_ends(program):
    """Under Wine, the session these runs started (without a display) ends with the test, so a
    window test that follows starts a fresh one on its own display."""
    yield
    if program.is_wine:
        subprocess.run(["wineserver", "-w"], env=program.environment(), timeout=60)


def mailed(server) -> list[str]:
    return [body_address(m) for m in server.mails]


def start(program) -> subprocess.Popen:
    return subprocess.Popen(program.command([]), cwd=program.folder, env=program.environment(),
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def test_a_run_killed_at_any_step_leaves_the_notice_owed(program, smtp, ip_page):
    kill_points = [
        # where the run is stopped, what is stored then, the notices of NEW in the end
        ("page lookup", OLD, 1),
        ("greeting", NEW, 1),  # stored, nothing sent yet
        ("data_end", NEW, 1),  # the message sent, not accepted
        # Accepted: the mark went with the acceptance, the goodbye does not matter.
        ("quit", NEW, 1),
    ]
    for step, stored_when_killed, notices in kill_points:
        forget_address(program)
        configure(program, ip_page.url, smtp.port)
        ip_page.answer(OLD + "\r\n")
        smtp.stall = None
        smtp.mails.clear()
        assert program.run().returncode == 0
        assert mailed(smtp) == [OLD]

        smtp.stalled.clear()
        if step == "page lookup":
            ip_page.answer(b"", stall=True)
        else:
            ip_page.answer(NEW + "\r\n")
            smtp.stall = step
        ip_page.requests.clear()
        run = start(program)
        reached = (lambda: len(ip_page.requests) > 0) if step == "page lookup" \
            else smtp.stalled.is_set
        assert wait_until(reached, 60), step
        run.kill()  # SIGKILL; under Wine that ends the Windows process as abruptly
        run.wait(30)
        assert stored_address(program) == stored_when_killed, step

        smtp.stall = None
        ip_page.answer(NEW + "\r\n")
        for _ in range(2):  # the second run finds nothing owed
            assert program.run().returncode == 0
        assert mailed(smtp) == [OLD] + [NEW] * notices, step
        assert stored_address(program) == NEW, step


def test_runs_started_together_do_the_work_once(program, smtp, ip_page):
    forget_address(program)
    configure(program, ip_page.url, smtp.port)
    ip_page.answer(OLD + "\r\n")
    assert program.run().returncode == 0
    ip_page.requests.clear()

    # The run that gets in holds at the mail server until the others are gone.
    ip_page.answer(NEW + "\r\n")
    smtp.stall = "greeting"
    runs = [start(program) for _ in range(4)]
    assert wait_until(smtp.stalled.is_set, 60)
    end = time.monotonic() + 60
    while sum(r.poll() is None for r in runs) > 1 and time.monotonic() < end:
        time.sleep(0.05)
    smtp.release()
    outputs = [r.communicate(timeout=60)[1].decode("latin-1") for r in runs]

    assert all(r.returncode == 0 for r in runs)
    assert len(ip_page.requests) == 1
    assert mailed(smtp) == [OLD, NEW]
    assert stored_address(program) == NEW
    refusals = [o.count("another check run is in progress") for o in outputs]
    assert sorted(refusals) == [0, 1, 1, 1]


def test_a_squatter_of_the_old_guard_name_does_not_stop_the_run(program, smtp, ip_page):
    if not program.is_wine:
        pytest.skip("a named object is a Windows thing")
    if not SQUATTER.exists():
        pytest.fail(f"{SQUATTER} is missing: build the win64 preset first")
    forget_address(program)
    configure(program, ip_page.url, smtp.port)
    ip_page.answer(NEW + "\r\n")
    ready = program.folder / "squatter.ready"
    squatter = subprocess.Popen([str(WINE_RUN), str(SQUATTER), OLD_GUARD_NAME,
                                 program.windows_path(ready)], env=program.environment(),
                                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
    try:
        assert wait_until(ready.exists, 60), squatter.poll()
        result = program.run()
        assert squatter.poll() is None, "the squatter held the name throughout"
    finally:
        squatter.stdin.close()
        try:
            squatter.wait(30)
        except subprocess.TimeoutExpired:
            squatter.kill()
            squatter.wait(30)
    assert squatter.returncode == 0, squatter.stderr.read().decode("latin-1")
    assert result.returncode == 0
    assert not any("another check run" in m for m in result.messages)
    assert mailed(smtp) == [NEW]
    assert stored_address(program) == NEW


def plant_folder(lock, elsewhere):
    lock.mkdir()


def plant_hard_link(lock, elsewhere):
    elsewhere.write_bytes(b"someone else's file")
    os.link(elsewhere, lock)


@pytest.mark.parametrize("plant", [plant_folder, plant_hard_link], ids=["folder", "hard link"])
def test_no_plain_file_in_place_of_the_lock_lets_the_run_go_on(plant, program, smtp, ip_page,
                                                                tmp_path):
    if not program.is_wine:
        pytest.skip("the Windows guard's file; the POSIX one lives in the state folder")
    # A guard the system cannot provide never costs the check, and what was planted stays as it is.
    lock, elsewhere = program.folder / "check-run.lock", tmp_path / "elsewhere"
    plant(lock, elsewhere)
    forget_address(program)
    configure(program, ip_page.url, smtp.port)
    ip_page.answer(NEW + "\r\n")

    result = program.run()

    assert result.returncode == 0
    assert sum("running unguarded" in m for m in result.messages) == 1, result.messages
    assert mailed(smtp) == [NEW]
    if elsewhere.exists():
        assert elsewhere.read_bytes() == b"someone else's file"
