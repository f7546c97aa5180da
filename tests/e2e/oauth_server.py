"""A loopback OAuth 2.0 authorization server over https, for the sign-in and mail tests.

It binds 127.0.0.1 port 0 with a certificate from LoopbackCa and serves:
- /device (RFC 8628 device authorization) and /token with the device-code grant: each poll takes
  the next answer of `device_script` ("pending", "slow_down", "denied", "expired"; "ok" or an
  empty script signs in);
- /token with the refresh grant: the current refresh token gives a new access token and, when
  `rotate` is on, a new refresh token (the old one stops working); any other is invalid_grant;
- /authorize and /token with the authorization-code grant (PKCE S256): the redirect carries a
  code and the state given; the exchange checks the code, the redirect_uri and the verifier.

Access tokens are 2 KB, as long as real ones. Faults: `stall` (seconds before a token answer),
`huge` (a 10 MiB token answer), `redirect` (a 307 from /token). `counts` and `forms` record what
arrived, `access_token` and `refresh_token` are the current ones, `revoke()` voids the refresh
token, `rotate_now()` issues a new one without a request.
"""

from __future__ import annotations

import base64
import hashlib
import json
import secrets
import ssl
import threading
import time
import urllib.parse
from collections import Counter
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

HOST = "127.0.0.1"
ACCESS_TOKEN_LENGTH = 2048


def _b64url(data: bytes) -> str:
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def id_token(claims: dict) -> str:
    """An unsigned JWT with these claims (the program reads the payload only)."""
    header = _b64url(json.dumps({"alg": "none", "typ": "JWT"}).encode())
    return f"{header}.{_b64url(json.dumps(claims).encode())}.sig"


