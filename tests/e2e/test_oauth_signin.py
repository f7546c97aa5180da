"""addrwatch /signin against the loopback authorization server: the device grant to its end,
what is stored (and that it is not the token in clear on Windows), and the exit statuses."""

from __future__ import annotations

import http.client
import shutil
import ssl
import urllib.parse
import sqlite3
import subprocess

import pytest

from check_run_servers import _wine
from conftest import BUILD, WINE_RUN
from oauth_server import OAuthServer
from smtp_server import LoopbackCa

OAUTH_KEY = r"HKLM\Software\Quillfen\Addrwatch\OAuth"


@pytest.fixture(scope="module")
def oauth_certificate(tmp_path_factory):
    if not shutil.which("openssl"):
        pytest.skip("openssl is not installed")
    ca = LoopbackCa(tmp_path_factory.mktemp("oauth-ca"))
    return ca, ca.server_certificate("localhost", ["localhost"], ["127.0.0.1"])


@pytest.fixture
def oauth_server(oauth_certificate):
    server = OAuthServer(oauth_certificate[1])
    yield server
    server.stop()


# The (prefix, CA) pairs already trusted: each module that imports these fixtures has its own CA.
_trusted: set[tuple[str, str]] = set()


@pytest.fixture
def trusting_env(program, oauth_certificate) -> dict[str, str]:
    """The environment under which the program trusts the test CA (in Wine, once a prefix)."""
    ca = oauth_certificate[0]
    if not program.is_wine:
        return {"SSL_CERT_FILE": str(ca.cert)}
    key = (str(program.wine_prefix), str(ca.cert))
    if key in _trusted:
        return {}
    proc = subprocess.run([str(WINE_RUN), str(BUILD / "win64" / "trust_test_ca.exe"),
                           program.windows_path(ca.cert)],
                          env={"WINEPREFIX": str(program.wine_prefix), "PATH": "/usr/bin:/bin"},
                          capture_output=True, timeout=120)
    assert proc.returncode == 0, proc.stderr.decode("latin-1")
    _trusted.add(key)
    return {}


def stored_refresh_token(program) -> bytes | None:
    """RefreshToken's bytes as stored (the sealed blob on Windows)."""
    if program.is_wine:
        out = _wine(program, "reg", "query", OAUTH_KEY, "/v", "RefreshToken").stdout
        text = out.decode("latin-1")
        if "REG_BINARY" not in text:
            return None
        return bytes.fromhex(text.split("REG_BINARY", 1)[1].split()[0])
    db = program.state_dir / "registry.db"
    if not db.exists():
        return None
    with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as con:
        row = con.execute("SELECT data FROM vals WHERE lower(name) = 'refreshtoken'").fetchone()
    return None if row is None else bytes(row[0])


def forget_sign_in(program) -> None:
    if program.is_wine:
        _wine(program, "reg", "delete", OAUTH_KEY, "/f")


def test_signin_with_the_device_grant_stores_the_token_and_the_account(
        program, oauth_server, trusting_env):
    forget_sign_in(program)
    program.write_ini({"EmailConfig": {**oauth_server.settings(), "SMTPUserName": "typed"}})
    oauth_server.device_script = ["pending"]
    result = program.run("/signin", env=trusting_env)
    assert result.returncode == 0, result.stdout
    assert oauth_server.user_code in result.stdout
    assert f"{oauth_server.url}/activate" in result.stdout
    assert "Signed in as owner@example.test" in result.stdout
    assert oauth_server.counts["/device"] == 1 and oauth_server.counts["/token"] == 2
    assert b"SMTPUserName=owner@example.test" in program.ini.read_bytes()
    stored = stored_refresh_token(program)
    token = oauth_server.refresh_token.encode()
    if program.is_wine:
        assert stored and token not in stored
    else:
        assert stored == token
    # No secret in the diagnostic log.
    log = "\n".join(result.messages)
    assert token.decode() not in log and oauth_server.access_token not in log


@pytest.mark.parametrize("step, words", [("denied", "The user declined the sign-in."),
                                         ("expired", "The code has expired.")])
def test_a_refused_signin_ends_with_the_providers_words_and_status_1(
        program, oauth_server, trusting_env, step, words):
    if program.is_wine and step == "expired":
        pytest.skip("the same portable path as a denial; one Windows run shows the status")
    forget_sign_in(program)
    program.write_ini({"EmailConfig": oauth_server.settings()})
    oauth_server.device_script = [step]
    result = program.run("/signin", env=trusting_env)
    assert result.returncode == 1
    assert words in result.stdout
    assert stored_refresh_token(program) is None


def test_an_unknown_provider_is_a_settings_error(program):
    program.write_ini({"EmailConfig": {"OAuthProvider": "yahoo"}})
    result = program.run("/signin")
    assert result.returncode == 2
    assert 'OAuthProvider "yahoo" is not one of microsoft, google or generic' in result.stdout


def test_google_signin_without_a_display_takes_the_pasted_redirect(
        program, oauth_server, oauth_certificate, trusting_env):
    # The authorization address goes to a "browser" (here: one request to the server, which
    # answers with the redirect); the address it was sent to is pasted back. The server checks
    # the verifier against the challenge, and the redirect_uri.
    forget_sign_in(program)
    program.write_ini({"EmailConfig": {**oauth_server.settings(), "OAuthProvider": "google"}})
    proc = subprocess.Popen(program.command(["/signin"]), cwd=program.folder,
                            env=program.environment(trusting_env), stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        address = ""
        for raw in proc.stdout:
            line = raw.decode("latin-1").strip()
            if line.startswith(oauth_server.authorize_url):
                address = line
                break
        assert address, "no authorization address was printed"
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(address).query)
        assert query["code_challenge_method"] == ["S256"] and query["state"][0]
        context = ssl.create_default_context(cafile=str(oauth_certificate[0].cert))
        target = urllib.parse.urlsplit(address)
        connection = http.client.HTTPSConnection("localhost", oauth_server.port, context=context)
        connection.request("GET", f"{target.path}?{target.query}")
        redirect = connection.getresponse().getheader("Location")
        connection.close()
        proc.stdin.write(redirect.encode() + b"\r\n")
        proc.stdin.close()
        rest = proc.stdout.read().decode("latin-1")
        assert proc.wait(timeout=120) == 0, rest
    finally:
        if proc.poll() is None:
            proc.kill()
    assert "Signed in as owner@example.test" in rest
    assert oauth_server.counts["/token"] == 1
    assert stored_refresh_token(program)


@pytest.mark.parametrize("fault, words", [("redirect", "which is not followed"),
                                          ("huge", "the answer is too large")])
def test_token_answers_that_redirect_or_overflow_end_the_signin(
        program, oauth_server, trusting_env, fault, words):
    # A 307 would send the device code on to wherever it points; 10 MiB is past the 64 KiB bound.
    program.write_ini({"EmailConfig": oauth_server.settings()})
    setattr(oauth_server, fault, True)
    result = program.run("/signin", env=trusting_env)
    assert result.returncode == 1
    assert words in result.stdout
    assert oauth_server.counts["/elsewhere"] == 0
