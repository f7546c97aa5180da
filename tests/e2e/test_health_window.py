"""The window under Wine shows the last check, and Check Now runs one with the saved settings:
after a run whose mail server refuses the logon, the General page shows that run's time and the
refusal, and the failure heartbeat was asked once. (The Qt window: its QTest suite.)"""

from __future__ import annotations

import re
import time

from check_run_servers import email_settings, forget_address
from health_support import Monitor, health
from ip_page import ip_page  # noqa: F401
from smtp_server import SmtpServer
from test_send_email import stored_password
from window_support import config_window, xvfb  # noqa: F401

LAST_CHECK, CHECK_NOW, TASK_TIME = 600, 601, 213


def test_check_now_runs_a_check_and_shows_the_refusal(program, config_window, ip_page):
    forget_address(program)
    monitor = Monitor()
    refusing = SmtpServer(credentials=("watch", "right"))
    try:
        ip_page.answer("203.0.113.9\r\n")
        program.write_ini({
            "General": {"WhatIsMyIP": ip_page.url, **monitor.settings()},
            "EmailConfig": {**email_settings(refusing.port), "SMTPAuth": "1",
                            "SMTPUserName": "watch", "SMTPPassword": stored_password("wrong")},
        })
        w = config_window()
        assert w.drive(f"text:{LAST_CHECK}")[f"text:{LAST_CHECK}"] == "Last check: never"
        w.screenshot("general-never")

        # An unsaved change: the window asks, and Yes saves it before the check starts.
        seen = w.drive(f"settext:{TASK_TIME}=07:30:00", f"click:{CHECK_NOW}", "boxyes")
        assert seen["box"].startswith("Save your changes before the check?")
        assert "|buttons=&Yes,&No" in seen["box"] or "|buttons=Yes,No" in seen["box"]
        assert "TaskTime=07:30:00" in program.ini.read_text("latin-1")

        line = ""
        end = time.monotonic() + 120
        while time.monotonic() < end:
            line = w.drive(f"text:{LAST_CHECK}")[f"text:{LAST_CHECK}"]
            if line != "Last check: never":
                break
            time.sleep(0.5)
        assert re.fullmatch(r"Last check: \d{4}-\d\d-\d\d \d\d:\d\d - the mail server refused the "
                            r"logon: 535 5\.7\.8 Authentication credentials invalid", line), line
        w.screenshot("general-checked")
        assert health(program)["LastCheckResult"] == "notify-failed"
        assert monitor.requests == [Monitor.PATH + "/fail"]
        w.drive("close", "gone")
    finally:
        refusing.close()
        monitor.close()
