"""SendEmail against real SMTP servers on loopback, natively and under Wine.

A test-only program (send_email_probe) runs InitAppSettings and SendEmail(address) with the
settings file beside it and prints the result; its first three messages are the start banner.
"""

from __future__ import annotations

import base64
import os
import shutil
import socket
import subprocess
import threading
from email import message_from_bytes
from email.policy import default as default_policy

import pytest

from check_run_servers import email_settings, forget_address, stored_address
from conftest import BUILD, WINE_RUN, parse_messages
from ip_page import ip_page  # noqa: F401
from smtp_server import FloodingServer, RawServer, SmtpServer, LoopbackCa, unused_port

ADDRESS = "203.0.113.7"
BODY = (b"New WAN IP Detected:  203.0.113.7\r\n\r\n"
        b"This message sent by Quillfen - Addrwatch   v1.0.1 \r\n")
TRAP = "\tSendEmail: (Resuming after error)"
USER, PASSWORD = "watcher", "S3cret pass!"
KEY = b"4726150"

# Error numbers of the second log line (signed 32-bit, as the log prints them).
CONNECT_FAILED = -2147220973
CONNECTION_LOST = -2147220974
RECIPIENTS_REJECTED = -2147220977
LOGON_FAILED = -2147220969
SEND_FAILED = -2147220975
TIMED_OUT = -2147220968
SECURE_CHANNEL_FAILED = -2147220967


def stored_password(password: str) -> str:
    framed = b"a" + password.encode() + b"a"
    scrambled = bytes(c ^ KEY[i % len(KEY)] for i, c in enumerate(framed))
    return (base64.a85encode(scrambled) + b"~>").decode()


# --- fixtures ---------------------------------------------------------------------------------

@pytest.fixture(scope="session")
def test_ca(tmp_path_factory):
    if not shutil.which("openssl"):
        pytest.skip("openssl is not installed")
    ca = LoopbackCa(tmp_path_factory.mktemp("ca"))
    ca.localhost = ca.server_certificate("localhost", ["localhost"], ["127.0.0.1"])
    ca.other = ca.server_certificate("other", ["mail.other.test"])
    return ca


@pytest.fixture(scope="session")
def wine_trusts_test_ca(test_ca, wine_prefix):
    """Puts the test CA into the machine's root store of the run's Wine prefix, once."""
    helper = BUILD / "win64" / "trust_test_ca.exe"
    env = {"WINEPREFIX": str(wine_prefix), "PATH": "/usr/bin:/bin"}
    proc = subprocess.run([str(WINE_RUN), str(helper), "Z:" + str(test_ca.cert).replace("/", "\\")],
                          env=env, capture_output=True, timeout=120)
    assert proc.returncode == 0, proc.stderr.decode("latin-1")


class Probe:
    def __init__(self, program, ca):
        self.program = program
        self.ca = ca
        probe = BUILD / program.target / ("send_email_probe" + program.exe.suffix)
        if not probe.exists():
            pytest.fail(f"{probe} is missing: build the {program.target} preset first")
        program.exe.unlink()
        program.exe = program.folder / probe.name
        program.name = "send_email_probe"
        shutil.copy2(probe, program.exe)

    def settings(self, port, **keys):
        values = {"SMTPServer": "localhost", "SMTPPort": str(port), "FromEmail": "watch@example.test",
                  "ToEmail": "owner@example.test", "Subject": "Home router", "UseSSL": "0",
                  "SMTPAuth": "0"}
        values.update({k: v for k, v in keys.items() if v is not None})
        for k in [k for k, v in keys.items() if v is None]:
            values.pop(k, None)
        self.program.write_ini({"EmailConfig": values})

    def send(self, timeout_ms: int | None = None):
        args = [ADDRESS] + ([str(timeout_ms)] if timeout_ms else [])
        env = {"SSL_CERT_FILE": str(self.ca.cert)} if not self.program.is_wine else {}
        result = self.program.run(*args, env=env)
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() in ("True", "False"), result.stdout
        result.sent = result.stdout.strip() == "True"
        result.log = result.messages[3:]  # after the start banner
        return result


@pytest.fixture
def probe(program, test_ca, request):
    if program.is_wine:
        request.getfixturevalue("wine_trusts_test_ca")
    return Probe(program, test_ca)


@pytest.fixture
def servers():
    started = []

    def start(factory, *args, **kwargs):
        server = factory(*args, **kwargs)
        started.append(server)
        return server

    yield start
    for s in started:
        s.close()


