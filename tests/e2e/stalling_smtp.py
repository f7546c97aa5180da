"""A loopback SMTP server that can stop answering at one step of a session, so a test can stop
the client there (kill it) or let it go on (release).

    server = StallingSmtp(); server.stall = "data_end"; ...; server.stalled.wait(); ...

Steps: "greeting" (connected, nothing said yet), "data_end" (the whole message arrived, its
reply not sent: not accepted), "quit" (the message accepted, QUIT unanswered). Without a stall
it accepts every message. `mails` holds the accepted ones, in order.
"""

from __future__ import annotations

import socket
import threading

from check_run_servers import Mail

HOST = "127.0.0.1"


class StallingSmtp:
    def __init__(self):
        self.stall: str | None = None
        self.stalled = threading.Event()  # a session reached the stall step
        self.mails: list[Mail] = []
        self._release = threading.Event()
        self._stop = threading.Event()
        self._lock = threading.Lock()
        self._connections: list[socket.socket] = []
        self.listener = socket.create_server((HOST, 0))
        self.listener.settimeout(0.1)
        self.port = self.listener.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def release(self) -> None:
        """Lets stalled sessions, and any later ones, go on as if no stall were set."""
        self._release.set()

    def close(self) -> None:
        self._stop.set()
        self._release.set()
        self._thread.join(5)
        self.listener.close()
        with self._lock:
            for conn in self._connections:
                conn.close()

    def _serve(self) -> None:
        while not self._stop.is_set():
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            with self._lock:
                self._connections.append(conn)
            threading.Thread(target=self._session, args=(conn, self.stall), daemon=True).start()

    def _halt(self, step: str, stall: str | None) -> bool:
        """True when the session is to go on past step."""
        if step != stall or self._release.is_set():
            return True
        self.stalled.set()
        self._release.wait()
        return not self._stop.is_set()

    def _session(self, conn: socket.socket, stall: str | None) -> None:
        reader = conn.makefile("rb")
        try:
            if not self._halt("greeting", stall):
                return
            conn.sendall(b"220 mail.test ESMTP\r\n")
            mail_from, rcpt_tos = "", []
            for line in reader:
                verb = line[:4].upper()
                if verb in (b"EHLO", b"HELO"):
                    conn.sendall(b"250 mail.test\r\n")
                elif verb == b"MAIL":
                    mail_from, rcpt_tos = line[10:].strip().decode("latin-1").strip("<>"), []
                    conn.sendall(b"250 OK\r\n")
                elif verb == b"RCPT":
                    rcpt_tos.append(line[8:].strip().decode("latin-1").strip("<>"))
                    conn.sendall(b"250 OK\r\n")
                elif verb == b"DATA":
                    conn.sendall(b"354 End data with <CR><LF>.<CR><LF>\r\n")
                    data = bytearray()
                    for data_line in reader:
                        if data_line == b".\r\n":
                            break
                        data += data_line
                    if not self._halt("data_end", stall):
                        return
                    self.mails.append(Mail(mail_from, rcpt_tos, bytes(data)))
                    conn.sendall(b"250 2.0.0 Message accepted\r\n")
                elif verb == b"QUIT":
                    if self._halt("quit", stall):
                        conn.sendall(b"221 Bye\r\n")
                    return
                else:
                    conn.sendall(b"250 OK\r\n")
        except OSError:
            pass
        finally:
            reader.close()
            conn.close()
