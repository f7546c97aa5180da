"""IPv6 watched beside IPv4: one run looks up both families (IPv4 pages on 127.0.0.1, IPv6
pages on ::1) and sends one notice covering both when either changed, none otherwise; a new
address inside the same /64 is stored without a notice; a failing IPv6 lookup never costs the
IPv4 notice nor sends one by itself; a dual-stack IPv4 page's IPv6 answer is not taken; a run
killed mid-send leaves one notice for both owed."""

from __future__ import annotations

import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from check_run_servers import (Mail, email_settings, forget_address, notice_lines,  # noqa: F401
                               smtp_sink, stored_values, wait_until)
from ip_page import IpPage
from stalling_smtp import StallingSmtp

NONE_HERE = "Reachable at:  none found on this machine"


@pytest.fixture
def pages():
    made = {"v4": IpPage(), "v4b": IpPage(), "v6": IpPage(host="::1")}
    yield made
    for page in made.values():
        page.close()


def configure(program, v4: list[str], v6: list[str], smtp_port: int, **general: str) -> None:
    program.write_ini({"General": {"WhatIsMyIP": " ".join(v4), "WhatIsMyIPv6": " ".join(v6),
                                   "ValidateAddress": "1", **general},
                       "EmailConfig": email_settings(smtp_port)})


def answer(page: IpPage, text: str | None) -> None:
    if text is None:
        page.answer("busy\r\n", status=503)
    else:
        page.answer(text + "\r\n")


def new4(a):
    return f"New WAN IP Detected:  {a}"


def same4(a):
    return f"WAN IP:  {a} (unchanged)"


def new6(a, prefix):
    return [f"New WAN IPv6 Detected:  {a}", f"IPv6 prefix:  {prefix}", NONE_HERE]


def same6(a, prefix):
    return [f"WAN IPv6:  {a} (unchanged)", f"IPv6 prefix:  {prefix}", NONE_HERE]


A, B, C = "203.0.113.7", "198.51.100.1", "192.0.2.44"
P1, P2, P3 = "2001:db8:1:2::/64", "2001:db8:1:3::/64", "2001:db8:2::/64"

STEPS = [
    # what, IPv4 page, IPv6 page (None: HTTP 503), the notice's lines (None: no mail),
    # LastWANIP and LastWANIPv6 after the run (None: not read)
    ("first run", A, "2001:DB8:1:2:0:0:0:1", [new4(A), *new6("2001:db8:1:2::1", P1)],
     A, "2001:db8:1:2::1"),
    ("neither changed", A, "2001:db8:1:2::1", None, None, None),
    ("new address, same /64", A, "2001:db8:1:2::abcd", None, A, "2001:db8:1:2::abcd"),
    ("only the prefix", A, "2001:db8:1:3::1", [same4(A), *new6("2001:db8:1:3::1", P2)],
     A, "2001:db8:1:3::1"),
    ("only IPv4", B, "2001:db8:1:3::1", [new4(B), *same6("2001:db8:1:3::1", P2)],
     None, None),
    ("both", C, "2001:db8:2::5", [new4(C), *new6("2001:db8:2::5", P3)], None, None),
    ("IPv6 pages failing", A, None, [new4(A), "WAN IPv6:  not found (HTTP status 503)"],
     A, "2001:db8:2::5"),
    ("IPv6 failing alone", A, None, None, None, None),
    # The first IPv4 page is dual-stack and answers over IPv6: the next page's address is taken.
    ("dual-stack IPv4 page", "2001:db8:9::9", "2001:db8:2::5",
     [new4(B), *same6("2001:db8:2::5", P3)], B, "2001:db8:2::5"),
]


def test_one_notice_for_both_families_or_none(program, smtp_sink, pages):
    forget_address(program)
    v4, v4b, v6 = pages["v4"], pages["v4b"], pages["v6"]
    configure(program, [v4.url, v4b.url], [v6.url], smtp_sink.port)
    v4b.answer(B + "\r\n")
    mails = 0
    for what, address4, address6, lines, last4, last6 in STEPS:
        answer(v4, address4)
        answer(v6, address6)
        assert program.run().returncode == 0, what
        if lines is not None:
            mails += 1
        assert len(smtp_sink.mails) == mails, what
        if lines is not None:
            assert notice_lines(smtp_sink.mails[-1]) == lines, what
        if last4 is None:
            continue  # the notice shows it; a store read under Wine costs seconds
        stored = stored_values(program)
        assert (stored.get("lastwanip"), stored.get("lastwanipv6")) == (last4, last6), what
        assert "pendingwanip" not in stored and "pendingwanipv6" not in stored, what

    if program.is_wine:
        return  # WinHTTP cannot choose the family: the README's one-family pages
    # Natively each family's pages are asked over that family only: the IPv4 list's page on ::1
    # and the IPv6 list's page on 127.0.0.1 give nothing, whatever they answer.
    v6.answer(C + "\r\n")
    v4.answer("2001:db8:7::1\r\n")
    v4b.answer(A + "\r\n")
    configure(program, [v6.url, v4b.url], [v4.url], smtp_sink.port)
    assert program.run().returncode == 0
    assert len(smtp_sink.mails) == mails + 1
    assert notice_lines(smtp_sink.mails[-1]) == \
        [new4(A), "WAN IPv6:  not found (no address of the family asked for)"]
    assert stored_values(program).get("lastwanipv6") == "2001:db8:2::5"