def assert_failure(result, number, description_start):
    assert result.sent is False
    assert len(result.log) == 2, result.log
    assert result.log[0] == TRAP
    assert result.log[1].startswith(f"\t\t- VB Error: {number} {description_start}"), result.log[1]
    assert PASSWORD not in "".join(result.messages)
    assert base64.b64encode(PASSWORD.encode()).decode() not in "".join(result.messages)


def parse(received):
    unstuffed = b"\r\n".join(l[1:] if l.startswith(b".") else l
                             for l in received.data.split(b"\r\n"))
    return message_from_bytes(unstuffed, policy=default_policy)


# --- delivery ---------------------------------------------------------------------------------

def test_tls_with_auth_delivers_exactly_the_notification(probe, servers):
    server = servers(SmtpServer, certificate=probe.ca.localhost, credentials=(USER, PASSWORD),
                     mechanisms=("PLAIN",))
    probe.settings(server.port, UseSSL="1", SMTPAuth="1", SMTPUserName=USER,
                   SMTPPassword=stored_password(PASSWORD),
                   ToEmail="Owner <owner@example.test>, second@example.test")
    result = probe.send()
    assert result.sent is True
    assert result.log == []
    rec = server.recorder
    assert rec.auth_attempts == [("PLAIN", USER)]
    assert len(rec.messages) == 1
    m = rec.messages[0]
    assert m.mail_from == "watch@example.test"
    assert m.rcpt_tos == ["owner@example.test", "second@example.test"]
    header_block, body = m.data.split(b"\r\n\r\n", 1)
    assert body == BODY
    msg = parse(m)
    assert msg["To"] == "Owner <owner@example.test>, second@example.test"
    assert msg["From"] == "watch@example.test"
    assert msg["Subject"] == "Home router - IP Change Notification"
    assert msg["MIME-Version"] == "1.0"
    charset = "windows-1252" if probe.program.is_wine else "UTF-8"
    headers = header_block.split(b"\r\n")
    assert f"Content-Type: text/plain; charset={charset}".encode() in headers
    assert b"Content-Transfer-Encoding: 7bit" in headers
    assert [h.split(b":")[0] for h in headers] == [
        b"Date", b"From", b"To", b"Subject", b"Message-ID", b"MIME-Version", b"Content-Type",
        b"Content-Transfer-Encoding"]
    assert msg["Date"].datetime is not None and msg["Message-ID"].startswith("<")
    assert all(len(line) <= 998 for line in m.data.split(b"\r\n"))


def test_plain_delivery_with_auth_login_and_the_computer_name_as_subject(probe, servers):
    server = servers(SmtpServer, credentials=(USER, PASSWORD), mechanisms=("LOGIN",))
    probe.settings(server.port, SMTPAuth="1", SMTPUserName=USER,
                   SMTPPassword=stored_password(PASSWORD), Subject=None)
    # Wine sets the variable itself, from the host name; natively the host name counts and the
    # variable, which Linux does not set, is ignored.
    wine = probe.program.is_wine
    name = socket.gethostname().split(".")[0].upper()[:15] if wine else socket.gethostname()
    env = {} if wine else {"computername": "DESK-42"}
    result = probe.program.run(ADDRESS, env=env)
    assert result.stdout.strip() == "True", result.messages
    assert result.messages[3:] == []
    assert server.recorder.auth_attempts == [("LOGIN", USER)]
    msg = parse(server.recorder.messages[0])
    assert msg["Subject"] == f"{name} - IP Change Notification"
    assert server.recorder.messages[0].data.split(b"\r\n\r\n", 1)[1] == BODY


def test_wrong_password_is_refused_and_never_logged(probe, servers):
    for mechanism in ("PLAIN", "LOGIN"):
        server = servers(SmtpServer, certificate=probe.ca.localhost, credentials=(USER, "other"),
                         mechanisms=(mechanism,))
        probe.settings(server.port, UseSSL="1", SMTPAuth="1", SMTPUserName=USER,
                       SMTPPassword=stored_password(PASSWORD))
        result = probe.send()
        assert_failure(result, LOGON_FAILED, "The server rejected the logon attempt. "
                       "The server response was: 535 5.7.8 Authentication credentials invalid")
        assert server.recorder.messages == [] and server.recorder.mail_commands == []


def test_a_refusal_echoing_the_credentials_leaves_no_trace_of_them(probe, servers):
    server = servers(SmtpServer, credentials=(USER, PASSWORD), echo_auth=True)
    probe.settings(server.port, SMTPAuth="1", SMTPUserName=USER,
                   SMTPPassword=stored_password(PASSWORD))
    result = probe.send()
    assert_failure(result, LOGON_FAILED, "The server rejected the logon attempt. The server "
                   "response was: 535 5.7.8 Authentication failed for PLAIN [hidden]")
    plain = base64.b64encode(f"\0{USER}\0{PASSWORD}".encode()).decode()
    assert plain[:12] not in "".join(result.messages)


