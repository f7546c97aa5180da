"""Mail with an OAuth sign-in, natively and under Wine: `/signin` against the loopback
authorization server, then check runs that log on with AUTH XOAUTH2 over STARTTLS to a server that
takes only the current, real-sized access token, with a rotated refresh token each time, a revoked
sign-in that keeps the notice owed, the token request's bounds, and plain text refused."""

from __future__ import annotations

import shutil
import sqlite3
import subprocess
import time

import pytest

from check_run_servers import Mail, _wine, body_address, forget_address
from conftest import BUILD, WINE_RUN
from ip_page import ip_page  # noqa: F401
from oauth_server import OAuthServer
from smtp_server import LoopbackCa
from test_send_email import stored_password
from xoauth2_smtp import XOAuth2Server

KEY = r"HKLM\Software\Quillfen\Addrwatch"
CLIENT_SECRET = "cs-Wq8!client-secret"
TYPED_USER = "typed@example.test"


@pytest.fixture(scope="module")
def ca(tmp_path_factory):
    if not shutil.which("openssl"):
        pytest.skip("openssl is not installed")
    ca = LoopbackCa(tmp_path_factory.mktemp("oauth-mail-ca"))
    ca.localhost = ca.server_certificate("localhost", ["localhost"], ["127.0.0.1"])
    return ca


@pytest.fixture
def trusting_env(program, ca) -> dict[str, str]:
    """The environment under which the program trusts the test CA, for https and for STARTTLS."""
    if not program.is_wine:
        return {"SSL_CERT_FILE": str(ca.cert)}
    proc = subprocess.run([str(WINE_RUN), str(BUILD / "win64" / "trust_test_ca.exe"),
                           program.windows_path(ca.cert)],
                          env={"WINEPREFIX": str(program.wine_prefix), "PATH": "/usr/bin:/bin"},
                          capture_output=True, timeout=120)
    assert proc.returncode == 0, proc.stderr.decode("latin-1")
    return {}


@pytest.fixture
def oauth(ca):
    server = OAuthServer(ca.localhost)
    yield server
    server.stop()


@pytest.fixture
def smtp(ca, oauth):
    server = XOAuth2Server(ca.localhost, oauth.account, lambda: oauth.access_token)
    yield server
    server.close()


def email_config(smtp, oauth, **keys) -> dict[str, str]:
    """STARTTLS to the XOAUTH2 server, "Authenticate" off (an OAuth provider logs on anyway)."""
    config = {"SMTPServer": "localhost", "SMTPPort": str(smtp.port), "UseSSL": "1",
              "StartTLS": "1", "SMTPAuth": "0", "FromEmail": "watch@example.test",
              "ToEmail": "owner@example.test", "Subject": "Home", "SMTPUserName": TYPED_USER,
              "OAuthClientSecret": stored_password(CLIENT_SECRET), **oauth.settings()}
    config.update(keys)
    return config


def forget_sign_in(program) -> None:
    if program.is_wine:
        _wine(program, "reg", "delete", KEY + r"\OAuth", "/f")


def pending_address(program) -> str | None:
    """PendingWANIP, the address whose notice is still owed; None when nothing is."""
    if program.is_wine:
        out = _wine(program, "reg", "query", KEY, "/v", "PendingWANIP").stdout.decode("latin-1")
        return out.split("REG_SZ", 1)[1].strip() if "REG_SZ" in out else None
    db = program.state_dir / "registry.db"
    with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as con:
        row = con.execute("SELECT data FROM vals WHERE lower(name) = 'pendingwanip'").fetchone()
    if row is None:
        return None
    data = row[0] if isinstance(row[0], bytes) else str(row[0]).encode("latin-1")
    return data.rstrip(b"\0").decode("latin-1")


def stored_refresh_token(program) -> bytes | None:
    """Natively the store's RefreshToken (under Wine it is sealed, so not comparable)."""
    db = program.state_dir / "registry.db"
    with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as con:
        row = con.execute("SELECT data FROM vals WHERE lower(name) = 'refreshtoken'").fetchone()
    return None if row is None else bytes(row[0])


def age_renewal(program) -> None:
    """Makes the last renewal (RefreshedAt) in the native store older than a week."""
    old = "2020-01-01T00:00:00Z"
    with sqlite3.connect(program.state_dir / "registry.db") as con:
        changed = con.execute("UPDATE vals SET data = ? WHERE folded = 'refreshedat'",
                              (old.encode() + b"\0",)).rowcount
    assert changed == 1


def mailed(smtp) -> list[str]:
    return [body_address(Mail(m.mail_from, m.rcpt_tos, m.data)) for m in smtp.recorder.messages]


class Secrets:
    """Every secret the sign-in and the renewals handed out, to look for in the log."""

    def __init__(self, oauth):
        self.oauth = oauth
        self.seen = {CLIENT_SECRET}

    def note(self):
        self.seen |= {self.oauth.access_token, self.oauth.refresh_token}
        for _, form in self.oauth.forms:
            self.seen |= {form.get(k, "") for k in ("refresh_token", "device_code", "code")}
        self.seen.discard("")

    def assert_absent(self, results):
        self.note()
        log = "\n".join(m for r in results for m in r.messages) + \
            "\n".join(r.stdout for r in results)
        for secret in self.seen:
            assert secret not in log, "a secret reached the log or the terminal"
            assert secret[:24] not in log