def test_unrecognised_compare_is_prefix_and_address_compares_whole(program, smtp_sink, pages):
    if program.is_wine:
        pytest.skip("the setting is read and applied by portable code: one target shows it")
    forget_address(program)
    v4, v6 = pages["v4"], pages["v6"]
    v4.answer(A + "\r\n")
    steps = [
        # IPv6Compare, IPv6 answer, mails after the run
        ("prefixes", "2001:db8:1:2::1", 1),
        ("prefixes", "2001:db8:1:2::2", 1),  # a value that is no choice: the /64 decides
        ("address", "2001:db8:1:2::3", 2),
    ]
    for compare, address6, mails in steps:
        configure(program, [v4.url], [v6.url], smtp_sink.port, IPv6Compare=compare)
        v6.answer(address6 + "\r\n")
        result = program.run()
        assert len(smtp_sink.mails) == mails, compare
        assert any("IPv6Compare=prefixes is neither prefix nor address" in m
                   for m in result.messages) == (compare == "prefixes")
    assert notice_lines(smtp_sink.mails[-1])[1] == "New WAN IPv6 Detected:  2001:db8:1:2::3"


def test_a_run_killed_mid_send_leaves_one_notice_for_both(program, pages):
    smtp = StallingSmtp()
    try:
        forget_address(program)
        v4, v6 = pages["v4"], pages["v6"]
        configure(program, [v4.url], [v6.url], smtp.port)
        answer(v4, A)
        answer(v6, "2001:db8:1:2::1")
        assert program.run().returncode == 0
        assert len(smtp.mails) == 1

        answer(v4, B)
        answer(v6, "2001:db8:1:3::1")
        smtp.stall = "data_end"  # the message sent, not accepted
        run = subprocess.Popen(program.command([]), cwd=program.folder,
                               env=program.environment(), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        assert wait_until(smtp.stalled.is_set, 60)
        run.kill()
        run.wait(30)
        stored = stored_values(program)
        assert (stored["lastwanip"], stored["pendingwanip"]) == (B, B)
        assert (stored["lastwanipv6"], stored["pendingwanipv6"]) == ("2001:db8:1:3::1",) * 2

        smtp.stall = None
        for _ in range(2):  # the second run finds nothing owed
            assert program.run().returncode == 0
        assert len(smtp.mails) == 2
        assert notice_lines(smtp.mails[-1]) == [new4(B), *new6("2001:db8:1:3::1", P2)]
        stored = stored_values(program)
        assert "pendingwanip" not in stored and "pendingwanipv6" not in stored
    finally:
        smtp.close()
        if program.is_wine:
            subprocess.run(["wineserver", "-w"], env=program.environment(), timeout=60)


def test_reachable_at_names_the_machines_stable_addresses_in_the_prefix(program):
    if shutil.which("unshare") is None:
        pytest.skip("unshare is not installed")
    forget_address(program)
    program.write_ini({"General": {"WhatIsMyIP": "http://127.0.0.1:8080/IPCheck.php",
                                   "WhatIsMyIPv6": "http://[::1]:8080/IPCheck.php"},
                       "EmailConfig": dict(email_settings(0), SMTPPort="@SMTP_PORT@")})
    # The IPv4 address gives the namespace one beside loopback, as every connected machine has,
    # so the mail server's name resolves (AI_ADDRCONFIG).
    addresses = ["198.51.100.10/32", "2001:db8:1:2::10/64", "2001:db8:1:3::10/64"]
    if not program.is_wine:
        # Wine reports every address as preferred, so only the native run can show a deprecated
        # one left out.
        addresses.append("2001:db8:1:2::99/64 preferred_lft 0")
    scenario = {
        "addresses": addresses,
        "pages": [{"host": "127.0.0.1", "port": 8080, "answer": {"body": A + "\r\n"}},
                  {"host": "::1", "port": 8080, "answer": {"body": "2001:db8:1:2::abcd\r\n"}}],
        "smtp": str(program.ini), "command": program.command([]), "env": program.environment(),
    }
    if program.is_wine:
        scenario["wineserver"] = "/usr/lib/wine/wineserver64"
    runner = Path(__file__).resolve().parent / "in_namespace.py"
    proc = subprocess.run(["unshare", "--net", "--mount", sys.executable, str(runner)],
                          input=json.dumps(scenario).encode(), capture_output=True, timeout=150)
    assert proc.returncode == 0, proc.stderr.decode("latin-1")
    outcome = json.loads(proc.stdout)
    mails = outcome["mails"]
    assert len(mails) == 1, outcome["stderr"]
    # The other /64's address and the deprecated one are left out.
    assert notice_lines(Mail("", [], mails[0].encode("latin-1")))[2:] == \
        [f"IPv6 prefix:  {P1}", "Reachable at:  2001:db8:1:2::10"]