def test_smuggled_commands_stay_inside_one_message(probe, servers):
    server = servers(SmtpServer)
    probe.settings(server.port)
    result = probe.program.run("a\n.\nMAIL FROM:<x@y>\n",
                               env={"SSL_CERT_FILE": str(probe.ca.cert)})
    assert result.stdout.strip() == "True", result.messages
    rec = server.recorder
    assert rec.mail_commands == ["watch@example.test"]
    assert len(rec.messages) == 1
    body = rec.messages[0].data.split(b"\r\n\r\n", 1)[1]
    assert body.startswith(b"New WAN IP Detected:  a\r\n..\r\nMAIL FROM:<x@y>\r\n\r\n\r\n")
    assert parse(rec.messages[0]).get_content().startswith(
        "New WAN IP Detected:  a\r\n.\r\nMAIL FROM:<x@y>\r\n")


# --- failures -----------------------------------------------------------------------------------

def test_refused_recipient(probe, servers):
    server = servers(SmtpServer, refuse_rcpt=True)
    probe.settings(server.port)
    assert_failure(probe.send(), RECIPIENTS_REJECTED,
                   "The server rejected one or more recipient addresses. "
                   "The server response was: 550 5.1.1 No such user here")
    assert server.recorder.messages == []


def test_server_closing_after_the_greeting(probe, servers):
    server = servers(RawServer, b"220 mail.test ESMTP\r\n")
    probe.settings(server.port)
    assert_failure(probe.send(), CONNECTION_LOST, "The transport lost its connection")


def test_silent_server_ends_at_the_timeout(probe, servers):
    server = servers(RawServer, None)
    probe.settings(server.port)
    assert_failure(probe.send(timeout_ms=1500), TIMED_OUT, "The server did not answer in time.")
    assert server.accepted == 1


def run_measured(program):
    """Runs the program once; its stdout, its messages and its own peak memory in KiB."""
    out, err = (program.folder / "stdout", program.folder / "stderr")
    with out.open("wb") as stdout, err.open("wb") as stderr:
        child = subprocess.Popen(program.command([ADDRESS]), cwd=program.folder,
                                 env=program.environment(), stdout=stdout, stderr=stderr)
    killer = threading.Timer(120, child.kill)
    killer.start()
    _, status, usage = os.wait4(child.pid, 0)
    killer.cancel()
    child.returncode = os.waitstatus_to_exitcode(status)
    assert child.returncode == 0
    return (out.read_text().strip(),
            parse_messages(program.target, err.read_bytes().decode("latin-1")), usage.ru_maxrss)


def test_a_60_mb_reply_fails_the_send_at_its_bound_in_little_memory(probe, servers):
    if probe.program.is_wine:
        pytest.skip("the peak memory of one process is read natively")
    # The program's own size first: a server that hangs up after its greeting.
    probe.settings(servers(RawServer, b"220 mail.test ESMTP\r\n").port)
    _, _, baseline = run_measured(probe.program)

    server = servers(FloodingServer, lines=999, line_size=60 * 1024)
    probe.settings(server.port)
    stdout, messages, peak = run_measured(probe.program)
    assert stdout == "False"
    assert messages[3:] == [TRAP, f"\t\t- VB Error: {SEND_FAILED} The server's reply is longer "
                                  "than 64 KiB, the most it may be."]
    assert server.ehlo
    assert server.sent < 999 * 60 * 1024 // 4  # it stopped reading; the rest was never taken
    assert peak < baseline + 16 * 1024  # KiB: far below the 60 MB on offer


def test_unreachable_server_gives_one_pair_of_lines(probe):
    probe.settings(unused_port(), SMTPServer="127.0.0.1")
    assert_failure(probe.send(), CONNECT_FAILED, "The transport failed to connect to the server.")


