import os
import sys

import numpy as np
import pytest
from PIL import Image

sys.path.insert(0, os.path.dirname(__file__))
import code39  # noqa: E402
import scan39  # noqa: E402

TEXT = "SCAN-39"


@pytest.fixture(scope="session")
def symbol():
    """(grey array, bars' bounds) of one clean symbol."""
    return code39.render(TEXT)


@pytest.fixture(scope="session")
def files(tmp_path_factory, symbol):
    """The symbol saved in each format the loader takes."""
    folder = tmp_path_factory.mktemp("pictures")
    grey, _ = symbol
    out = {}
    for fmt in ("png", "bmp", "jpg", "gif"):
        out[fmt] = folder / f"symbol.{fmt}"
        Image.fromarray(grey).convert("RGB").save(out[fmt], quality=95)
    return out


@pytest.fixture(scope="session")
def reader_ready(symbol):
    """Fails what needs the whole-picture reader when it reads nothing from a plain symbol: a
    reader broken whole must not pass as skipped tests."""
    if not scan39.read(symbol[0]):
        pytest.fail("the whole-picture reader reads nothing from a plain symbol")


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "arrays: reads arrays and Pillow images alone, so it runs in the build without "
                   "the picture loader (SCAN39_WITH_QT=OFF) too")
