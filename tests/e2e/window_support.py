"""Fixtures for the configuration-window tests: a private X server, the window under Wine and
the driver that works its controls, a loopback SMTP server, and screenshots kept as artifacts."""

from __future__ import annotations

import os
import shutil
import socket
import subprocess
import time
from pathlib import Path

import pytest

from conftest import BUILD, ROOT, WINE_RUN

DRIVER = BUILD / "win64" / "tests" / "form1_driver.exe"
RECORDER = BUILD / "win64" / "tests" / "schtasks_recorder.exe"
SCREENSHOTS = ROOT / "build" / "screenshots"
TITLE = "Quillfen - Addrwatch   v1.0.1 "

# Control ids of the window (src/ui/form_model.h).
IDS = dict(lblSideBar0=101, lblSideBar1=102, lblClose0=104, lblClose1=105, picGeneral=110,
           picSMTP=111, txtWhatIsMyIP=201, chkConfigShortcut=204, chkWebsiteShortcut=205,
           txtWebsite=206, chkUninstallShortcut=207, chkOpenConfig=208, chkRunAfterInstall=210,
           chkCreateTask=211, txtScheduledTime=213, cmdSchedule0=215, cmdSchedule1=216,
           cmdSchedule2=217, txtSMTPServer=306, txtSMTPUserName=308, comboSMTPPort=310,
           chkUseSSL=311, txtSMTPPassword=313, chkSMTPAuth=314, txtFromEmail=316, txtToEmail=318,
           txtEmailSubject=320, cmdTestEmail=321, txtWhatIsMyIPv6=271)
# The schedule's choices beside the time.
IDS.update(lblCheckEvery=260, comboCheckEvery=261, chkCheckAtStartup=262)
IDS.update(lblAuth=340, comboAuth=341, cmdSignIn=342, cmdSignInCancel=343, lblSignInStatus=344,
           txtSignInCode=345, txtSignInAddress=346)


@pytest.fixture(scope="session")
def xvfb():
    """A private X server on a free display number; stopped at the end of the session."""
    if shutil.which("Xvfb") is None:
        pytest.skip("Xvfb is not installed")
    for number in range(90, 190):
        if Path(f"/tmp/.X{number}-lock").exists() or Path(f"/tmp/.X11-unix/X{number}").exists():
            continue
        proc = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if proc.poll() is not None or Path(f"/tmp/.X11-unix/X{number}").exists():
                break
            time.sleep(0.05)
        if proc.poll() is None:
            try:
                yield f":{number}"
            finally:
                proc.terminate()
                proc.wait(timeout=10)
            return
    pytest.fail("no free X display number")


class ConfigWindow:
    """addrwatch.exe /config under Wine on the private display, and the driver that works it."""

    def __init__(self, program, display: str):
        self.program = program
        self.display = display
        self.proc: subprocess.Popen | None = None

    def env(self) -> dict[str, str]:
        return self.program.environment({"DISPLAY": self.display})

    def open(self) -> "ConfigWindow":
        self.proc = subprocess.Popen(self.program.command(["/config"]), cwd=self.program.folder,
                                     env=self.env(), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        return self

    def drive(self, *steps: str) -> dict[str, str]:
        """Runs the driver; returns what it printed, step by step."""
        if not DRIVER.exists():
            pytest.fail(f"{DRIVER} is missing: build the win64 preset first")
        # Output through a file, not a pipe: Wine's helper processes that outlive the driver
        # would hold a pipe open.
        log = self.program.folder / "driver.out"
        with open(log, "wb") as sink:
            done = subprocess.run([str(WINE_RUN), str(DRIVER), "wait", *steps], env=self.env(),
                                  stdout=sink, stderr=subprocess.STDOUT, timeout=180)
        out = {}
        for line in log.read_text("latin-1").splitlines():
            key, _, value = line.partition("=")
            out[key] = value
        assert done.returncode == 0, out.get("error", log.read_text("latin-1")[-2000:])
        return out

    def screenshot(self, name: str) -> Path:
        rect = self.drive("rect")["rect"]
        SCREENSHOTS.mkdir(parents=True, exist_ok=True)
        path = SCREENSHOTS / f"wine-{name}.png"
        subprocess.run(["import", "-display", self.display, "-window", "root", "-crop", rect,
                        str(path)], check=True, timeout=60)
        return path

    def closed(self, timeout: float = 30) -> int:
        assert self.proc is not None
        return self.proc.wait(timeout=timeout)

    def kill(self) -> None:
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


@pytest.fixture
def config_window(program, xvfb):
    if program.target == "native":
        pytest.skip("the Qt window is driven by its QTest suite")
    windows: list[ConfigWindow] = []

    def make() -> ConfigWindow:
        w = ConfigWindow(program, xvfb).open()
        windows.append(w)
        return w

    yield make
    for w in windows:
        w.kill()


def ini_keys(path: Path) -> list[str]:
    """The keys of a settings file as "Section/Key", in the order they stand."""
    keys, section = [], ""
    for line in path.read_text("latin-1").splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line[1:-1]
        elif "=" in line:
            keys.append(f"{section}/{line.split('=', 1)[0]}")
    return keys


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SmtpSink:
    """A loopback aiosmtpd server that keeps the messages it accepts."""

    def __init__(self):
        from aiosmtpd.controller import Controller

        self.messages: list = []
        sink = self

        class Handler:
            async def handle_DATA(self, server, session, envelope):
                sink.messages.append(envelope)
                return "250 OK"

        self.port = free_port()
        self.controller = Controller(Handler(), hostname="127.0.0.1", port=self.port)
        self.controller.start()

    def stop(self):
        self.controller.stop()


@pytest.fixture
def smtp_sink():
    sink = SmtpSink()
    yield sink
    sink.stop()
