"""The real Windows setup program under 64-bit Wine, in a Wine prefix of its own: a silent
deployment with a prepared settings file beside it, the silent uninstall that Apps & Features
registers, upgrades that keep or replace the installed settings file, an interactive setup that
finds a settings file beside it, the website shortcut's schemes, a folder that is somebody
else's, an upgrade while a check run is in progress, and the Authenticode signatures of a signed
build.

Wine keeps no file access rules, so the folder's and the settings file's DACLs are not seen here;
what is seen is which files the setup writes, where, and how it ends.

The scheduler is a recorder named schtasks.exe put into the target folder before the setup runs
(the program finds its own folder first); the check run meets a loopback page and SMTP sink.
The setup runs on a private X display: a configuration window opened by mistake would keep it
waiting until its timeout.
"""

from __future__ import annotations

import http.server
import os
import pwd
import re
import shutil
import subprocess
import tempfile
import threading
import time
from pathlib import Path

import pytest

from packages import ADDRESS, BUILD, PACKAGES, ROOT, TASK, package, product_version

from check_run_servers import (email_settings, forget_address, smtp_sink,  # noqa: F401
                               stored_address, wait_until)
from conftest import ini_bytes, parse_messages
from ip_page import ip_page  # noqa: F401
from stalling_smtp import StallingSmtp
from window_support import xvfb  # noqa: F401

VERSION = product_version(BUILD / "win64")
SETUP = f"addrwatch-{VERSION}-setup.exe"
RECORDER = BUILD / "win64" / "tests" / "schtasks_recorder.exe"
SETUP_DRIVER = BUILD / "win64" / "tests" / "setup_driver.exe"
WINE_RUN = ROOT / "scripts" / "wine-run"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Addrwatch"
MENU = "ProgramData/Microsoft/Windows/Start Menu/Programs/Addrwatch"
PROGRAM_FILES = ("addrwatch.exe", "applogo.ico", "addrwatch.ini", "uninstall.exe")
GUARD = "check-run.lock"
SETUP_TIMEOUT = 180


