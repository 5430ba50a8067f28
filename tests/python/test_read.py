import pathlib
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest
from PIL import Image

import code39
import scan39
from conftest import TEXT


def kinds(grey, path):
    rgb = np.stack([grey] * 3, axis=-1)
    rgba = np.dstack([rgb, np.full(grey.shape, 255, np.uint8)])
    wide = np.zeros((grey.shape[0], grey.shape[1] * 2), np.uint8)
    wide[:, ::2] = grey
    return {
        "str": str(path), "PathLike": pathlib.Path(path), "bytes": path.read_bytes(),
        "grey": grey, "grey strided": wide[:, ::2], "grey upside down": grey[::-1, ::-1],
        "rgb": rgb, "rgb fortran": np.asfortranarray(rgb), "rgba": rgba,
        "PIL L": Image.fromarray(grey), "PIL RGB": Image.fromarray(rgb),
        "PIL P": Image.fromarray(rgb).convert("P"), "PIL 1": Image.fromarray(grey).convert("1"),
    }


def test_every_image_kind_reads_the_symbol(symbol, files, reader_ready):
    for name, image in kinds(symbol[0], files["png"]).items():
        found = scan39.read(image)
        assert [s.text for s in found] == [TEXT], name
        s = found[0]
        assert len(s.position) == 4 and s.lines > 0 and 0 <= s.angle < 360, name
        assert TEXT in repr(s)


def test_every_format_reads_the_symbol(files, reader_ready):
    for fmt, path in files.items():
        assert [s.text for s in scan39.read(path, effort="fast")] == [TEXT], fmt


def test_transparent_pixels_count_as_white(symbol, reader_ready):
    grey, _ = symbol
    rgba = np.zeros(grey.shape + (4,), np.uint8)
    rgba[..., 3] = 255 - grey  # black ink, transparent paper
    assert [s.text for s in scan39.read(rgba)] == [TEXT]


def test_options_and_empty_pictures():
    assert scan39.read(np.zeros((0, 5), np.uint8)) == []
    assert scan39.read(np.full((40, 40), 255, np.uint8), check_digit=True, full_ascii=True) == []
    with pytest.raises(ValueError, match="effort"):
        scan39.read(np.zeros((4, 4), np.uint8), effort="slow")


@pytest.mark.parametrize("image, error, match", [
    ("/nonexistent/a.png", FileNotFoundError, "a.png"),
    (b"", scan39.PictureError, ""),
    (b"GIF89a\x10\x00", scan39.PictureError, ""),
    (b"plain text, not a picture", scan39.PictureError, ""),
    (np.zeros((4, 4), np.float32), TypeError, "uint8"),
    (np.zeros((4, 4), bool), TypeError, "uint8"),
    (np.zeros(16, np.uint8), ValueError, "shape"),
    (np.zeros((4, 4, 2), np.uint8), ValueError, "shape"),
    (np.zeros((2, 4, 4, 3), np.uint8), ValueError, "shape"),
    (12345, TypeError, "int"),
])
def test_error_kinds(image, error, match):
    for call in (lambda: scan39.read(image), lambda: scan39.scan_box(image, 0, 0, 10, 10)):
        with pytest.raises(error, match=match):
            call()


def test_damaged_file_names_the_file(tmp_path, files):
    cut = tmp_path / "cut.png"
    cut.write_bytes(files["png"].read_bytes()[:200])
    with pytest.raises(scan39.PictureError) as e:
        scan39.read(cut)
    assert e.value.filename.endswith("cut.png") and e.value.number == 481


def test_threads_read_in_parallel(reader_ready):
    pictures = [code39.render(t, narrow=2 + i % 3)[0] for i, t in
                enumerate(["A1", "B22", "C333", "D4444", "E-5", "F.6", "G 7", "H$8"])]
    expected = [[s.text for s in scan39.read(p)] for p in pictures]
    with ThreadPoolExecutor(8) as pool:
        for _ in range(3):
            got = list(pool.map(lambda p: [s.text for s in scan39.read(p)], pictures))
            assert got == expected


def test_options_reach_the_reader(reader_ready):
    alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%"
    text = "CODE39"
    checked = text + alphabet[sum(map(alphabet.index, text)) % 43]
    grey = code39.render(checked)[0]
    assert [s.text for s in scan39.read(grey, check_digit=True)] == [text]
    assert [s.text for s in scan39.read(code39.render("A" + checked)[0], check_digit=True)] == []
    assert [s.text for s in scan39.read(code39.render("+A$B")[0], full_ascii=True)] == ["a\x02"]


def test_grade_and_interpretation(symbol, reader_ready):
    plain = scan39.read(symbol[0])[0]
    assert plain.grade is None
    graded = scan39.read(symbol[0], grade=True)[0]
    assert graded.grade["overall"] in "ABCDF" and graded.grade["scans"] == 10
    assert set(graded.grade["parameters"]) >= {"decode", "symbol_contrast", "quiet_zones"}
    pzn = scan39.read(code39.render("-01234562")[0])[0]
    assert pzn.interpretation == {"kind": "pzn", "valid": True, "value": "01234562",
                                  "version": "8"}
