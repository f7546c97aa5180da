"""Runs one program run inside a network namespace (and mount namespace) of its own, with the
pages it asks listening there; started by namespace_run() under `unshare --net --mount`.

Reads a JSON scenario from stdin:
    addresses   extra addresses for the namespace's lo ("198.51.100.10/32"), with options of
                `ip addr add` after them
    pages       [{"host", "port", "answer": IpPage.answer's keywords}]
    silent_dns  a resolver on 127.0.0.1:53 that reads every query and answers none, put in place
                of /etc/resolv.conf by a bind mount that only this mount namespace sees
    wineserver  the Wine prefix's server is left to end first, so that the program's own starts
                in this namespace (Wine's server makes the program's sockets)
    smtp        the settings file whose "@SMTP_PORT@" becomes the port of a mail sink that
                listens in this namespace; its mails come back as "mails" (their text)
    command, env, timeout
and writes {"returncode", "stderr", "elapsed", "requests": [paths per page]} to stdout.
"""

from __future__ import annotations

import json
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from ip_page import IpPage  # noqa: E402


def silent_resolver(folder: Path) -> socket.socket:
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 53))

    def swallow():
        while True:
            try:
                sock.recvfrom(4096)
            except OSError:
                return

    threading.Thread(target=swallow, daemon=True).start()
    # The longest waits the resolver allows, so an unbounded lookup would far outlast a page.
    conf = folder / "resolv.conf"
    conf.write_text("nameserver 127.0.0.1\noptions timeout:30 attempts:5\n")
    subprocess.run(["mount", "--bind", str(conf), "/etc/resolv.conf"], check=True)
    return sock


def main() -> None:
    scenario = json.load(sys.stdin)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    for address in scenario.get("addresses", []):
        # An address may carry options: "2001:db8::9/64 preferred_lft 0" is deprecated.
        subprocess.run(["ip", "addr", "add", *address.split(), "dev", "lo"], check=True)
    with tempfile.TemporaryDirectory() as folder:
        if scenario.get("silent_dns"):
            silent_resolver(Path(folder))
        pages = []
        for spec in scenario.get("pages", []):
            page = IpPage(host=spec["host"], port=spec["port"])
            page.answer(**spec.get("answer", {"body": ""}))
            pages.append(page)
        sink = None
        if scenario.get("smtp"):
            from smtp_server import SmtpServer
            sink = SmtpServer()
            ini = Path(scenario["smtp"])
            ini.write_bytes(ini.read_bytes().replace(b"@SMTP_PORT@", str(sink.port).encode()))
        if scenario.get("wineserver"):
            subprocess.run([scenario["wineserver"], "-w"], env=scenario["env"], timeout=120)
        started = time.monotonic()
        proc = subprocess.run(scenario["command"], env=scenario["env"], capture_output=True,
                              timeout=scenario.get("timeout", 120))
        elapsed = time.monotonic() - started
        outcome = {"returncode": proc.returncode, "stderr": proc.stderr.decode("latin-1"),
                   "elapsed": elapsed, "requests": [p.requests for p in pages]}
        if sink is not None:
            outcome["mails"] = [m.data.decode("latin-1") for m in sink.recorder.messages]
            sink.close()
        json.dump(outcome, sys.stdout)
        for page in pages:
            page.close()


if __name__ == "__main__":
    main()