def test_signed_in_runs_deliver_with_rotated_tokens_and_a_revoked_sign_in_keeps_the_notice(
        program, oauth, smtp, ip_page, trusting_env):
    forget_address(program)  # under Wine the sign-in's subkey goes with it
    program.write_ini({"General": {"WhatIsMyIP": ip_page.url},
                       "EmailConfig": email_config(smtp, oauth)})
    secrets = Secrets(oauth)
    results = []

    def run(*args):
        result = program.run(*args, env=trusting_env)
        secrets.note()
        results.append(result)
        return result

    signin = run("/signin")
    assert signin.returncode == 0, signin.stdout
    assert b"SMTPUserName=" + oauth.account.encode() in program.ini.read_bytes()

    # A changed address: one mail, over STARTTLS, logged on with the access token just renewed.
    ip_page.answer("203.0.113.7\r\n")
    run()
    assert mailed(smtp) == ["203.0.113.7"]
    assert [(l.user, l.token_ok, l.two_step) for l in smtp.logons] == \
        [(oauth.account, True, True)]
    assert smtp.long_lines == 0
    assert "AUTH" in smtp.recorder.commands(tls=True)
    assert "AUTH" not in smtp.recorder.commands(tls=False)
    # The renewal rotated the refresh token; the store holds the new one.
    first_rotation = oauth.refresh_token
    if not program.is_wine:
        assert stored_refresh_token(program) == first_rotation.encode()

    # The second change goes out with the rotated token (the old one no longer works).
    ip_page.answer("198.51.100.1\r\n")
    run()
    assert mailed(smtp) == ["203.0.113.7", "198.51.100.1"]
    assert [f["refresh_token"] for p, f in oauth.forms if f.get("grant_type") ==
            "refresh_token"][-1] == first_rotation
    assert oauth.refresh_token != first_rotation

    # Nothing to send and a fresh renewal: no request. A week-old renewal: one, and still no
    # mail. (Portable logic: natively only, where a run costs little.)
    if not program.is_wine:
        requests = oauth.counts["/token"]
        run()
        assert oauth.counts["/token"] == requests
        age_renewal(program)
        run()
        assert oauth.counts["/token"] == requests + 1
        assert mailed(smtp) == ["203.0.113.7", "198.51.100.1"]
        assert stored_refresh_token(program) == oauth.refresh_token.encode()

    # Revoked: no mail, the notice stays owed, and the log says whose sign-in and what to do.
    oauth.revoke()
    ip_page.answer("192.0.2.44\r\n")
    revoked = run()
    assert mailed(smtp) == ["203.0.113.7", "198.51.100.1"]
    assert len(smtp.logons) == 2, "no session without a token"
    assert pending_address(program) == "192.0.2.44"
    message = next(m for m in revoked.messages if "revoked or has expired" in m)
    assert oauth.account in message and "/signin" in message and "Sign In..." in message

    # Signed in again, the next run (same address) sends the owed notice.
    assert run("/signin").returncode == 0
    run()
    assert mailed(smtp) == ["203.0.113.7", "198.51.100.1", "192.0.2.44"]
    assert pending_address(program) is None
    secrets.assert_absent(results)


@pytest.fixture
def probe(make_program, program):
    """send_email_probe beside the program, with the same settings and store."""
    probe = make_program("send_email_probe", folder=program.folder)
    shutil.copy2(BUILD / program.target / probe.exe.name, probe.exe)
    return probe


def test_the_token_request_keeps_its_bounds_and_plain_text_is_refused_first(
        program, probe, oauth, smtp, trusting_env):
    forget_sign_in(program)
    program.write_ini({"EmailConfig": email_config(smtp, oauth)})
    assert program.run("/signin", env=trusting_env).returncode == 0
    probe.ini.write_bytes(program.ini.read_bytes())
    token_requests = oauth.counts["/token"]

    def send(timeout_ms: int):
        start = time.monotonic()
        result = probe.run("203.0.113.7", str(timeout_ms), env=trusting_env)
        assert result.stdout.strip() == "False", result.stdout
        return result, time.monotonic() - start

    # Plain text: refused before the token request and before any connection.
    probe.write_ini({"EmailConfig": email_config(smtp, oauth, UseSSL="0", StartTLS="")})
    result, _ = send(60000)
    assert any("only over TLS" in m for m in result.messages), result.messages
    assert oauth.counts["/token"] == token_requests
    probe.ini.write_bytes(program.ini.read_bytes())

    # A stalled token server costs the send its request bound (here the probe's 3 s), a 10 MiB
    # answer its size bound; neither reaches the mail server.
    oauth.stall = 30
    result, took = send(3000)
    assert took < 20, took
    assert any("access token failed" in m and "in time" in m for m in result.messages), \
        result.messages
    oauth.stall = 0
    oauth.huge = True
    result, took = send(60000)
    assert took < 20, took
    assert any("access token failed" in m and "too large" in m for m in result.messages), \
        result.messages
    assert smtp.recorder.lines == []
    assert smtp.logons == []