class Wine:
    """A Wine prefix of this module's own, and the setup programs run in it."""

    def __init__(self, prefix: Path, display: str):
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", DISPLAY=display,
                        # No desktop menu entries on the test machine for the shortcuts.
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        self.env.pop("ADDRWATCH_UNATTENDED", None)
        self.run("cmd", "/c", "exit")

    def run(self, *args: str, timeout: float = SETUP_TIMEOUT,
            env: dict[str, str] | None = None) -> subprocess.CompletedProcess:
        result = subprocess.run([str(WINE_RUN), *args], env=dict(self.env, **(env or {})),
                                capture_output=True, timeout=timeout)
        self.settle()
        return result

    def start(self, *args: str, env: dict[str, str] | None = None) -> subprocess.Popen:
        return subprocess.Popen([str(WINE_RUN), *args], env=dict(self.env, **(env or {})),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def settle(self) -> None:
        """Waits for every process of the prefix: an NSIS uninstaller runs on as a copy."""
        wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
        subprocess.run([wineserver, "-w"], env=self.env, timeout=SETUP_TIMEOUT)

    def path(self, windows_path: str) -> Path:
        """The Unix path of a C: path."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        return self.prefix / "drive_c" / windows_path[3:].replace("\\", "/")

    def registry(self, key: str) -> dict[str, str] | None:
        """The values of a key in the 64-bit view, as reg.exe shows them; None when absent."""
        result = self.run("reg", "query", key, "/reg:64", timeout=60)
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.decode("latin-1").splitlines():
            m = re.match(r"^\s+(\S+)\s+(REG_\w+)\s+(.*)$", line)
            if m:
                values[m.group(1)] = m.group(3)
        return values

    # What check_run_servers.stored_address needs of a program.
    is_wine = True

    def environment(self) -> dict[str, str]:
        return dict(self.env)


@pytest.fixture(scope="module")
def wine(tmp_path_factory, xvfb) -> Wine:
    w = Wine(tmp_path_factory.mktemp("wineprefix"), xvfb)
    yield w
    wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
    subprocess.run([wineserver, "-k"], env=w.env, timeout=60)


def run_setup(wine: Wine, setup: Path, *args: str, status: int = 0) -> list[str]:
    """Runs the setup silently from where it lies (where a prepared addrwatch.ini is found);
    returns the diagnostic messages of the setup and the program it runs."""
    try:
        result = wine.run(str(setup), "/S", *args, env={"WINEDEBUG": "-all,+debugstr"})
    except subprocess.TimeoutExpired:
        pytest.fail(f"the silent setup still waits after {SETUP_TIMEOUT} s (for a window?)")
    stderr = result.stderr.decode("latin-1")
    assert result.returncode == status, stderr[-2000:]
    return parse_messages("win64", stderr)


def uninstall_silently(wine: Wine) -> None:
    """Runs what Apps & Features registered as the quiet uninstall command."""
    entry = wine.registry(UNINSTALL_KEY)
    assert entry is not None
    m = re.fullmatch(r'"([^"]+)" (.*)', entry["QuietUninstallString"])
    assert m, entry["QuietUninstallString"]
    assert wine.run(m.group(1), *m.group(2).split()).returncode == 0


def menu_entries(wine: Wine) -> set[str]:
    folder = wine.prefix / "drive_c" / MENU
    return {p.name for p in folder.iterdir()} if folder.exists() else set()


def recorded(folder: Path) -> list[str]:
    log = folder / "schtasks.log"
    return log.read_text("latin-1").splitlines() if log.exists() else []


def copy_setup(folder: Path, source: Path | None = None) -> Path:
    folder.mkdir(parents=True, exist_ok=True)
    return Path(shutil.copy2(source or package(SETUP), folder / SETUP))


def test_silent_deployment_and_silent_uninstall(wine, tmp_path, ip_page, smtp_sink):
    ip_page.answer(ADDRESS + "\r\n")
    wine.run("reg", "delete", r"HKLM\Software\Quillfen\Addrwatch", "/f", timeout=60)
    target = wine.path(r"C:\Program Files\Addrwatch")
    # The recorder joins a plain installation (with no settings it does nothing): a folder that
    # holds files but no installation is refused.
    run_setup(wine, copy_setup(tmp_path / "plain"))
    shutil.copy2(RECORDER, target / "schtasks.exe")
    setup = copy_setup(tmp_path / "share")
    settings = ini_bytes({
        # RunConfigAfterInstall is missing: interactively the window would open.
        "General": {"CreateTask": "1", "RunAfterInstall": "1", "TaskTime": "07:30:00",
                    "WhatIsMyIP": ip_page.url, "ConfigShortcut": "1", "WebsiteShortcut": "0"},
        "EmailConfig": {"SMTPServer": "127.0.0.1", "SMTPPort": str(smtp_sink.port),
                        "FromEmail": "addrwatch@example.test", "ToEmail": "owner@example.test",
                        "Subject": "Home", "UseSSL": "0", "SMTPAuth": "0"},
    })
    (setup.parent / "addrwatch.ini").write_bytes(settings)

    run_setup(wine, setup)

    for name in PROGRAM_FILES:
        assert (target / name).is_file(), name
    assert (target / "addrwatch.ini").read_bytes() == settings
    installed = (target / "addrwatch.exe").read_bytes()
    assert installed == (BUILD / "win64" / "addrwatch.exe").read_bytes()
    # No folder of the build machine in the program the system account runs.
    assert str(ROOT.resolve()).encode() not in installed
    # UninstallShortcut is missing, so it is made; WebsiteShortcut is "0".
    assert menu_entries(wine) == {"Addrwatch Configuration.lnk", "Uninstall Addrwatch.lnk"}
    menu = wine.prefix / "drive_c" / MENU
    assert "/config".encode("utf-16-le") in (menu / "Addrwatch Configuration.lnk").read_bytes()
    assert b"uninstall.exe" in (menu / "Uninstall Addrwatch.lnk").read_bytes().lower()
    exe = r"C:\Program Files\Addrwatch\addrwatch.exe"
    assert recorded(target) == [
        f'/delete /f /tn "{TASK}"',
        f'/create /ru system /sc DAILY /st 07:30:00 /rl highest /f /tn "{TASK}" /tr "\\"{exe}\\"',
    ]
    assert len(ip_page.requests) == 1
    assert len(smtp_sink.mails) == 1
    assert ADDRESS in smtp_sink.mails[0].text
    assert stored_address(wine) == ADDRESS
    entry = wine.registry(UNINSTALL_KEY)
    assert entry is not None
    assert {k: entry[k] for k in ("DisplayName", "DisplayVersion", "Publisher", "InstallLocation",
                                  "DisplayIcon", "UninstallString", "QuietUninstallString",
                                  "NoModify", "NoRepair")} == {
        "DisplayName": "Addrwatch",
        "DisplayVersion": VERSION,
        "Publisher": "Quillfen",
        "InstallLocation": r"C:\Program Files\Addrwatch",
        "DisplayIcon": r"C:\Program Files\Addrwatch\applogo.ico",
        "UninstallString": r'"C:\Program Files\Addrwatch\uninstall.exe"',
        "QuietUninstallString": r'"C:\Program Files\Addrwatch\uninstall.exe" /S',
        "NoModify": "0x1",
        "NoRepair": "0x1",
    }
    assert int(entry["EstimatedSize"], 16) > 0
    assert (target / GUARD).exists()

    before = len(recorded(target))
    uninstall_silently(wine)

    for name in PROGRAM_FILES:
        assert not (target / name).exists(), name
    assert menu_entries(wine) == set()
    assert not (wine.prefix / "drive_c" / MENU).exists()
    assert wine.registry(UNINSTALL_KEY) is None
    assert stored_address(wine) is None
    assert recorded(target)[before:] == [f'/delete /f /tn "{TASK}"', '/delete /f /tn "Addrwatch"']
    # The guard file goes with the program. The recorder (and its log) are the user's files:
    # they and so the folder stay.
    assert sorted(p.name for p in target.iterdir()) == ["schtasks.exe", "schtasks.log"]
    assert len(smtp_sink.mails) == 1


@pytest.fixture(scope="module")
def setup_with_packaged_ini(tmp_path_factory) -> Path:
    """A setup program built with scripts/package --ini: its own default settings file."""
    folder = tmp_path_factory.mktemp("packaged")
    ini = folder / "default.ini"
    ini.write_bytes(ini_bytes({"General": {"RunAfterInstall": "0", "WebsiteShortcut": "",
                                           "WebsiteURL": "example.test/packaged"}}))
    subprocess.run([str(ROOT / "packaging" / "windows" / "build-setup"), str(BUILD / "win64"),
                    str(folder), str(ini)], check=True, capture_output=True, timeout=120)
    return folder / SETUP


def test_upgrades_keep_the_installed_settings_unless_new_ones_come(wine, tmp_path,
                                                                  setup_with_packaged_ini):
    # /D= takes no quotes, and Wine would quote an argument with a blank.
    target_dos = r"C:\AddrwatchTest"
    target = wine.path(target_dos)
    plain = copy_setup(tmp_path / "plain")
    packaged = copy_setup(tmp_path / "packaged", setup_with_packaged_ini)
    prepared = copy_setup(tmp_path / "prepared")
    new_settings = ini_bytes({"General": {"WebsiteShortcut": "1", "ConfigShortcut": "0",
                                          "UninstallShortcut": "0",
                                          "WebsiteURL": "https://example.test/new"}})
    (prepared.parent / "addrwatch.ini").write_bytes(new_settings)
    packaged_settings = ini_bytes({"General": {"RunAfterInstall": "0", "WebsiteShortcut": "",
                                               "WebsiteURL": "example.test/packaged"}})

    run_setup(wine, plain, "/D=" + target_dos)
    assert not (target / "addrwatch.ini").exists(), "a plain setup brings no settings file"
    assert menu_entries(wine) == {"Addrwatch Configuration.lnk", "Addrwatch Website.url",
                                  "Uninstall Addrwatch.lnk"}

    # The packaged settings file where none is installed yet; a bare host gets http://.
    run_setup(wine, packaged)
    assert (target / "addrwatch.ini").read_bytes() == packaged_settings
    website = wine.prefix / "drive_c" / MENU / "Addrwatch Website.url"
    assert "URL=http://example.test/packaged" in website.read_text("latin-1").splitlines()

    (target / "addrwatch.ini").write_bytes(packaged_settings + b"[EmailConfig]\r\nSubject=Mine\r\n")
    edited = (target / "addrwatch.ini").read_bytes()
    # The installation is found again without /D=; the installed settings stay.
    run_setup(wine, packaged)
    run_setup(wine, plain)
    assert (target / "addrwatch.ini").read_bytes() == edited

    # New settings beside the setup replace them, and the shortcuts follow.
    run_setup(wine, prepared)
    assert (target / "addrwatch.ini").read_bytes() == new_settings
    assert menu_entries(wine) == {"Addrwatch Website.url"}
    assert "URL=https://example.test/new" in website.read_text("latin-1").splitlines()

    uninstall_silently(wine)
    assert not target.exists(), "with nothing of the user's in it, the folder goes"
    assert wine.registry(UNINSTALL_KEY) is None


WEBSITES = [
    # WebsiteURL, the shortcut's URL (None: no shortcut, and the log says why), in turn over one
    # installation: a refused value also takes away the shortcut an earlier one made.
    ("file://C:/Windows/System32/calc.exe", None),
    ("HTTPS://example.test/a", "HTTPS://example.test/a"),
    ("JavaScript://%0Aalert(1)", None),
    ("://example.test", None),
    ("example.test:8080/b", "http://example.test:8080/b"),  # no scheme: http:// as before
]


def test_the_website_shortcut_opens_only_a_web_page(wine, tmp_path):
    target_dos = r"C:\AddrwatchWeb"
    website = wine.prefix / "drive_c" / MENU / "Addrwatch Website.url"
    setup = copy_setup(tmp_path / "share")
    for value, url in WEBSITES:
        (setup.parent / "addrwatch.ini").write_bytes(ini_bytes({"General": {
            "RunAfterInstall": "0", "WebsiteShortcut": "1", "WebsiteURL": value}}))
        messages = run_setup(wine, setup, "/D=" + target_dos)
        left_out = [m for m in messages if m.startswith("Website shortcut left out")]
        if url is None:
            assert not website.exists(), value
            assert left_out == ["Website shortcut left out: WebsiteURL is not an http or https "
                                f"address: {value}"], messages
        else:
            assert f"URL={url}" in website.read_text("latin-1").splitlines(), value
            assert left_out == [], value
    uninstall_silently(wine)


def test_a_folder_that_holds_other_files_is_refused(wine, tmp_path):
    folder_dos = r"C:\users\Public\Documents\Mine"
    folder = wine.path(folder_dos)
    folder.mkdir(parents=True)
    (folder / "notes.txt").write_bytes(b"mine\r\n")
    setup = copy_setup(tmp_path / "share")
    (setup.parent / "addrwatch.ini").write_bytes(ini_bytes({"General": {"RunAfterInstall": "0"}}))

    messages = run_setup(wine, setup, "/D=" + folder_dos, status=2)

    assert any(folder_dos in m and "is not empty and holds no Addrwatch installation" in m
               for m in messages), messages
    assert sorted(p.name for p in folder.iterdir()) == ["notes.txt"]
    assert (folder / "notes.txt").read_bytes() == b"mine\r\n"
    assert menu_entries(wine) == set()
    assert wine.registry(UNINSTALL_KEY) is None


@pytest.mark.parametrize("tick", [False, True], ids=["left-unticked", "ticked"])
def test_an_interactive_setup_takes_settings_beside_it_only_when_asked(wine, tmp_path, tick):
    target_dos = r"C:\AddrwatchAsked"
    target = wine.path(target_dos)
    setup = copy_setup(tmp_path / "downloads")
    planted = ini_bytes({"General": {"RunAfterInstall": "0", "WebsiteShortcut": "0"},
                         "EmailConfig": dict(email_settings(25), ToEmail="someone@example.test")})
    (setup.parent / "addrwatch.ini").write_bytes(planted)

    # The hook's window stays shut (nobody here would close it); the pages are the setup's own.
    env = {"ADDRWATCH_UNATTENDED": "1"}
    run = wine.start(str(setup), "/D=" + target_dos, env=env)
    driver = wine.run(str(SETUP_DRIVER), "Addrwatch Setup",
                      *(["tick:Use these settings"] if tick else []), env=env)
    run.communicate(timeout=SETUP_TIMEOUT)
    shown = driver.stdout.decode("utf-8", "replace").splitlines()

    assert driver.returncode == 0, shown
    assert run.returncode == 0
    # The page names the file, and its box starts unticked.
    assert any(line.startswith("text=") and line.endswith(
        "\\" + setup.parent.name + "\\addrwatch.ini") for line in shown), shown
    assert "check=Use these settings|0" in shown
    assert (target / "addrwatch.exe").is_file()
    if tick:
        assert (target / "addrwatch.ini").read_bytes() == planted
    else:
        assert not (target / "addrwatch.ini").exists()
    uninstall_silently(wine)
    assert not target.exists()


def test_an_upgrade_during_a_check_run_never_leaves_the_old_program_reported_as_done(
        wine, tmp_path, ip_page):
    """The run holds at the mail server's reply to the data. A program that guards its runs with
    the guard file makes the setup wait and then replace it; one that does not (a named mutex)
    keeps addrwatch.exe in use, and the setup fails. Either is right: only success with the old
    program in place is not."""
    target_dos = r"C:\AddrwatchBusy"
    target = wine.path(target_dos)
    smtp = StallingSmtp()
    try:
        setup = copy_setup(tmp_path / "first")
        (setup.parent / "addrwatch.ini").write_bytes(ini_bytes({
            "General": {"RunAfterInstall": "0", "WhatIsMyIP": ip_page.url},
            "EmailConfig": email_settings(smtp.port)}))
        run_setup(wine, setup, "/D=" + target_dos)
        new = (target / "addrwatch.exe").read_bytes()
        old = new + b"an older build"  # still runs: the overlay is not loaded
        (target / "addrwatch.exe").write_bytes(old)

        forget_address(wine)
        ip_page.answer(ADDRESS + "\r\n")
        smtp.stall = "data_end"
        check = wine.start(target_dos + r"\addrwatch.exe")
        assert wait_until(smtp.stalled.is_set, 90), "the check run did not reach the mail server"

        upgrade = wine.start(str(copy_setup(tmp_path / "upgrade")), "/S",
                             env={"WINEDEBUG": "-all,+debugstr"})
        time.sleep(10)  # the setup meets the run in progress
        smtp.release()
        _, upgrade_log = upgrade.communicate(timeout=SETUP_TIMEOUT)
        check.communicate(timeout=120)
        wine.settle()

        assert check.returncode == 0
        assert len(smtp.mails) == 1
        installed = (target / "addrwatch.exe").read_bytes()
        if upgrade.returncode == 0:
            assert installed == new, "the setup reported success with the old program in place"
        else:
            assert upgrade.returncode == 2
            messages = parse_messages("win64", upgrade_log.decode("latin-1"))
            assert any("could not all be replaced" in m for m in messages), messages
            # With the run over, the setup again replaces it.
            run_setup(wine, copy_setup(tmp_path / "again"))
            assert (target / "addrwatch.exe").read_bytes() == new
    finally:
        smtp.close()
    uninstall_silently(wine)
    assert not target.exists(), "the guard file goes with the program"


# --- signed Windows files -----------------------------------------------------------------
# scripts/package --sign with a code-signing certificate made here (a test CA and a signer it
# certified, in a PKCS#12 file with a password) and time stamps from a loopback RFC 3161 server,
# checked with osslsigncode verify. osslsigncode
# is reached through a recorder first on PATH, which notes each command line and the password
# file's mode before it runs the real tool: the password must never be an argument ps shows.

SIGNED_MSI = f"addrwatch-{VERSION}-x64.msi"
PASSWORD = "correct horse battery staple"
SIGNER = "Addrwatch Test Signer"
TSA_CONFIG = """[ tsa ]
default_tsa = test_tsa
[ test_tsa ]
serial = ./tsaserial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.2.3.4.1
other_policies = 1.2.3.4.2
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""
OSSLSIGNCODE = shutil.which("osslsigncode") or "/usr/bin/osslsigncode"
OSSLSIGNCODE_RECORDER = """#!/bin/bash
args=("$@")
{ printf 'call'; printf ' %q' "$@"; echo; } >>"$OSSLSIGNCODE_LOG"
while (($#)); do
  [ "$1" != -readpass ] || stat -c 'readpass %n %a %U' "$2" >>"$OSSLSIGNCODE_LOG"
  shift
done
exec "$OSSLSIGNCODE_REAL" "${args[@]}"
"""


def openssl(*args: str, cwd: Path) -> None:
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True, timeout=60)


