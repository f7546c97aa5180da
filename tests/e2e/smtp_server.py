"""Loopback SMTP servers for the end-to-end tests, and the test CA they present.

Every server binds 127.0.0.1 port 0 and reports its port. Kinds:
- SmtpServer: aiosmtpd, optionally with implicit TLS (a certificate from LoopbackCa) and with an
  authenticator for one user and password; it can refuse RCPT. It records every MAIL command,
  every accepted message (envelope and the DATA bytes as they arrived on the wire, before
  dot-unstuffing) and the raw bytes the client sent.
- SmtpServer with starttls: the same over a plain connection that offers STARTTLS (with that
  certificate) and requires it before MAIL and AUTH; starttls_reply="refuse" answers STARTTLS
  with 454 instead, "ahead" sends a reply of its own right after the 220. Each command line is
  also recorded with whether TLS was on when it arrived.
- SmtpServer with echo_auth: refuses AUTH with a 535 that quotes the command's arguments.
- RawServer: a plain socket server that sends a greeting and closes, or never says anything.
- FloodingServer: greets, then answers EHLO with an endless reply, streamed line by line.
"""

from __future__ import annotations

import asyncio
import socket
import ssl
import subprocess
import threading
from dataclasses import dataclass, field
from pathlib import Path

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

HOST = "127.0.0.1"


class LoopbackCa:
    """A throw-away CA made with openssl, and server certificates signed by it."""

    def __init__(self, folder: Path, name: str | None = None):
        # Each CA has a name of its own: a Windows trust store that holds several test CAs of one
        # name may build a chain through the wrong one.
        self.name = name or f"Addrwatch Test CA {folder.name}"
        self.folder = folder
        folder.mkdir(parents=True, exist_ok=True)
        self.cert = folder / "ca.pem"
        self.key = folder / "ca.key"
        self._openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                      "-nodes", "-keyout", self.key, "-out", self.cert, "-days", "2",
                      "-subj", f"/CN={self.name}",
                      "-addext", "basicConstraints=critical,CA:TRUE",
                      "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def _openssl(self, *args) -> None:
        subprocess.run(["openssl", *map(str, args)], check=True, capture_output=True)

    def server_certificate(self, name: str, dns: list[str], ips: list[str] = (),
                           common_name: str | None = None,
                           san_der: bytes | None = None) -> tuple[Path, Path]:
        """The subject's CN is common_name or the first DNS name; no SAN when dns and ips are empty
        (san_der: the SAN extension's value as raw DER, for names openssl will not write)."""
        key, csr, cert = (self.folder / f"{name}.{ext}" for ext in ("key", "csr", "pem"))
        ext = self.folder / f"{name}.ext"
        alt = ",".join([f"DNS:{d}" for d in dns] + [f"IP:{i}" for i in ips])
        if san_der is not None:
            ext_san = f"2.5.29.17=DER:{san_der.hex()}\n"
        else:
            ext_san = f"subjectAltName={alt}\n" if alt else ""
        ext.write_text(ext_san + "extendedKeyUsage=serverAuth\n"
                       "keyUsage=critical,digitalSignature\nbasicConstraints=CA:FALSE\n")
        self._openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                      "-keyout", key, "-out", csr, "-subj", f"/CN={common_name or dns[0]}")
        self._openssl("x509", "-req", "-in", csr, "-CA", self.cert, "-CAkey", self.key,
                      "-CAcreateserial", "-out", cert, "-days", "2", "-extfile", ext)
        return cert, key


@dataclass
class Received:
    mail_from: str
    rcpt_tos: list[str]
    data: bytes  # as sent on the wire between DATA and the final dot, still dot-stuffed


@dataclass
class Recorder:
    refuse_rcpt: bool = False
    mail_commands: list[str] = field(default_factory=list)
    messages: list[Received] = field(default_factory=list)
    auth_attempts: list[tuple[str, str]] = field(default_factory=list)
    wire: bytearray = field(default_factory=bytearray)
    lines: list[tuple[bool, str]] = field(default_factory=list)  # (TLS on, line) as received

    def commands(self, tls: bool | None = None) -> list[str]:
        """The verbs of the lines received (with or without TLS, or all), message lines too."""
        return [line.split(" ", 1)[0].upper() for on, line in self.lines
                if tls is None or on == tls]

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        self.mail_commands.append(address)
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse_rcpt:
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        wire = bytes(self.wire)
        start = wire.rfind(b"DATA\r\n") + len(b"DATA\r\n")
        end = wire.find(b"\r\n.\r\n", start)
        self.messages.append(Received(envelope.mail_from, list(envelope.rcpt_tos),
                                      wire[start:end + 2]))
        return "250 2.0.0 Message accepted"


class _RecordingSMTP(SMTP):
    def data_received(self, data: bytes) -> None:
        self.event_handler.wire.extend(data)
        self._line_buffer = getattr(self, "_line_buffer", b"") + data
        *complete, self._line_buffer = self._line_buffer.split(b"\r\n")
        for line in complete:
            self.event_handler.lines.append((self._tls_protocol is not None,
                                             line.decode("latin-1")))
        super().data_received(data)


