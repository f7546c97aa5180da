"""The WAN address lookup, seen through the check run: what the page answers becomes the
remembered and mailed address, by the last-line rule; a failed fetch becomes "Unknown"; the
temporary file "WAN.IP" is gone afterwards. The time bound (60 s) is shown by the unit tests
with a shortened bound."""

from __future__ import annotations

import pytest

from check_run_servers import (body_address, configure, forget_address, smtp_sink,  # noqa: F401
                               stored_address)
from ip_page import IpPage, ip_page, refused_url  # noqa: F401

KIB = 1024

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
    ("at the size bound", dict(body="x" * (64 * KIB - 13) + "\r\n203.0.113.7"), "203.0.113.7"),
    ("oversized", dict(body="x" * (64 * KIB) + "\r\n203.0.113.7"), "Unknown"),
    ("oversized, undeclared", dict(body="x" * (64 * KIB) + "\r\n203.0.113.7",
                                   declare_length=False), "Unknown"),
    ("endless", dict(body="", endless=True), "Unknown"),
    ("five redirects", dict(body="203.0.113.7\r\n", redirects=5), "203.0.113.7"),
    ("six redirects", dict(body="203.0.113.7\r\n", redirects=6), "Unknown"),
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


@pytest.mark.parametrize("answer,expected", [a[1:] for a in ANSWERS], ids=[a[0] for a in ANSWERS])
def test_page_answer_becomes_the_address(program, smtp_sink, ip_page, answer, expected):
    ip_page.answer(**answer)
    mailed = check_once(program, smtp_sink, ip_page.url)
    assert ip_page.requests, "the page was asked"
    assert stored_address(program) == expected
    assert mailed == expected


def test_refused_page_and_a_stale_file_give_unknown(program, smtp_sink):
    # A file left behind by an interrupted run is not taken for the answer.
    (program.folder / "WAN.IP").write_bytes(b"198.51.100.99\r\n")
    assert check_once(program, smtp_sink, refused_url()) == "Unknown"
    assert stored_address(program) == "Unknown"


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