@pytest.mark.parametrize("which", ["other host", "untrusted issuer", "impostor of the test CA"])
def test_certificate_not_for_this_server_is_refused(probe, servers, tmp_path, which):
    if which == "other host":
        certificate = probe.ca.other
    else:
        # The impostor has the trusted CA's name but not its key.
        name = "Stranger CA" if which == "untrusted issuer" else probe.ca.name
        certificate = LoopbackCa(tmp_path / "stranger", name).server_certificate(
            "localhost", ["localhost"], ["127.0.0.1"])
    server = servers(SmtpServer, certificate=certificate, credentials=(USER, PASSWORD))
    probe.settings(server.port, UseSSL="1", SMTPAuth="1", SMTPUserName=USER,
                   SMTPPassword=stored_password(PASSWORD))
    assert_failure(probe.send(), SECURE_CHANNEL_FAILED,
                   "The secure connection to the server failed: "
                   "the server's certificate was not accepted")
    assert server.recorder.auth_attempts == [] and server.recorder.messages == []


def test_incomplete_settings_send_nothing_and_log_nothing(probe, servers):
    server = servers(SmtpServer)
    probe.settings(server.port, ToEmail=None)
    result = probe.send()
    assert result.sent is False and result.log == []
    assert server.recorder.wire == b""


# --- the certificate's name -----------------------------------------------------------------------

@pytest.fixture(scope="session")
def address_certificates(test_ca):
    """For the server 127.0.0.1: one with that address as a SAN, one naming it only as CN."""
    return {"address SAN": test_ca.server_certificate("ip-san", ["mail.other.test"], ["127.0.0.1"]),
            "CN only": test_ca.server_certificate("cn-only", [], common_name="127.0.0.1")}


def assert_certificate_outcome(result, server, accepted: bool) -> None:
    if accepted:
        assert result.sent is True and result.log == []
        assert len(server.recorder.messages) == 1
    else:
        assert_failure(result, SECURE_CHANNEL_FAILED,
                       "The secure connection to the server failed: "
                       "the server's certificate was not accepted")
        assert server.recorder.messages == []


@pytest.mark.parametrize("which, accepted", [("address SAN", True), ("CN only", False)])
def test_an_address_matches_only_an_address_san(probe, servers, address_certificates, which,
                                                accepted):
    server = servers(SmtpServer, certificate=address_certificates[which])
    probe.settings(server.port, SMTPServer="127.0.0.1", UseSSL="1")
    assert_certificate_outcome(probe.send(), server, accepted)


@pytest.fixture(scope="session")
def name_certificates(test_ca):
    """For the server localhost: named only in the subject's CN, and a null-prefix SAN."""
    null_prefix = "localhost\0.attacker.test".encode()
    san = bytes([0x30, len(null_prefix) + 2, 0x82, len(null_prefix)]) + null_prefix
    return {"CN only": test_ca.server_certificate("cn-localhost", [], common_name="localhost"),
            "null-prefix SAN": test_ca.server_certificate(
                "null-prefix", [], common_name="localhost", san_der=san)}


@pytest.mark.parametrize("which, accepted", [("CN only", True), ("null-prefix SAN", False)])
def test_a_name_is_matched_alike_on_every_target(probe, servers, name_certificates, which,
                                                 accepted):
    server = servers(SmtpServer, certificate=name_certificates[which])
    probe.settings(server.port, UseSSL="1")
    assert_certificate_outcome(probe.send(), server, accepted)


# --- STARTTLS -----------------------------------------------------------------------------------

def starttls_settings(probe, port, **keys):
    probe.settings(port, UseSSL="1", StartTLS="1", SMTPAuth="1", SMTPUserName=USER,
                   SMTPPassword=stored_password(PASSWORD), **keys)


def test_starttls_with_auth_delivers_and_authenticates_only_inside_tls(probe, servers):
    server = servers(SmtpServer, starttls=probe.ca.localhost, credentials=(USER, PASSWORD))
    starttls_settings(probe, server.port)
    result = probe.send()
    assert result.sent is True and result.log == []
    rec = server.recorder
    assert rec.commands(tls=False) == ["EHLO", "STARTTLS"]
    assert rec.commands(tls=True)[:3] == ["EHLO", "AUTH", "MAIL"]
    assert rec.auth_attempts == [("PLAIN", USER)]
    assert len(rec.messages) == 1 and rec.messages[0].data.endswith(BODY)


@pytest.mark.parametrize("server_kind", ["not offered", "refused"])
def test_without_starttls_only_ehlo_and_quit_reach_the_server(probe, servers, server_kind):
    if server_kind == "not offered":
        server = servers(SmtpServer, credentials=(USER, PASSWORD))
        expected, why = ["EHLO", "QUIT"], "the server does not offer STARTTLS"
    else:
        server = servers(SmtpServer, starttls=probe.ca.localhost, credentials=(USER, PASSWORD),
                         starttls_reply="refuse")
        expected, why = ["EHLO", "STARTTLS", "QUIT"], "the server refused STARTTLS"
    starttls_settings(probe, server.port)
    result = probe.send()
    assert_failure(result, SECURE_CHANNEL_FAILED,
                   f"The secure connection to the server failed: {why}")
    assert server.recorder.commands() == expected
    assert server.recorder.auth_attempts == [] and server.recorder.messages == []


