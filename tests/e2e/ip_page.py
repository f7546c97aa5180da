"""A scriptable IP-check page on loopback: a body you set, any status, a stall, an oversized or
endless answer, a chain of redirects, a declared length the body does not keep, a connection
held open after the answer, https with a given certificate. Records every request it gets.

    page = IpPage(); page.answer(b"203.0.113.7\r\n"); program uses page.url; page.close()

or the `ip_page` fixture, which closes it after the test.
"""

from __future__ import annotations

import socket
import ssl
import threading
import time
from dataclasses import dataclass, field
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest


@dataclass
class Script:
    body: bytes = b""
    status: int = 200
    content_type: str = "text/plain"
    # False: no Content-Length (the body ends when the connection closes).
    declare_length: bool = True
    stall: bool = False
    endless: bool = False
    redirects: int = 0  # hops before the body: /r/N -> /r/N-1 -> ... -> the page
    location: str | None = None  # a fixed Location for a 302 (e.g. another scheme)
    headers: dict[str, str] = field(default_factory=dict)
    content_length: int | None = None  # declared instead of the body's own length
    hold_open: bool = False  # keep the connection open after the answer
    delay: float = 0  # seconds before answering


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server: "_Server"

    def log_message(self, *args):  # keep test output clean
        pass

    def do_GET(self):
        page = self.server.page
        page._record(self.path, dict(self.headers))
        s = page.script
        if s.stall:
            page._stop.wait(120)
            return
        if s.delay:
            page._stop.wait(s.delay)
        if s.location is not None:
            self._send(302, b"", {"Location": s.location})
            return
        # s.redirects hops of 302 before the body: the page -> /r/N-1 -> ... -> /r/0 (the body).
        remaining = int(self.path[3:]) if self.path.startswith("/r/") else s.redirects
        if remaining > 0:
            # Relative and absolute Locations in turn.
            location = f"/r/{remaining - 1}"
            if remaining % 2:
                location = f"{page.scheme}://{page.authority}{location}"
            self._send(302, b"", {"Location": location})
            return
        if s.endless:
            self.send_response(s.status)
            self.send_header("Content-Type", s.content_type)
            self.end_headers()
            chunk = b"x" * 4096
            try:
                while not page._stop.is_set():
                    self.wfile.write(chunk)
            except OSError:
                pass
            return
        self._send(s.status, s.body, {"Content-Type": s.content_type, **s.headers},
                   s.declare_length, s.content_length)
        if s.hold_open:
            self.wfile.flush()
            page._stop.wait(120)

    def _send(self, status, body, headers, declare_length=True, length=None):
        try:
            self.send_response(status)
            for k, v in headers.items():
                self.send_header(k, v)
            if declare_length:
                self.send_header("Content-Length", str(len(body) if length is None else length))
            self.end_headers()
            self.wfile.write(body)
        except OSError:
            pass


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    page: "IpPage"


class _Server6(_Server):
    address_family = socket.AF_INET6


class IpPage:
    PATH = "/IPCheck.php"

    def __init__(self, certificate: tuple | None = None, host: str = "127.0.0.1", port: int = 0):
        """certificate: (cert file, key file) to serve https; host and port to listen on, "::1"
        for IPv6 (an address other than loopback only inside a network namespace of the test's
        own)."""
        self.script = Script()
        self.requests: list[str] = []
        self.request_headers: list[dict[str, str]] = []
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self.host = host
        self._server = (_Server6 if ":" in host else _Server)((host, port), _Handler)
        self._server.page = self
        self.port = self._server.server_address[1]
        self.scheme = "http"
        if certificate:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*map(str, certificate))
            self._server.socket = context.wrap_socket(self._server.socket, server_side=True)
            self.scheme = "https"
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    @property
    def authority(self) -> str:
        host = f"[{self.host}]" if ":" in self.host else self.host
        return f"{host}:{self.port}"

    @property
    def url(self) -> str:
        return f"{self.scheme}://{self.authority}{self.PATH}"

    def answer(self, body: bytes | str, status: int = 200, **options) -> "IpPage":
        if isinstance(body, str):
            body = body.encode("latin-1")
        self.script = Script(body=body, status=status, **options)
        return self

    def _record(self, path, headers):
        with self._lock:
            self.requests.append(path)
            self.request_headers.append(headers)

    def wait_for_requests(self, count: int, timeout: float = 10) -> bool:
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            with self._lock:
                if len(self.requests) >= count:
                    return True
            time.sleep(0.02)
        return False

    def close(self):
        self._stop.set()
        self._server.shutdown()
        self._server.server_close()


def refused_url() -> str:
    """A loopback address where nothing listens (a port just released)."""
    page = IpPage()
    url = page.url
    page.close()
    return url


@pytest.fixture
def ip_page():
    page = IpPage()
    yield page
    page.close()
