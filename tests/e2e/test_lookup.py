"""The WAN address lookup, seen through the check run: what the page answers becomes the
remembered and mailed address, by the last-line rule; a failed fetch becomes "Unknown"; the
temporary file "WAN.IP" is gone afterwards. The time bound (60 s) is shown by the unit tests
with a shortened bound."""

from __future__ import annotations

import os
import shutil
import time
from pathlib import Path

import pytest

from check_run_servers import (body_address, configure, forget_address, smtp_sink,  # noqa: F401
                               stored_address)
from ip_page import IpPage, ip_page, refused_url  # noqa: F401
from smtp_server import LoopbackCa

KIB = 1024
MIB = 1024 * KIB

# name, how the page answers, the expected address
ANSWERS = [
    ("crlf", dict(body="203.0.113.7\r\n"), "203.0.113.7"),
    ("no line end", dict(body="203.0.113.7"), "203.0.113.7"),
    ("several lines", dict(body="proxy\r\n198.51.100.1\r\n203.0.113.7\r\n"), "203.0.113.7"),
    ("cr only", dict(body="198.51.100.1\r203.0.113.7\r"), "203.0.113.7"),
    ("trailing empty line", dict(body="203.0.113.7\r\n\r\n"), "Unknown"),
    ("lf only", dict(body="203.0.113.7\nsecond\n"), "203.0.113.7\nsecond\n"),
    ("blanks kept", dict(body=" 203.0.113.7 \r\n"), " 203.0.113.7 "),
    ("html page", dict(body="<html>\r\n<body>Service busy</body>\r\n</html>",
                       content_type="text/html"), "</html>"),
    ("empty", dict(body=""), "Unknown"),
    ("404 page", dict(body="<h1>Not Found</h1>\r\n<p>nothing here</p>\r\n", status=404,
                      content_type="text/html"), "<p>nothing here</p>"),
    ("500 page", dict(body="busy\r\n203.0.113.9", status=500), "203.0.113.9"),
    ("shorter than its length", dict(body="203.0.113.7\r\n", content_length=40), "Unknown"),
    ("held open after the answer", dict(body="203.0.113.7\r\n", hold_open=True), "203.0.113.7"),
    ("at the size bound", dict(body="x" * (64 * KIB - 13) + "\r\n203.0.113.7"), "203.0.113.7"),
    ("oversized", dict(body="x" * (64 * KIB) + "\r\n203.0.113.7"), "Unknown"),
    ("oversized, undeclared", dict(body="x" * (64 * KIB) + "\r\n203.0.113.7",
                                   declare_length=False), "Unknown"),
    ("endless", dict(body="", endless=True), "Unknown"),
    ("10 MiB", dict(body="x" * (10 * MIB)), "Unknown"),
    ("five redirects", dict(body="203.0.113.7\r\n", redirects=5), "203.0.113.7"),
    ("redirect to file:", dict(body="", location="file:///etc/hostname"), "Unknown"),
]


def check_once(program, smtp_sink, page_url):
    forget_address(program)
    configure(program, page_url, smtp_sink.port)
    result = program.run()
    assert result.returncode == 0
    assert not (program.folder / "WAN.IP").exists()
    assert len(smtp_sink.mails) == 1, "a first run always sends one notice"
    return body_address(smtp_sink.mails[0])


def file_sizes(*folders: Path) -> dict[str, int]:
    sizes = {}
    for folder in folders:
        for root, _, files in os.walk(folder):
            for name in files:
                path = os.path.join(root, name)
                try:
                    sizes[path] = os.lstat(path).st_size
                except OSError:
                    pass
    return sizes