class OAuthServer:
    def __init__(self, certificate: tuple[Path, Path], *, client_id: str = "addrwatch-test",
                 account: str = "owner@example.test", interval: int = 1,
                 expires_in: int = 600):
        self.client_id = client_id
        self.account = account
        self.interval = interval
        self.expires_in = expires_in
        self.device_script: list[str] = []
        self.rotate = True
        self.stall = 0.0
        self.huge = False
        self.redirect = False
        self.with_id_token = True
        self.counts: Counter[str] = Counter()
        self.forms: list[tuple[str, dict[str, str]]] = []
        self.access_token = ""
        self.refresh_token = ""
        self.user_code = "WDJB-MJHT"
        self._device_code = ""
        self._codes: dict[str, tuple[str, str]] = {}  # code -> (challenge, redirect_uri)
        self._lock = threading.Lock()

        server = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def _form(self) -> dict[str, str]:
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length).decode("latin-1")
                return {k: v[-1] for k, v in urllib.parse.parse_qs(body).items()}

            def _send(self, status: int, body: bytes, headers: dict[str, str] | None = None):
                self.send_response(status)
                for k, v in (headers or {"Content-Type": "application/json"}).items():
                    self.send_header(k, v)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                try:
                    self.wfile.write(body)
                except OSError:
                    pass

            def _json(self, status: int, answer: dict):
                self._send(status, json.dumps(answer).encode())

            def do_POST(self):
                path = urllib.parse.urlsplit(self.path).path
                form = self._form()
                with server._lock:
                    server.counts[path] += 1
                    server.forms.append((path, form))
                if path == "/device":
                    self._json(*server._device(form))
                elif path == "/token":
                    if server.stall:
                        time.sleep(server.stall)
                    if server.redirect:
                        self._send(307, b"", {"Location": f"{server.url}/elsewhere"})
                    elif server.huge:
                        self._send(200, b'{"access_token":"' + b"a" * (10 << 20) + b'"}')
                    else:
                        self._json(*server._token(form))
                else:
                    self._json(404, {"error": "not_found"})

            def do_GET(self):
                parts = urllib.parse.urlsplit(self.path)
                with server._lock:
                    server.counts[parts.path] += 1
                if parts.path != "/authorize":
                    self._json(404, {"error": "not_found"})
                    return
                query = {k: v[-1] for k, v in urllib.parse.parse_qs(parts.query).items()}
                location = server._authorize(query)
                self._send(302, b"", {"Location": location})

        self._server = ThreadingHTTPServer((HOST, 0), Handler)
        self._server.daemon_threads = True
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*map(str, certificate))
        self._server.socket = context.wrap_socket(self._server.socket, server_side=True)
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.05}, daemon=True)
        self._thread.start()

    # --- addresses --------------------------------------------------------------------------

    @property
    def url(self) -> str:
        return f"https://localhost:{self.port}"

    @property
    def device_url(self) -> str:
        return self.url + "/device"

    @property
    def token_url(self) -> str:
        return self.url + "/token"

    @property
    def authorize_url(self) -> str:
        return self.url + "/authorize"

    def settings(self) -> dict[str, str]:
        """The "EmailConfig" keys that point a generic provider here."""
        return {"OAuthProvider": "generic", "OAuthClientID": self.client_id,
                "OAuthScope": "smtp offline_access openid",
                "OAuthDeviceURL": self.device_url, "OAuthTokenURL": self.token_url,
                "OAuthAuthorizeURL": self.authorize_url}

    # --- control ----------------------------------------------------------------------------

    def revoke(self) -> None:
        with self._lock:
            self.refresh_token = ""

    def rotate_now(self) -> str:
        with self._lock:
            self.refresh_token = "rt-" + secrets.token_urlsafe(32)
            return self.refresh_token

    def stop(self) -> None:
        self._server.shutdown()
        self._server.server_close()

    # --- grants -----------------------------------------------------------------------------

    def _issue(self, with_refresh: bool) -> dict:
        token = secrets.token_urlsafe(ACCESS_TOKEN_LENGTH)[:ACCESS_TOKEN_LENGTH - 3]
        self.access_token = "at-" + token
        answer = {"access_token": self.access_token, "token_type": "Bearer", "expires_in": 3600}
        if with_refresh:
            self.refresh_token = "rt-" + secrets.token_urlsafe(32)
            answer["refresh_token"] = self.refresh_token
        if self.with_id_token:
            answer["id_token"] = id_token({"preferred_username": self.account})
        return answer

    def _device(self, form: dict[str, str]) -> tuple[int, dict]:
        if form.get("client_id") != self.client_id:
            return 400, {"error": "invalid_client", "error_description": "Unknown client."}
        with self._lock:
            self._device_code = "dc-" + secrets.token_urlsafe(16)
        return 200, {"device_code": self._device_code, "user_code": self.user_code,
                     "verification_uri": f"{self.url}/activate", "expires_in": self.expires_in,
                     "interval": self.interval}

    def _token(self, form: dict[str, str]) -> tuple[int, dict]:
        if form.get("client_id") != self.client_id:
            return 401, {"error": "invalid_client", "error_description": "Unknown client."}
        grant = form.get("grant_type")
        with self._lock:
            if grant == "urn:ietf:params:oauth:grant-type:device_code":
                if not self._device_code or form.get("device_code") != self._device_code:
                    return 400, {"error": "invalid_grant", "error_description": "Unknown code."}
                step = self.device_script.pop(0) if self.device_script else "ok"
                errors = {"pending": ("authorization_pending", "The user has not signed in yet."),
                          "slow_down": ("slow_down", "Polling too fast."),
                          "denied": ("access_denied", "The user declined the sign-in."),
                          "expired": ("expired_token", "The code has expired.")}
                if step in errors:
                    error, text = errors[step]
                    return 400, {"error": error, "error_description": text}
                self._device_code = ""
                return 200, self._issue(with_refresh=True)
            if grant == "refresh_token":
                if not self.refresh_token or form.get("refresh_token") != self.refresh_token:
                    return 400, {"error": "invalid_grant",
                                 "error_description": "The refresh token was revoked."}
                answer = self._issue(with_refresh=self.rotate)
                return 200, answer
            if grant == "authorization_code":
                entry = self._codes.pop(form.get("code", ""), None)
                if entry is None:
                    return 400, {"error": "invalid_grant", "error_description": "Unknown code."}
                challenge, redirect_uri = entry
                verifier = form.get("code_verifier", "")
                if _b64url(hashlib.sha256(verifier.encode()).digest()) != challenge:
                    return 400, {"error": "invalid_grant", "error_description": "Bad verifier."}
                if form.get("redirect_uri") != redirect_uri:
                    return 400, {"error": "invalid_grant", "error_description": "Bad redirect."}
                return 200, self._issue(with_refresh=True)
        return 400, {"error": "unsupported_grant_type"}

    def _authorize(self, query: dict[str, str]) -> str:
        redirect_uri = query.get("redirect_uri", "")
        if (query.get("client_id") != self.client_id or query.get("response_type") != "code"
                or query.get("code_challenge_method") != "S256" or "state" not in query):
            return redirect_uri + "?" + urllib.parse.urlencode(
                {"error": "invalid_request", "state": query.get("state", "")})
        code = "ac-" + secrets.token_urlsafe(16)
        with self._lock:
            self._codes[code] = (query.get("code_challenge", ""), redirect_uri)
        return redirect_uri + "?" + urllib.parse.urlencode({"code": code, "state": query["state"]})
