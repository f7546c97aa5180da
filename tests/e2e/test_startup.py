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