@pytest.mark.parametrize("answer,expected", [a[1:] for a in ANSWERS], ids=[a[0] for a in ANSWERS])
def test_page_answer_becomes_the_address(program, smtp_sink, ip_page, answer, expected):
    ip_page.answer(**answer)
    # Nothing of an answer reaches the disk beyond the bound: not in the program's folder, and
    # under Wine not in any cache of the prefix either.
    watched = [program.folder] + ([program.wine_prefix] if program.is_wine else [])
    before = file_sizes(*watched)
    started = time.monotonic()
    mailed = check_once(program, smtp_sink, ip_page.url)
    elapsed = time.monotonic() - started
    grown = {path: size for path, size in file_sizes(*watched).items()
             if size - before.get(path, 0) > 64 * KIB}
    assert not grown
    assert ip_page.requests, "the page was asked"
    assert stored_address(program) == expected
    assert mailed == expected
    if answer.get("hold_open"):
        # The answer ends at its Content-Length, not when the 60 s bound ends the wait.
        assert elapsed < 20


@pytest.mark.parametrize("how", ["six redirects", "a loop"])
def test_redirects_past_five_are_refused_after_at_most_six_requests(program, smtp_sink, ip_page,
                                                                      how):
    if how == "a loop":
        ip_page.answer("", location=ip_page.url)
    else:
        ip_page.answer("203.0.113.7\r\n", redirects=6)
    assert check_once(program, smtp_sink, ip_page.url) == "Unknown"
    assert len(ip_page.requests) <= 6


@pytest.fixture(scope="module")
def page_certificate(tmp_path_factory):
    if not shutil.which("openssl"):
        pytest.skip("openssl is not installed")
    ca = LoopbackCa(tmp_path_factory.mktemp("page-ca"))
    return ca, ca.server_certificate("localhost", ["localhost"], ["127.0.0.1"])


def test_a_slow_redirect_to_https_asks_each_page_once(program, smtp_sink, ip_page,
                                                      page_certificate):
    if program.is_wine:
        pytest.skip("the hand-over between two clients is the POSIX build's")
    ca, certificate = page_certificate
    secure = IpPage(certificate=certificate)
    try:
        secure.answer("203.0.113.7\r\n")
        ip_page.answer("", location=secure.url, delay=3)
        forget_address(program)
        configure(program, ip_page.url, smtp_sink.port)
        started = time.monotonic()
        result = program.run(env={"SSL_CERT_FILE": str(ca.cert)})
        elapsed = time.monotonic() - started
        assert result.returncode == 0
        assert [body_address(m) for m in smtp_sink.mails] == ["203.0.113.7"]
        assert (len(ip_page.requests), len(secure.requests)) == (1, 1)
        assert elapsed < 60
    finally:
        secure.close()


def test_refused_page_and_stale_files_give_unknown(program, smtp_sink):
    # Files left behind by an interrupted run are not taken for the answer, and go.
    (program.folder / "WAN.IP").write_bytes(b"198.51.100.99\r\n")
    (program.folder / "WAN.IP.part").write_bytes(b"198.51.100.98\r\n")
    assert check_once(program, smtp_sink, refused_url()) == "Unknown"
    assert stored_address(program) == "Unknown"
    assert not (program.folder / "WAN.IP.part").exists()


@pytest.mark.parametrize("general", [{}, {"WhatIsMyIP": ""}], ids=["missing", "empty"])
def test_without_a_page_setting_the_built_in_page_is_asked(program, smtp_sink, ip_page, general):
    # The built-in page is on the Internet, which this machine cannot reach: the run still ends
    # normally with "Unknown" and our page hears nothing. (The choice of the page itself is
    # checked by the unit tests.)
    forget_address(program)
    configure(program, None, smtp_sink.port)
    ini = program.ini.read_bytes().replace(b"[General]\r\n",
                                           b"[General]\r\n" + b"".join(
                                               f"{k}={v}\r\n".encode() for k, v in general.items()))
    program.ini.write_bytes(ini)
    result = program.run()
    assert result.returncode == 0
    assert [body_address(m) for m in smtp_sink.mails] == ["Unknown"]
    assert not ip_page.requests
    assert not (program.folder / "WAN.IP").exists()


def test_a_blank_page_setting_is_used_as_it_stands(program, smtp_sink):
    forget_address(program)
    configure(program, '" "', smtp_sink.port)
    program.run()
    assert [body_address(m) for m in smtp_sink.mails] == ["Unknown"]
    assert not (program.folder / "WAN.IP").exists()