@pytest.fixture(scope="module")
def certificate(tmp_path_factory) -> dict[str, Path]:
    """A CA, and a code-signing certificate it issued, with the key, in a protected .pfx."""
    d = tmp_path_factory.mktemp("certificate")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
            "ca.pem", "-days", "3", "-subj", "/CN=Addrwatch Test CA", "-addext",
            "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign",
            cwd=d)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out",
            "signer.csr", "-subj", f"/CN={SIGNER}/O=Quillfen", cwd=d)
    (d / "signer.ext").write_text("basicConstraints=CA:FALSE\n"
                                  "keyUsage=critical,digitalSignature\n"
                                  "extendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "signer.ext", "-out", "signer.pem",
            cwd=d)
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile",
            "ca.pem", "-out", "signer.pfx", "-passout", f"pass:{PASSWORD}", cwd=d)
    # The time-stamping authority's certificate, from the same CA.
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa.key", "-out", "tsa.csr",
            "-subj", "/CN=Addrwatch Test TSA", cwd=d)
    (d / "tsa.ext").write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                               "extendedKeyUsage=critical,timeStamping\n")
    openssl("x509", "-req", "-in", "tsa.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "tsa.ext", "-out", "tsa.pem", cwd=d)
    (d / "tsa.cnf").write_text(TSA_CONFIG)
    (d / "tsaserial").write_text("01\n")
    return {"ca": d / "ca.pem", "pfx": d / "signer.pfx", "folder": d}


@pytest.fixture(scope="module")
def time_stamps(certificate):
    """An RFC 3161 time-stamping server on loopback: openssl ts answers each query."""
    folder = certificate["folder"]

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers["Content-Length"]))
            with tempfile.TemporaryDirectory() as scratch:
                (Path(scratch) / "query").write_bytes(query)
                subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile",
                                f"{scratch}/query", "-signer", "tsa.pem", "-inkey", "tsa.key",
                                "-chain", "ca.pem", "-out", f"{scratch}/reply"],
                               cwd=folder, check=True, capture_output=True, timeout=60)
                reply = (Path(scratch) / "reply").read_bytes()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield f"http://127.0.0.1:{server.server_address[1]}/"
    server.shutdown()
    server.server_close()


