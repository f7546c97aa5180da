"""The health values a check run leaves beside LastWANIP, read from the real store (SQLite
natively, Wine's registry under Wine), and a loopback heartbeat monitor."""

from __future__ import annotations

import sqlite3

from check_run_servers import KEY, _wine
from ip_page import IpPage

HEALTH = ("LastCheckTime", "LastCheckResult", "LastCheckDetail", "LastNotifyTime",
          "FailedChecks", "AlertSent")


def stored_values(program) -> dict[str, str]:
    """Every text value under the program's key, by name."""
    if program.is_wine:
        out = _wine(program, "reg", "query", KEY).stdout.decode("latin-1")
        values = {}
        for line in out.splitlines():
            parts = line.strip().split("    ", 2)
            if len(parts) == 3 and parts[1] == "REG_SZ":
                values[parts[0]] = parts[2]
            elif len(parts) == 2 and parts[1] == "REG_SZ":
                values[parts[0]] = ""
        return values
    db = program.state_dir / "registry.db"
    if not db.exists():
        return {}
    with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as con:
        rows = con.execute("SELECT name, data FROM vals").fetchall()
    return {name: (data if isinstance(data, bytes) else str(data).encode("latin-1"))
            .rstrip(b"\0").decode("latin-1") for name, data in rows}


def health(program) -> dict[str, str]:
    """The health values and the stored address, read in one go."""
    values = stored_values(program)
    return {k: values[k] for k in (*HEALTH, "LastWANIP") if k in values}


class Monitor(IpPage):
    """A heartbeat monitor: answers every ping with "OK" and records its path."""

    PATH = "/ping/0f3c-secret-id"

    def __init__(self):
        super().__init__()
        self.answer("OK")

    def settings(self) -> dict[str, str]:
        return {"HeartbeatURL": self.url, "HeartbeatFailURL": self.url + "/fail"}
