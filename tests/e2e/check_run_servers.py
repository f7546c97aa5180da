"""Peers and state for check-run tests: a plain loopback SMTP sink (the mail tests' server), the
settings that point a program at a page and a sink, and the remembered address in the real store
(the SQLite store natively, Wine's registry under Wine).
"""

from __future__ import annotations

import sqlite3
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

from smtp_server import SmtpServer, unused_port

WINE_RUN = Path(__file__).resolve().parents[2] / "scripts" / "wine-run"

KEY = r"HKLM\Software\Quillfen\Addrwatch"
VALUE = "LastWANIP"


@dataclass
class Mail:
    mail_from: str
    rcpt_tos: list[str]
    content: bytes

    @property
    def text(self) -> str:
        return self.content.decode("latin-1")


def free_port() -> int:
    """A loopback port where nothing listens: SMTP down."""
    return unused_port()


class SmtpSink:
    """The mail fixture's plain loopback SMTP server, seen as the list of mails it accepted."""

    def __init__(self):
        self._server = SmtpServer()
        self.port = self._server.port

    @property
    def mails(self) -> list[Mail]:
        return [Mail(m.mail_from, m.rcpt_tos, m.data) for m in self._server.recorder.messages]

    def close(self):
        self._server.close()


@pytest.fixture
def smtp_sink():
    sink = SmtpSink()
    yield sink
    sink.close()


def email_settings(port: int) -> dict[str, str]:
    return {
        "SMTPServer": "127.0.0.1",
        "SMTPPort": str(port),
        "FromEmail": "addrwatch@example.test",
        "ToEmail": "owner@example.test",
        "Subject": "Home",
        "UseSSL": "0",
        "SMTPAuth": "0",
    }


def configure(program, page_url: str | None, smtp_port: int) -> None:
    general = {} if page_url is None else {"WhatIsMyIP": page_url}
    program.write_ini({"General": general, "EmailConfig": email_settings(smtp_port)})


def body_address(mail: Mail) -> str:
    """The address as the notice reports it (between the fixed lead-in and the footer)."""
    text = mail.text.replace("\r\n", "\n")
    lead = "New WAN IP Detected:  "
    start = text.index(lead) + len(lead)
    end = text.index("\n\nThis message sent by ", start)
    return text[start:end]


# --- the remembered address ------------------------------------------------------------------

def _wine(program, *args: str) -> subprocess.CompletedProcess:
    env = program.environment()
    env["WINEDEBUG"] = "-all"
    return subprocess.run([str(WINE_RUN), *args], env=env, capture_output=True, timeout=120)


def stored_address(program) -> str | None:
    """LastWANIP as the program would read it, or None when it is absent."""
    if program.is_wine:
        out = _wine(program, "reg", "query", KEY, "/v", VALUE).stdout.decode("latin-1")
        marker = "REG_SZ    "
        if marker not in out:
            return None
        value = out[out.index(marker) + len(marker):]
        return value[:-4] if value.endswith("\r\n\r\n") else value.rstrip("\r\n")
    db = program.state_dir / "registry.db"
    if not db.exists():
        return None
    with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as con:
        row = con.execute("SELECT data FROM vals WHERE lower(name) = lower(?)", (VALUE,)).fetchone()
    if row is None:
        return None
    data = row[0] if isinstance(row[0], bytes) else str(row[0]).encode("latin-1")
    return data.rstrip(b"\0").decode("latin-1")


def forget_address(program) -> None:
    """A first run: no remembered address (Wine's registry outlives a test; the store does not)."""
    if program.is_wine:
        _wine(program, "reg", "delete", KEY, "/f")


def wait_until(predicate, timeout: float = 5.0) -> bool:
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def configure_text(page_url: str, smtp_port: int) -> bytes:
    """The settings file for a page and a sink, as bytes (for scripts outside pytest)."""
    lines = ["[General]", f"WhatIsMyIP={page_url}", "[EmailConfig]"]
    lines += [f"{k}={v}" for k, v in email_settings(smtp_port).items()]
    return ("\r\n".join(lines) + "\r\n").encode("latin-1")


def stored_values(program) -> dict[str, str]:
    """Every value under the key as the program would read it, names in lower case."""
    if program.is_wine:
        out = _wine(program, "reg", "query", KEY).stdout.decode("latin-1")
        values = {}
        for line in out.split("\r\n"):
            name, kind, value = (line.strip().split(None, 2) + ["", "", ""])[:3]
            if kind == "REG_SZ":
                values[name.lower()] = value
        return values
    db = program.state_dir / "registry.db"
    if not db.exists():
        return {}
    with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as con:
        rows = con.execute("SELECT name, data FROM vals").fetchall()
    values = {}
    for name, data in rows:
        data = data if isinstance(data, bytes) else str(data).encode("latin-1")
        values[name.lower()] = data.rstrip(b"\0").decode("latin-1")
    return values


def notice_lines(mail: Mail) -> list[str]:
    """The notice's lines, between the headers and the footer's empty line."""
    text = mail.text.replace("\r\n", "\n")
    body = text.split("\n\n", 1)[1]
    return body[:body.index("\n\nThis message sent by ")].split("\n")