@pytest.fixture(scope="module")
def signed(tmp_path_factory, certificate, time_stamps) -> dict[str, object]:
    """scripts/package --sign into a folder of its own, the osslsigncode calls it made, and what
    it printed."""
    d = tmp_path_factory.mktemp("signed")
    out, tools, log = d / "package", d / "tools", d / "osslsigncode.log"
    tools.mkdir()
    (tools / "osslsigncode").write_text(OSSLSIGNCODE_RECORDER)
    (tools / "osslsigncode").chmod(0o755)
    env = dict(os.environ, ADDRWATCH_SIGN_PASSWORD=PASSWORD, OSSLSIGNCODE_LOG=str(log),
               OSSLSIGNCODE_REAL=OSSLSIGNCODE, PATH=f"{tools}:{os.environ['PATH']}")
    env.update(ADDRWATCH_SIGN_TIMESTAMP_URL=time_stamps, no_proxy="127.0.0.1")
    done = subprocess.run([str(ROOT / "scripts" / "package"), "--sign", str(certificate["pfx"]),
                           "--out", str(out)], cwd=ROOT, env=env, capture_output=True,
                          text=True, timeout=900)
    assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
    return {"out": out, "calls": log.read_text().splitlines(), "stdout": done.stdout}


def verify(path: Path, ca: Path) -> subprocess.CompletedProcess:
    return subprocess.run([OSSLSIGNCODE, "verify", "-CAfile", str(ca), "-TSA-CAfile", str(ca),
                           "-in", str(path)], capture_output=True, text=True, timeout=120)


