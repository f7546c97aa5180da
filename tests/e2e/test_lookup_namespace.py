"""The lookup against addresses that only a network namespace of the test's own can have: a
public-looking page (198.51.100.10 on the namespace's lo) that redirects into this machine or
the link-local space is refused before the request goes out (natively and under Wine, which runs
its server in the namespace), and a resolver that never answers does not hold a page past its
60 s (natively). As root (unshare)."""

from __future__ import annotations

import json
import shutil
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

from check_run_servers import email_settings, free_port
from conftest import parse_messages

RUNNER = Path(__file__).resolve().parent / "in_namespace.py"
NO_ADDRESS = "GetWanIP: no check page gave an address"
PUBLIC_PAGE = "198.51.100.10"


WINESERVER = "/usr/lib/wine/wineserver64"


@pytest.fixture
def inside(program):
    if shutil.which("unshare") is None:
        pytest.skip("unshare is not installed")
    return program


@pytest.fixture
def native(inside):
    if inside.is_wine:
        pytest.skip("the resolver's bound is the POSIX build's: the Windows download waits only "
                    "until its deadline whatever its worker does")
    return inside


def run_in_namespace(program, pages: list[str], scenario: dict, timeout: float = 120,
                     smtp_server: str = "127.0.0.1") -> dict:
    # No mail goes out from these runs: the SMTP port is one where nothing listens.
    program.write_ini({"General": {"WhatIsMyIP": " ".join(pages), "ValidateAddress": "1"},
                       "EmailConfig": dict(email_settings(free_port()), SMTPServer=smtp_server)})
    scenario = dict(scenario, command=program.command([]), env=program.environment(),
                    timeout=timeout)
    if program.is_wine:
        scenario["wineserver"] = WINESERVER
    proc = subprocess.run(["unshare", "--net", "--mount", sys.executable, str(RUNNER)],
                          input=json.dumps(scenario).encode(), capture_output=True,
                          timeout=timeout + 30)
    assert proc.returncode == 0, proc.stderr.decode("latin-1")
    outcome = json.loads(proc.stdout)
    outcome["messages"] = parse_messages(program.target, outcome["stderr"])
    return outcome


def lookup_message(outcome: dict) -> str:
    notices = [m for m in outcome["messages"] if NO_ADDRESS in m]
    assert len(notices) == 1, outcome["messages"]
    return notices[0]


# where the public page sends the run, whether it is followed
REDIRECTS = [
    ("loopback", "127.0.0.1", False),
    ("0.0.0.0 (this machine)", "0.0.0.0", False),
    ("link-local", "169.254.169.254", False),
    ("public", "198.51.100.11", True),
]


@pytest.mark.parametrize("client", ["own client", "libcurl"])
@pytest.mark.parametrize("where,host,followed", REDIRECTS, ids=[r[0] for r in REDIRECTS])
def test_a_public_page_cannot_lead_inside(inside, client, where, host, followed):
    if client == "libcurl" and inside.is_wine:
        pytest.skip("libcurl is the POSIX build's")
    target = f"http://{host}:8081/IPCheck.php"
    # A user name in the address is libcurl's to fetch; the own client takes the rest.
    first = f"http://{'probe@' if client == 'libcurl' else ''}{PUBLIC_PAGE}:8080/IPCheck.php"
    listen = "0.0.0.0" if host == "0.0.0.0" else host
    outcome = run_in_namespace(inside, [first], {
        "addresses": [f"{PUBLIC_PAGE}/32", "198.51.100.11/32", "169.254.169.254/32"],
        "pages": [
            {"host": PUBLIC_PAGE, "port": 8080, "answer": {"body": "", "location": target}},
            {"host": listen, "port": 8081, "answer": {"body": "203.0.113.7\r\n"}},
        ],
    })
    assert outcome["returncode"] == 0
    public_requests, inside_requests = outcome["requests"]
    assert len(public_requests) == 1
    if followed:
        assert inside_requests == ["/IPCheck.php"]
        assert not [m for m in outcome["messages"] if NO_ADDRESS in m]
    else:
        assert inside_requests == [], "nothing reached the address inside"
        assert "redirect from a public address refused: " in lookup_message(outcome)


def test_a_resolver_that_never_answers_holds_a_page_and_the_mail_server_only_for_their_waits(
        native, make_program):
    # The two runs wait side by side, each in its own folder and namespace.
    page = "http://ipcheck.example.test:8080/IPCheck.php"
    mailing = make_program(folder=native.folder.parent / "mailing")
    port = free_port()
    mail_page = f"http://127.0.0.1:{port}/IPCheck.php"
    runs = {
        "page": lambda: run_in_namespace(native, [page], {"silent_dns": True}, timeout=170),
        "mail": lambda: run_in_namespace(
            mailing, [mail_page], {"silent_dns": True,
                                   "pages": [{"host": "127.0.0.1", "port": port,
                                              "answer": {"body": "203.0.113.7\r\n"}}]},
            timeout=170, smtp_server="smtp.example.test"),
    }
    with ThreadPoolExecutor(len(runs)) as pool:
        futures = {name: pool.submit(run) for name, run in runs.items()}
        outcomes = {name: future.result() for name, future in futures.items()}
    for name, outcome in outcomes.items():
        assert outcome["returncode"] == 0, name
        # 60 s for the page or the connection, with room for a slow machine; the resolver alone
        # would take minutes.
        assert outcome["elapsed"] < 100, (name, outcome["elapsed"])
    assert f"{page} (time-out)" in lookup_message(outcomes["page"])
    assert outcomes["mail"]["requests"] == [["/IPCheck.php"]]
    assert any("The server did not answer in time." in m for m in outcomes["mail"]["messages"]), \
        outcomes["mail"]["messages"]
