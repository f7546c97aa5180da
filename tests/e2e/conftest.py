"""End-to-end harness: runs the real executable, natively and under Wine, from a private folder.

Every test gets a fresh folder holding a copy of the program (named as the test asks) and reads
what the program said on its diagnostic channel: natively stderr with ADDRWATCH_DEBUG=1, under
Wine the debugstr channel (WINEDEBUG=+debugstr). Targets: --targets native,win64 (default both).
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
from dataclasses import dataclass, field
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"
WINE_RUN = ROOT / "scripts" / "wine-run"

EXECUTABLES = {
    "native": BUILD / "native" / "addrwatch",
    "win64": BUILD / "win64" / "addrwatch.exe",
}


def pytest_addoption(parser):
    parser.addoption("--targets", default=os.environ.get("ADDRWATCH_TARGETS", "native,win64"),
                     help="comma-separated targets to run against: native, win64")


def pytest_generate_tests(metafunc):
    if "target" in metafunc.fixturenames:
        targets = [t for t in metafunc.config.getoption("targets").split(",") if t]
        metafunc.parametrize("target", targets, scope="session")


# --- diagnostic messages ---------------------------------------------------------------------

def decode_native_line(line: str) -> str:
    """Undoes the one-message-a-line escaping of the POSIX channel (see EscapeDebugLine)."""
    out, i = [], 0
    while i < len(line):
        c = line[i]
        if c == "\\" and i + 1 < len(line) and line[i + 1] in "rn\\":
            out.append({"r": "\r", "n": "\n", "\\": "\\"}[line[i + 1]])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


_WINE_DEBUGSTR = re.compile(r'^[0-9a-f]+:(?:warn|trace):debugstr:OutputDebugString[AW] "(.*)"$')
_WINE_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "a": "\a", "b": "\b",
                 "f": "\f", "v": "\v", "0": "\0"}


def decode_wine_string(s: str) -> str:
    out, i = [], 0
    while i < len(s):
        c = s[i]
        if c == "\\" and i + 1 < len(s):
            n = s[i + 1]
            if n == "x" and i + 3 < len(s) + 1:
                out.append(chr(int(s[i + 2:i + 4], 16)))
                i += 4
                continue
            if n.isdigit() and n != "0" or (n == "0" and i + 2 < len(s) and s[i + 2].isdigit()):
                j = i + 1
                while j < len(s) and j < i + 4 and s[j] in "01234567":
                    j += 1
                out.append(chr(int(s[i + 1:j], 8)))
                i = j
                continue
            out.append(_WINE_ESCAPES.get(n, n))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_messages(target: str, stderr: str) -> list[str]:
    if target == "native":
        return [decode_native_line(line) for line in stderr.split("\n")[:-1]]
    messages = []
    for line in stderr.splitlines():
        m = _WINE_DEBUGSTR.match(line)
        if m:
            messages.append(decode_wine_string(m.group(1)))
    return messages


# --- running the program ---------------------------------------------------------------------

def ini_bytes(sections: dict[str, dict[str, str]], line_end: str = "\r\n") -> bytes:
    """A settings file's text: the sections and keys in the order given."""
    lines = []
    for section, keys in sections.items():
        lines.append(f"[{section}]")
        lines.extend(f"{k}={v}" for k, v in keys.items())
    return (line_end.join(lines) + line_end).encode("latin-1")


@dataclass
class Result:
    returncode: int
    stdout: str
    stderr: str
    messages: list[str] = field(default_factory=list)


# The native program's modules: it loads them from its own folder only.
NATIVE_MODULES = ("libaddrwatch_tls.so", "libaddrwatch_qt.so")


class Program:
    """A copy of the program in its own folder, with its settings file beside it and, natively,
    links to the build's modules (modules=False leaves the program alone in its folder)."""

    def __init__(self, target: str, folder: Path, name: str, wine_prefix: Path | None,
                 modules: bool = True):
        self.target = target
        self.folder = folder
        self.name = name
        self.wine_prefix = wine_prefix
        source = EXECUTABLES[target]
        if not source.exists():
            pytest.fail(f"{source} is missing: build the {target} preset first")
        self.exe = folder / (name + source.suffix)
        shutil.copy2(source, self.exe)
        if target == "native" and modules:
            for module in NATIVE_MODULES:
                (folder / module).unlink(missing_ok=True)
                (folder / module).symlink_to(source.parent / module)
        self.state_dir = folder / "state"
        self.cron_dir = folder / "cron"

    @property
    def is_wine(self) -> bool:
        return self.target != "native"

    @property
    def ini(self) -> Path:
        return self.folder / (self.name + ".ini")

    def windows_path(self, path: Path) -> str:
        """The path as the program sees it (Wine maps the Unix root to drive Z:)."""
        return "Z:" + str(path).replace("/", "\\") if self.is_wine else str(path)

    def write_ini(self, sections: dict[str, dict[str, str]], line_end: str = "\r\n") -> None:
        self.ini.write_bytes(ini_bytes(sections, line_end))

    def environment(self, extra: dict[str, str] | None = None) -> dict[str, str]:
        env = dict(os.environ)
        env.pop("ADDRWATCH_DEBUG", None)
        if self.is_wine:
            env["WINEPREFIX"] = str(self.wine_prefix)
            env["WINEDEBUG"] = "-all,+debugstr"
            env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        else:
            env["ADDRWATCH_DEBUG"] = "1"
            env["ADDRWATCH_STATE_DIR"] = str(self.state_dir)
            env["ADDRWATCH_CRON_DIR"] = str(self.cron_dir)
        if extra:
            env.update(extra)
        return env

    def command(self, args: list[str]) -> list[str]:
        if self.is_wine:
            return [str(WINE_RUN), str(self.exe), *args]
        return [str(self.exe), *args]

    def run(self, *args: str, env: dict[str, str] | None = None, timeout: float = 120,
            cwd: Path | None = None) -> Result:
        proc = subprocess.run(self.command(list(args)), cwd=cwd or self.folder,
                              env=self.environment(env), capture_output=True, timeout=timeout)
        stderr = proc.stderr.decode("latin-1")
        return Result(proc.returncode, proc.stdout.decode("latin-1"), stderr,
                      parse_messages(self.target, stderr))


@pytest.fixture(scope="session")
def wine_prefix(tmp_path_factory) -> Path:
    """The Wine prefix of this run: $WINEPREFIX when the runner made one, else a fresh one."""
    given = os.environ.get("WINEPREFIX")
    prefix = Path(given) if given else tmp_path_factory.mktemp("wineprefix")
    env = dict(os.environ, WINEPREFIX=str(prefix))
    subprocess.run([str(WINE_RUN), "cmd", "/c", "exit"], env=env, capture_output=True, timeout=300)
    return prefix


@pytest.fixture
def make_program(target, tmp_path, request):
    """make_program(name="addrwatch") puts a copy of the program, so named, in a fresh folder."""
    prefix = request.getfixturevalue("wine_prefix") if target != "native" else None

    def make(name: str = "addrwatch", folder: Path | None = None,
             modules: bool = True) -> Program:
        where = folder or tmp_path / name
        where.mkdir(parents=True, exist_ok=True)
        return Program(target, where, name, prefix, modules)

    return make


@pytest.fixture
def program(make_program) -> Program:
    return make_program()