def assert_signed(path: Path, ca: Path) -> None:
    """Signed by the test signer, with a time stamp of the test server."""
    result = verify(path, ca)
    assert result.returncode == 0, f"{path.name}: {result.stdout}{result.stderr}"
    assert SIGNER in result.stdout, result.stdout
    assert "Timestamp Server Signature verification: ok" in result.stdout, result.stdout


@pytest.mark.parametrize("name", [SETUP, SIGNED_MSI])
def test_the_signed_packages_verify(signed, certificate, name):
    path = signed["out"] / name
    if name == SIGNED_MSI and not path.exists():
        pytest.skip("scripts/package made no MSI in this tree, so there is none to verify")
    assert_signed(path, certificate["ca"])


def test_the_password_reaches_osslsigncode_only_through_a_private_file(signed):
    calls = [c for c in signed["calls"] if c.startswith("call sign ")]
    # addrwatch.exe before it is packed, the uninstaller, the setup program (and the MSI).
    assert len(calls) >= 3, signed["calls"]
    assert not [c for c in signed["calls"] if "horse" in c], signed["calls"]
    files = [line.split()[1:] for line in signed["calls"] if line.startswith("readpass ")]
    assert len(files) == len(calls)
    for name, mode, owner in files:
        assert (mode, owner) == ("600", pwd.getpwuid(os.geteuid()).pw_name), (name, mode)
        assert not Path(name).exists(), f"{name} outlived the packaging"
    assert all(" -ts http://127.0.0.1:" in c for c in calls), calls
    assert any("/addrwatch.exe " in c for c in calls)
    assert any(f"/{SETUP} " in c for c in calls)
    assert "not signed" not in signed["stdout"]


def test_the_signed_setup_installs_a_signed_program_and_uninstaller(wine, signed, certificate,
                                                                    tmp_path):
    target_dos = r"C:\AddrwatchSigned"
    run_setup(wine, copy_setup(tmp_path / "share", signed["out"] / SETUP), "/D=" + target_dos)
    for name in ("addrwatch.exe", "uninstall.exe"):
        assert_signed(wine.path(target_dos) / name, certificate["ca"])
    uninstall_silently(wine)


def test_an_unsigned_build_carries_no_signature(signed, certificate):
    # build/package as scripts/package makes it without --sign, and the build that the signed
    # packaging read: its program was signed as a copy, never in place.
    unsigned = [package(SETUP), BUILD / "win64" / "addrwatch.exe"]
    if (PACKAGES / SIGNED_MSI).exists():
        unsigned.append(PACKAGES / SIGNED_MSI)
    for path in unsigned:
        result = verify(path, certificate["ca"])
        assert result.returncode != 0, path
        # osslsigncode words it per format: "No signature found" (PE), "MSI file has no signature".
        said = (result.stdout + result.stderr).lower()
        assert "no signature" in said, result.stdout + result.stderr