def test_any_starttls_value_but_0_sends_nothing_in_plain_text(probe, servers):
    server = servers(SmtpServer, credentials=(USER, PASSWORD))
    probe.settings(server.port, StartTLS="2", SMTPAuth="1", SMTPUserName=USER,
                   SMTPPassword=stored_password(PASSWORD))
    assert_failure(probe.send(), SECURE_CHANNEL_FAILED,
                   "The secure connection to the server failed: the server does not offer STARTTLS")
    assert server.recorder.commands() == ["EHLO", "QUIT"]
    assert server.recorder.auth_attempts == [] and server.recorder.messages == []
    assert b"New WAN IP" not in server.recorder.wire


def test_a_reply_ahead_of_the_handshake_is_refused(probe, servers):
    server = servers(SmtpServer, starttls=probe.ca.localhost, credentials=(USER, PASSWORD),
                     starttls_reply="ahead")
    starttls_settings(probe, server.port)
    assert_failure(probe.send(), SECURE_CHANNEL_FAILED,
                   "The secure connection to the server failed: ")
    assert server.recorder.commands() == ["EHLO", "STARTTLS"]
    assert server.recorder.auth_attempts == [] and server.recorder.messages == []


@pytest.mark.parametrize("which", ["other host", "untrusted issuer"])
def test_starttls_refuses_a_certificate_not_for_this_server(probe, servers, tmp_path, which):
    certificate = probe.ca.other if which == "other host" else LoopbackCa(
        tmp_path / "stranger", "Stranger CA").server_certificate("localhost", ["localhost"],
                                                                  ["127.0.0.1"])
    server = servers(SmtpServer, starttls=certificate, credentials=(USER, PASSWORD))
    starttls_settings(probe, server.port)
    assert_failure(probe.send(), SECURE_CHANNEL_FAILED,
                   "The secure connection to the server failed: "
                   "the server's certificate was not accepted")
    assert server.recorder.commands(tls=True) == []
    assert server.recorder.auth_attempts == [] and server.recorder.messages == []


def test_the_check_run_mails_over_starttls_and_keeps_the_notice_without_it(program, servers,
                                                                          ip_page, test_ca,
                                                                          request):
    if program.is_wine:
        request.getfixturevalue("wine_trusts_test_ca")
    env = {} if program.is_wine else {"SSL_CERT_FILE": str(test_ca.cert)}
    keys = dict(UseSSL="1", StartTLS="1", SMTPAuth="1", SMTPUserName=USER,
                SMTPPassword=stored_password(PASSWORD))

    def run(answer, port):
        program.write_ini({"General": {"WhatIsMyIP": ip_page.url},
                           "EmailConfig": {**email_settings(port), **keys}})
        ip_page.answer(answer)
        assert program.run(env=env).returncode == 0

    forget_address(program)
    secure = servers(SmtpServer, starttls=test_ca.localhost, credentials=(USER, PASSWORD))
    run("203.0.113.7\r\n", secure.port)
    assert len(secure.recorder.messages) == 1
    assert secure.recorder.auth_attempts == [("PLAIN", USER)]
    assert stored_address(program) == "203.0.113.7"

    # A server without STARTTLS hears EHLO and QUIT only, and the change is mailed next time.
    plain = servers(SmtpServer, credentials=(USER, PASSWORD))
    run("198.51.100.1\r\n", plain.port)
    assert plain.recorder.commands() == ["EHLO", "QUIT"]
    assert stored_address(program) == "203.0.113.7"


def test_a_check_run_without_tls_maps_no_tls_library(program, servers, ip_page):
    if program.is_wine:
        pytest.skip("loading the TLS library on demand is the POSIX build's")
    server = servers(SmtpServer)
    program.write_ini({"General": {"WhatIsMyIP": ip_page.url},
                       "EmailConfig": email_settings(server.port)})
    ip_page.answer("203.0.113.7\r\n")
    for _ in range(2):  # a change mailed in plain text, then an unchanged address
        done = program.run(env={"LD_DEBUG": "files"})
        loaded = done.stderr
        assert "calling init:" in loaded  # the loader's trace is there to be read
        assert "libssl" not in loaded and "libcrypto" not in loaded
        assert "libaddrwatch_tls" not in loaded
    assert len(server.recorder.messages) == 1
