"""Start-up: the banner, the settings file beside the program, and the choice of run mode."""

import re

import pytest

BANNER_TITLE = " - Starting Addrwatch   v1.0.1 "


def banner(messages):
    return messages[:3]


def test_banner_is_three_messages(program):
    result = program.run()
    first, second, third = banner(result.messages)
    assert first == "\t"
    assert second.startswith("\t") and second.endswith(BANNER_TITLE)
    assert re.search(r"\d", second[1:-len(BANNER_TITLE)]), "the date comes first"
    assert third == "\t" + "-" * 40


def test_check_run_is_silent_without_debug(program):
    result = program.run(env={"ADDRWATCH_DEBUG": "0"})
    assert result.returncode == 0
    assert result.stdout == ""
    if program.target == "native":
        assert result.stderr == ""


# --- the settings file follows the program's name; the switch picks the mode ---------------------

from ip_page import ip_page  # noqa: E402,F401


def test_renamed_program_reads_its_own_settings_file(make_program, ip_page):
    program = make_program("watcher")
    other = ip_page.url.replace("/IPCheck.php", "/not-this-one")
    (program.folder / "addrwatch.ini").write_bytes(f"[General]\r\nWhatIsMyIP={other}\r\n".encode())
    program.write_ini({"General": {"WhatIsMyIP": ip_page.url}})
    assert program.ini.name == "watcher.ini"
    assert program.run().returncode == 0
    assert ip_page.requests == ["/IPCheck.php"]


NO_DISPLAY = {"DISPLAY": "", "WAYLAND_DISPLAY": "", "ADDRWATCH_DEBUG": "0"}


@pytest.mark.parametrize("args,check_run", [
    ((), True),
    (("/CONFIG",), False),
    (("/Config",), False),
    (("/config", "x"), True),
    (("/config ",), True),
    (("-config",), True),
    (("config",), True),
    (("/config", "/installer"), True),
], ids=["empty", "/CONFIG", "/Config", "/config x", "/config+blank", "-config", "config",
        "two switches"])
def test_switch_selects_the_mode(program, ip_page, args, check_run):
    program.write_ini({"General": {"WhatIsMyIP": ip_page.url}})
    # Without a display the window mode ends at once; the short timeout keeps a hang visible.
    program.run(*args, env=NO_DISPLAY, timeout=60)
    assert (len(ip_page.requests) == 1) == check_run, ip_page.requests
