"""A loopback SMTP server that takes only AUTH XOAUTH2, as providers' submission servers do.

Plain connection, STARTTLS with a test certificate, required before AUTH and MAIL. It accepts
only the access token that access_token() names at the moment of the logon, for the one user.
Like Dovecot's submission server it answers an AUTH line over 512 octets (CRLF included) with
"500 5.5.2 Line too long", so a client must send a real-sized token after an empty 334. A wrong
token gets the error challenge (base64 JSON with the status), then 535 after the client's empty
line. Every logon is recorded in `logons`; the mails in `recorder.messages`.
"""

from __future__ import annotations

import asyncio
import base64
import collections
import json
import ssl
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

from aiosmtpd.smtp import AuthResult

from smtp_server import HOST, Recorder, _LoopThread, _RecordingSMTP

MAX_AUTH_LINE = 512  # octets, CRLF included
ERROR_CHALLENGE = {"status": "401", "schemes": "bearer", "scope": "https://mail.test/"}


def tls_context(pair: tuple[Path, Path]) -> ssl.SSLContext:
    c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    c.minimum_version = ssl.TLSVersion.TLSv1_2
    c.load_cert_chain(*map(str, pair))
    return c


@dataclass
class Logon:
    user: str
    token_ok: bool
    two_step: bool  # the response came after an empty 334, not on the AUTH line
    answered_challenge: bool = False  # the client's empty line after an error challenge


class _XOAuth2Smtp(_RecordingSMTP):
    # A real token's response line is about 3 KB; data lines still keep their limit by the client.
    line_length_limit = 16384

    def __init__(self, handler, *, server: "XOAuth2Server", **kwargs):
        super().__init__(handler, **kwargs)
        self._xo = server
        # Let long AUTH lines through aiosmtpd's own check, so they reach the refusal below.
        self.command_size_limits = collections.defaultdict(lambda: 16384)

    async def smtp_AUTH(self, arg: str):
        raw = next((line for _, line in reversed(self.event_handler.lines)
                    if line.upper().startswith("AUTH")), "")
        if len(raw) + 2 > MAX_AUTH_LINE:
            self._xo.long_lines += 1
            return await self.push("500 5.5.2 Line too long")
        return await super().smtp_AUTH(arg)

    async def auth_XOAUTH2(self, _, args: list[str]) -> AuthResult:
        two_step = len(args) == 1
        if two_step:
            await self.push("334 ")
            response = (await self._reader.readline()).strip().decode("latin-1")
        else:
            response = args[1]
        try:
            decoded = base64.b64decode(response, validate=True).decode("utf-8")
            fields = dict(part.split("=", 1) for part in decoded.split("\x01") if part)
            user, auth = fields["user"], fields["auth"]
        except (ValueError, KeyError):
            await self.push("501 5.5.2 Cannot decode the response")
            return AuthResult(success=False, handled=True)
        token = auth[len("Bearer "):] if auth.startswith("Bearer ") else None
        logon = Logon(user, token is not None and user == self._xo.user and
                      token == self._xo.access_token(), two_step)
        self._xo.logons.append(logon)
        if logon.token_ok:
            return AuthResult(success=True, auth_data=user)
        challenge = base64.b64encode(json.dumps(ERROR_CHALLENGE).encode()).decode()
        await self.push("334 " + challenge)
        logon.answered_challenge = (await self._reader.readline()).strip() == b""
        return AuthResult(success=False, handled=False,
                          message="535 5.7.8 Username and Password not accepted")


class XOAuth2Server:
    def __init__(self, certificate: tuple[Path, Path], user: str,
                 access_token: Callable[[], str]):
        self.user = user
        self.access_token = access_token
        self.recorder = Recorder()
        self.logons: list[Logon] = []
        self.long_lines = 0  # AUTH lines refused for their length
        kwargs = dict(hostname="mail.test", tls_context=tls_context(certificate),
                      require_starttls=True, auth_require_tls=True,
                      auth_exclude_mechanism=["PLAIN", "LOGIN", "attempts"])

        async def make():
            loop = asyncio.get_running_loop()
            return await loop.create_server(
                lambda: _XOAuth2Smtp(self.recorder, server=self, **kwargs), HOST, 0)

        self._thread = _LoopThread(make)
        self.port = self._thread.port

    def close(self):
        self._thread.stop()
