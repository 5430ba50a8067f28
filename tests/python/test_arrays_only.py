"""What reads the same with and without the picture loader (scan39 built with
SCAN39_WITH_QT=OFF has the reader alone), and what a build without it says instead."""

import os
import pathlib

import numpy as np
import pytest
from PIL import Image

import scan39
from conftest import TEXT
from test_read import kinds

pytestmark = pytest.mark.arrays

READS_FILES = scan39._scan39.READS_FILES


@pytest.mark.parametrize("kind", [
    "grey", "grey strided", "grey upside down", "rgb", "rgb fortran", "rgba",
    "PIL L", "PIL RGB", "PIL P", "PIL 1", "PIL I", "PIL F"])
def test_every_array_kind_reads_the_symbol(symbol, files, kind, reader_ready):
    (found,) = scan39.read(kinds(symbol[0], files["png"])[kind])
    assert found.text == TEXT and found.lines > 0 and found.page is None


# The loader's bound and its words, whether the loader is built or not.
HUGE = np.broadcast_to(np.uint8(255), (50000, 50000))


@pytest.mark.parametrize("language, message", [
    ({}, "too large (at most 67108864 pixels are accepted)"),
    ({"LANG": "C.UTF-8"}, "too large (at most 67108864 pixels are accepted)"),
    ({"LANG": "zh_CN.UTF-8"}, "内存溢出：图片太大（50000 × 50000 像素，最多允许 67108864 像素）"),
    ({"LC_ALL": "zh_TW.UTF-8", "LANG": "C"},
     "内存溢出：图片太大（50000 × 50000 像素，最多允许 67108864 像素）"),
    ({"LC_MESSAGES": "C", "LANG": "zh_CN.UTF-8"},
     "too large (at most 67108864 pixels are accepted)"),
])
def test_too_large_in_the_loaders_words(monkeypatch, language, message):
    for name in ("LC_ALL", "LC_MESSAGES", "LANG"):
        monkeypatch.delenv(name, raising=False)
    for name, value in language.items():
        monkeypatch.setenv(name, value)
    with pytest.raises(scan39.PictureError) as raised:
        scan39.read(HUGE)
    assert (str(raised.value), raised.value.number, raised.value.filename) == (message, 7, None)


def encoded(path):
    return {"str": str(path), "PathLike": pathlib.Path(path), "bytes": path.read_bytes(),
            "bytearray": bytearray(path.read_bytes()),
            "memoryview": memoryview(path.read_bytes())}


CALLS = {
    "read": lambda image: scan39.read(image),
    "read_pages": lambda image: scan39.read_pages(image),
    "read_records": lambda image: scan39._scan39.read_records(
        image, b"x.png", False, False, "thorough", "both", False, 300),
    "reader_seconds": lambda image: scan39._scan39._reader_seconds(image),
}


@pytest.mark.skipif(READS_FILES, reason="this build has the picture loader")
@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("kind", ["str", "PathLike", "bytes", "bytearray", "memoryview"])
def test_without_the_loader_files_and_bytes_say_how_to_read_them(files, call, kind):
    with pytest.raises(NotImplementedError) as raised:
        CALLS[call](encoded(files["png"])[kind])
    message = str(raised.value)
    assert "reads NumPy arrays and Pillow images only" in message
    assert "SCAN39_WITH_QT=ON" in message and "PIL.Image.open" in message
    assert message.startswith("cannot read a file:" if kind in ("str", "PathLike")
                              else "cannot read encoded bytes:")


@pytest.mark.skipif(READS_FILES, reason="this build has the picture loader")
def test_without_the_loader_split_and_scan_box_say_so(files, tmp_path):
    with pytest.raises(NotImplementedError, match="SCAN39_WITH_QT=ON"):
        scan39.split(files["png"], tmp_path / "out")
    assert not (tmp_path / "out").exists()
    with pytest.raises(RuntimeError, match="scan_box needs the scanning control"):
        scan39.scan_box(np.zeros((4, 4), np.uint8), 0, 0, 3, 3)


def test_a_file_opened_with_pillow_reads_in_either_build(files, reader_ready):
    with Image.open(files["png"]) as image:
        assert [s.text for s in scan39.read(image)] == [TEXT]
    if READS_FILES:
        assert [s.text for s in scan39.read(os.fspath(files["png"]))] == [TEXT]
