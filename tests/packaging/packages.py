"""What the package tests share: where the packages and builds are, and the end-to-end suite's
loopback peers (IP page, SMTP sink, the stored address), imported from tests/e2e."""

from __future__ import annotations

import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"
PACKAGES = BUILD / "package"
E2E = ROOT / "tests" / "e2e"
if str(E2E) not in sys.path:
    sys.path.insert(0, str(E2E))

TASK = "Quillfen - Addrwatch"
ADDRESS = "203.0.113.7"


def product_version(build: Path) -> str:
    """The version CMake wrote for the packagers (the product's one definition)."""
    for line in (build / "generated" / "product.env").read_text().splitlines():
        if line.startswith("ADDRWATCH_VERSION="):
            return line.split("=", 1)[1].strip("'")
    raise AssertionError("no version in product.env")


def package(name: str) -> Path:
    path = PACKAGES / name
    if not path.exists():
        pytest.fail(f"{path} is missing: run scripts/package first")
    return path