class _RefusingStartTls(_RecordingSMTP):
    async def smtp_STARTTLS(self, arg: str):
        await self.push("454 4.7.0 TLS not available due to temporary reason")


class _EchoingAuth(_RecordingSMTP):
    """Refuses every logon, quoting the AUTH command's arguments back."""

    async def smtp_AUTH(self, arg: str):
        await self.push(f"535 5.7.8 Authentication failed for {arg}")


class _AnsweringAheadStartTls(_RecordingSMTP):
    """Answers a command the client has not sent yet, in the same write as its 220."""

    async def smtp_STARTTLS(self, arg: str):
        original = self.push

        async def push_ahead(status: str):
            self.push = original
            await original(status + "\r\n250-mail.test\r\n250 AUTH PLAIN LOGIN")

        self.push = push_ahead
        await super().smtp_STARTTLS(arg)


class _LoopThread:
    """An asyncio loop on its own thread, running one server."""

    def __init__(self, make_server):
        self.loop = asyncio.new_event_loop()
        self._ready = threading.Event()
        self.thread = threading.Thread(target=self._run, args=(make_server,), daemon=True)
        self.thread.start()
        self._ready.wait(10)

    def _run(self, make_server):
        asyncio.set_event_loop(self.loop)
        self.server = self.loop.run_until_complete(make_server())
        self.port = self.server.sockets[0].getsockname()[1]
        self._ready.set()
        self.loop.run_forever()

    def stop(self):
        async def close():
            self.server.close()
            await self.server.wait_closed()

        asyncio.run_coroutine_threadsafe(close(), self.loop).result(10)
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join(10)
        self.loop.close()


class SmtpServer:
    def __init__(self, *, certificate: tuple[Path, Path] | None = None,
                 credentials: tuple[str, str] | None = None, mechanisms: tuple[str, ...] = (),
                 refuse_rcpt: bool = False, starttls: tuple[Path, Path] | None = None,
                 starttls_reply: str = "ready", echo_auth: bool = False):
        self.recorder = Recorder(refuse_rcpt=refuse_rcpt)

        def tls_context(pair):
            if not pair:
                return None
            c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            c.minimum_version = ssl.TLSVersion.TLSv1_2
            c.load_cert_chain(*map(str, pair))
            return c

        context = tls_context(certificate)
        kwargs = dict(hostname="mail.test", auth_require_tls=False)
        protocol = _EchoingAuth if echo_auth else _RecordingSMTP
        if starttls:
            kwargs.update(tls_context=tls_context(starttls), require_starttls=True,
                          auth_require_tls=True)
            protocol = {"ready": _RecordingSMTP, "refuse": _RefusingStartTls,
                        "ahead": _AnsweringAheadStartTls}[starttls_reply]
        if credentials:
            def authenticate(server, session, envelope, mechanism, auth_data):
                ok = isinstance(auth_data, LoginPassword) and \
                    (auth_data.login.decode(), auth_data.password.decode()) == credentials
                self.recorder.auth_attempts.append((mechanism, auth_data.login.decode()))
                return AuthResult(success=ok, handled=False)

            kwargs["authenticator"] = authenticate
            kwargs["auth_exclude_mechanism"] = [m for m in ("PLAIN", "LOGIN")
                                                if mechanisms and m not in mechanisms]

        async def make():
            loop = asyncio.get_running_loop()
            return await loop.create_server(lambda: protocol(self.recorder, **kwargs),
                                            HOST, 0, ssl=context)

        self._thread = _LoopThread(make)
        self.port = self._thread.port

    def close(self):
        self._thread.stop()


class RawServer:
    """Accepts connections; sends greeting (if any) and closes, or holds them silently."""

    def __init__(self, greeting: bytes | None):
        self.greeting = greeting
        self.listener = socket.create_server((HOST, 0))
        self.listener.settimeout(0.1)
        self.port = self.listener.getsockname()[1]
        self._stop = threading.Event()
        self.held: list[socket.socket] = []
        self.accepted = 0
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self._stop.is_set():
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self.accepted += 1
            if self.greeting is None:
                self.held.append(conn)
            else:
                conn.sendall(self.greeting)
                conn.close()

    def close(self):
        self._stop.set()
        self._thread.join(5)
        self.listener.close()
        for c in self.held:
            c.close()


class FloodingServer:
    """Answers EHLO with lines x line_size bytes of "250-..." lines, made as they are sent."""

    def __init__(self, lines: int, line_size: int):
        self.lines, self.line_size = lines, line_size
        self.listener = socket.create_server((HOST, 0))
        self.port = self.listener.getsockname()[1]
        self.sent = 0  # bytes of the reply that went out before the client hung up
        self.ehlo = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        try:
            conn, _ = self.listener.accept()
        except OSError:
            return
        with conn:
            try:
                conn.sendall(b"220 mail.test ESMTP\r\n")
                self.ehlo = conn.recv(1024).upper().startswith(b"EHLO")
                line = b"250-" + b"x" * (self.line_size - 6) + b"\r\n"
                for _ in range(self.lines):
                    conn.sendall(line)
                    self.sent += len(line)
            except OSError:
                pass  # the client stopped listening

    def close(self):
        self.listener.close()
        self._thread.join(30)


def unused_port() -> int:
    """A loopback port with nothing listening on it."""
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]
