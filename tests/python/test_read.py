import os
import pathlib
import subprocess
import sys
import textwrap
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
        # 16-bit grey, as Pillow opens a 16-bit PNG, and floats on the same scale
        "PIL I": Image.fromarray(grey.astype(np.int32) * 257, "I"),
        "PIL F": Image.fromarray(grey.astype(np.float32) * 257, "F"),
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


# Grey pages are read in place: the loaded picture must outlive the read. Pictures this large
# have memory of their own that is unmapped when freed, so a read after it fails at once.
@pytest.mark.parametrize("fmt", ["png", "bmp", "tif"])
def test_large_grey_files_read_in_place(symbol, tmp_path, fmt, reader_ready):
    page = np.full((1500, 2000), 255, np.uint8)
    page[700:700 + symbol[0].shape[0], 300:300 + symbol[0].shape[1]] = symbol[0]
    path = tmp_path / f"large.{fmt}"
    Image.fromarray(page).save(path)
    for image in (str(path), path.read_bytes()):
        assert [s.text for s in scan39.read(image)] == [TEXT]
        (line,) = scan39._scan39.read_records(image, b"large", False, False, "fast", "both",
                                              False, 300)
        assert TEXT in line
        assert scan39._scan39._reader_seconds(image, "fast") > 0


@pytest.mark.arrays
def test_transparent_pixels_count_as_white(symbol, reader_ready):
    grey, _ = symbol
    rgba = np.zeros(grey.shape + (4,), np.uint8)
    rgba[..., 3] = 255 - grey  # black ink, transparent paper
    assert [s.text for s in scan39.read(rgba)] == [TEXT]


@pytest.mark.arrays
@pytest.mark.parametrize("polarity, dark, light", [
    ("both", [TEXT], [TEXT]), ("dark", [TEXT], []), ("light", [], [TEXT])])
def test_each_polarity_reads_its_own_bars(symbol, polarity, dark, light, reader_ready):
    grey = symbol[0]
    assert [s.text for s in scan39.read(grey, polarity=polarity)] == dark
    assert [s.text for s in scan39.read(255 - grey, polarity=polarity)] == light


def test_pages_of_a_picture_carry_grades_and_no_page_number(files, reader_ready):
    (page,) = scan39.read_pages(files["png"], grade=True)
    assert page.page is None and page.error is None
    assert [(s.text, s.page, s.grade["scans"]) for s in page.symbols] == [(TEXT, None, 10)]


@pytest.mark.arrays
def test_options_and_empty_pictures():
    assert scan39.read(np.zeros((0, 5), np.uint8)) == []
    assert scan39.read(np.full((40, 40), 255, np.uint8), check_digit=True, full_ascii=True) == []
    with pytest.raises(ValueError, match="effort"):
        scan39.read(np.zeros((4, 4), np.uint8), effort="slow")
    with pytest.raises(ValueError, match="polarity"):
        scan39.read(np.zeros((4, 4), np.uint8), polarity="grey")
    with pytest.raises(ValueError, match="dpi"):
        scan39.read(np.zeros((4, 4), np.uint8), dpi=20)


# The names every face takes (scan39 --effort/--polarity, the page's choices); a refusal names
# every accepted one.
@pytest.mark.arrays
@pytest.mark.parametrize("option, value, error", [
    ("effort", "fast", None), ("effort", "thorough", None),
    ("polarity", "dark", None), ("polarity", "light", None), ("polarity", "both", None),
    ("effort", "Fast", 'effort must be "fast" or "thorough", not "Fast"'),
    ("effort", "", 'effort must be "fast" or "thorough", not ""'),
    ("polarity", "BOTH", 'polarity must be "dark", "light" or "both", not "BOTH"'),
    ("polarity", "reversed", 'polarity must be "dark", "light" or "both", not "reversed"'),
])
def test_option_names(option, value, error):
    blank = np.full((40, 40), 255, np.uint8)
    if error is None:
        assert scan39.read(blank, **{option: value}) == []
    else:
        with pytest.raises(ValueError) as raised:
            scan39.read(blank, **{option: value})
        assert str(raised.value) == error


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
    # beyond the loader's 64 Mi pixels: refused before any pixel is looked at
    (np.broadcast_to(np.uint8(255), (50000, 50000)), scan39.PictureError, "67108864"),
    (np.broadcast_to(np.uint8(255), (1, 70_000_000, 3)), scan39.PictureError, "67108864"),
    (Image.new("1", (9000, 9000)), scan39.PictureError, "67108864"),
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


def test_threads_read_in_parallel(reader_ready, files):
    # Arrays, and files of every format: file decoding shares the image readers' process-wide
    # allocation limit, which the loader guards while the rest runs side by side.
    pictures = [code39.render(t, narrow=2 + i % 3)[0] for i, t in
                enumerate(["A1", "B22", "C333", "D4444", "E-5", "F.6", "G 7", "H$8"])]
    pictures += [str(f) for f in files.values()] * 2
    expected = [[s.text for s in scan39.read(p)] for p in pictures]
    with ThreadPoolExecutor(8) as pool:
        for _ in range(3):
            got = list(pool.map(lambda p: [s.text for s in scan39.read(p)], pictures))
            assert got == expected


@pytest.mark.arrays
def test_options_reach_the_reader(reader_ready):
    alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%"
    text = "CODE39"
    checked = text + alphabet[sum(map(alphabet.index, text)) % 43]
    grey = code39.render(checked)[0]
    assert [s.text for s in scan39.read(grey, check_digit=True)] == [text]
    assert [s.text for s in scan39.read(code39.render("A" + checked)[0], check_digit=True)] == []
    assert [s.text for s in scan39.read(code39.render("+A$B")[0], full_ascii=True)] == ["a\x02"]


# The AIM identifier: check character stripped (3), full ASCII pairs read (4), both (7).
@pytest.mark.arrays
@pytest.mark.parametrize("text, options, read, aim", [
    ("CODE39", {}, "CODE39", "]A0"),
    ("CODE39", {"full_ascii": True}, "CODE39", "]A0"),  # no pairs: plain
    ("CODE39W", {"check_digit": True}, "CODE39", "]A3"),
    ("+A$B", {"full_ascii": True}, "a\x02", "]A4"),
    ("+A$BF", {"full_ascii": True, "check_digit": True}, "a\x02", "]A7"),
])
def test_aim_identifier(text, options, read, aim, reader_ready):
    (found,) = scan39.read(code39.render(text)[0], **options)
    assert (found.text, found.aim) == (read, aim)


@pytest.mark.arrays
@pytest.mark.parametrize("angle, shown", [(-0.0, "0.0"), (359.97, "0.0"), (12.34, "12.3")])
def test_angles_never_show_minus_zero(angle, shown):
    symbol = scan39._symbol(("A", ((0.0, -0.0),) * 4, angle, 2, None, None, "]A0"), None)
    assert f"angle={shown}," in repr(symbol) and "-0.0" not in repr(symbol)
    assert str(symbol.angle) != "-0.0"


@pytest.mark.arrays
def test_grade_and_interpretation(symbol, reader_ready):
    plain = scan39.read(symbol[0])[0]
    assert plain.grade is None
    graded = scan39.read(symbol[0], grade=True)[0]
    assert graded.grade["overall"] in "ABCDF" and graded.grade["scans"] == 10
    assert set(graded.grade["parameters"]) >= {"decode", "symbol_contrast", "quiet_zones"}
    # The interpolated grade beside the whole bands, and each profile's own grades.
    assert graded.grade["fractional"]["overall"] in "ABCDF"
    assert 0 <= graded.grade["fractional"]["value"] <= 4
    assert len(graded.grade["profiles"]) == 10
    assert graded.grade["x_dimension_px"] is None or graded.grade["x_dimension_px"] > 0
    pzn = scan39.read(code39.render("-01234562")[0])[0]
    assert pzn.interpretation == {"kind": "pzn", "valid": True, "value": "01234562",
                                  "version": "8"}



# A Symbol's grade and interpretation are the very members of its --json record, value for
# value and type for type (whole numbers as int), though they no longer pass through JSON text.
@pytest.mark.parametrize("text", [TEXT, "-01234562", "+A99912345/$$52001510X3/16D20111231/S77DEFG45"])
def test_symbol_dicts_are_the_records_members(text, tmp_path, reader_ready):
    import json

    path = tmp_path / "s.png"
    Image.fromarray(code39.render(text)[0]).save(path)
    (found,) = scan39.read(str(path), grade=True)
    (line,) = scan39._scan39.read_records(str(path), os.fsencode(path), False, False,
                                          "thorough", "both", True, 300)
    (member,) = json.loads(line)["symbols"]
    assert found.grade == member["grade"]
    assert [type(v) for v in found.grade.values()] == [type(v) for v in member["grade"].values()]
    assert found.interpretation == member.get("interpretation")

WIDE = {"L": np.uint8, "I": np.int32, "I;16": np.uint16, "F": np.float32}


def blank_to(value, where):
    """Puts `value` where the picture is `where` (paper or ink), in every seventh such pixel."""
    def put(g):
        out = g.copy()
        spots = np.flatnonzero(g == where)[::7]
        out.flat[spots] = value
        return out
    return put


# Each picture holds the 8-bit symbol on a scale of its mode, and must read and grade as the
# 8-bit picture itself: the same contrast, not a picture shifted to black.
@pytest.mark.arrays
@pytest.mark.parametrize("mode, values", [
    ("L", lambda g: g),
    ("I", lambda g: g),
    ("I", lambda g: g * 257),
    ("I;16", lambda g: g),
    ("I;16", lambda g: g * 257),
    ("F", lambda g: g),
    ("F", lambda g: g * 257),
    ("F", lambda g: g / 255),
    ("I", lambda g: g * 1000 - 70000),  # no fixed scale: stretched from lowest to highest
    ("F", lambda g: g / 255 - 0.5),
    ("F", lambda g: blank_to(np.nan, 255)(g / 255)),
    ("F", lambda g: blank_to(-np.inf, 0)(blank_to(np.inf, 255)(g * 257))),
], ids=["L", "I 0-255", "I 0-65535", "I;16 0-255", "I;16 0-65535", "F 0-255", "F 0-65535",
        "F 0-1", "I -70000-185000", "F -0.5-0.5", "F 0-1 NaN paper", "F 0-65535 infinities"])
def test_wide_grey_modes_read_as_the_8_bit_picture(symbol, mode, values, reader_ready):
    x = np.arange(symbol[0].shape[1])
    grey = np.where(symbol[0] == 0, x % 61, 255 - x % 76).astype(np.uint8)  # shades, 0 to 255
    image = Image.fromarray(values(grey.astype(np.float64)).astype(WIDE[mode]), mode)
    assert image.mode == mode
    np.testing.assert_array_equal(scan39._pil_pixels(image), grey)  # exactly, not just readable
    expected = [(s.text, s.grade) for s in scan39.read(grey, grade=True)]
    assert [text for text, _ in expected] == [TEXT]
    assert [(s.text, s.grade) for s in scan39.read(image, grade=True)] == expected


@pytest.mark.parametrize("image", [
    Image.fromarray(np.full((40, 60), np.nan, np.float32), "F"),
    Image.fromarray(np.full((40, 60), np.inf, np.float32), "F"),
    Image.fromarray(np.full((40, 60), -5e30, np.float32), "F"),
    Image.fromarray(np.full((40, 60), 10**9, np.int32), "I"),
    Image.new("F", (60, 0)),
], ids=["NaN", "inf", "one value", "one int", "empty"])
def test_wide_grey_without_a_picture_reads_nothing(image):
    assert scan39.read(image) == []
    if image.height:  # the control refuses an empty picture outright
        assert scan39.scan_box(image, 0, 0, 30, 5) is None


@pytest.mark.arrays
def test_sixteen_bit_png_reads(symbol, tmp_path, reader_ready):
    path = tmp_path / "grey16.png"
    Image.fromarray(symbol[0].astype(np.uint16) * 257).save(path)
    with Image.open(path) as image:
        assert [s.text for s in scan39.read(image)] == [TEXT], image.mode


# Each script runs in an interpreter of its own and must end with status 0 within the time
# limit: exiting while daemon threads read or scan, and forking while another thread decodes.
PRELUDE = """
import os, sys, threading, time, multiprocessing
import numpy as np
import scan39, code39
grey, bounds = code39.render("SCAN-39")
box = code39.box_across(*bounds)
def forever(work):
    def loop():
        while True:
            work()
    for _ in range(3):
        threading.Thread(target=loop, daemon=True).start()
    time.sleep(0.5)
def child(work):
    pid = os.fork()
    if pid == 0:
        os._exit(0 if work() else 3)
    assert os.waitpid(pid, 0)[1] == 0
"""
CHILD_SCRIPTS = {
    "exit while reading": "forever(lambda: scan39.read(np.tile(grey, (4, 4))))",
    "exit while decoding files": "forever(lambda: scan39.read(BIG))",
    "exit while box scanning": "forever(lambda: scan39.scan_box(grey, *box))",
    "fork while decoding": """
        threading.Thread(target=lambda: [scan39.read(BIG) for _ in iter(int, 1)],
                         daemon=True).start()
        for _ in range(5):
            time.sleep(0.05)
            child(lambda: scan39.read(BIG) == [] and scan39.read(grey)[0].text == "SCAN-39")
    """,
    "fork after a box scan": """
        assert scan39.scan_box(grey, *box) == "SCAN-39"
        child(lambda: scan39.scan_box(grey, *box) == "SCAN-39")
        assert scan39.scan_box(grey, *box) == "SCAN-39"
    """,
    "multiprocessing with fork": """
        scan39.scan_box(grey, *box)
        def work(i):
            return scan39.scan_box(grey, *box), [s.text for s in scan39.read(grey)]
        with multiprocessing.get_context("fork").Pool(2) as pool:
            assert pool.map(work, range(4)) == [("SCAN-39", ["SCAN-39"])] * 4
    """,
}


@pytest.mark.parametrize("name", [
    pytest.param(name, marks=pytest.mark.arrays) if name == "exit while reading" else name
    for name in CHILD_SCRIPTS])
def test_exit_and_fork_in_a_child_interpreter(name, tmp_path):
    # GCC 12's AddressSanitizer keeps its allocator's lock across fork: a child forked while
    # another thread allocates hangs inside the sanitizer, whatever the program does.
    if "fork" in name and "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the sanitizer's allocator is not fork-safe")
    big = tmp_path / "big.png"
    Image.fromarray(np.full((2000, 3000), 255, np.uint8)).save(big)
    script = (PRELUDE + f"BIG = {str(big)!r}\n" + textwrap.dedent(CHILD_SCRIPTS[name]))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [os.path.dirname(__file__), os.environ.get("PYTHONPATH", "")]))
    for _ in range(3):
        run = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                             text=True, timeout=120)
        assert run.returncode == 0, (name, run.returncode, run.stderr[-2000:])


def _faulty(fault):
    """The symbol with a fault no line reads past: the first wide bar of the second data
    character ("C") cut through top to bottom, a dark spot in its wide space, or dark from 2 X
    left of the bars (and above and below)."""
    picture, (left, right, top, bottom) = code39.render(TEXT)
    # Characters are 16 modules of 3 px apart; "C" is a wide bar (9 px), a narrow space, a wide
    # bar, a narrow space, a narrow bar, then a wide space.
    c = left + 2 * 16 * 3
    if fault == "cut":
        picture[top:bottom + 1, c + 4:c + 6] = 255
    elif fault == "spot":
        picture[top:bottom + 1, c + 27 + 4:c + 27 + 6] = 0
    elif fault == "quiet":
        picture[:top - 6] = picture[bottom + 7:] = 0
        picture[:, :left - 6] = 0  # the right one stays
    return picture


# With grade=True a symbol located but not read comes apart from the symbols, without a text,
# graded F with the parameter that failed; its grade dict is its --json record's member. A plain
# read finds nothing, as ever; no symbol, no unread one.
@pytest.mark.parametrize("fault, failing", [
    ("cut", "decode"), ("spot", "decode"), ("quiet", "quiet_zones"), ("none", None)])
def test_unread_symbols_graded_apart(fault, failing, tmp_path, reader_ready):
    import json

    picture = _faulty(fault)
    if fault == "none":
        picture[:] = 255
        picture[:, 40:400:8] = 0  # stripes
    assert scan39.read(picture) == []
    assert scan39.read_pages(picture)[0].unread == []
    (page,) = scan39.read_pages(picture, grade=True)
    assert page.symbols == []
    assert [u.failing for u in page.unread] == ([failing] if failing else [])
    path = tmp_path / "faulty.png"
    Image.fromarray(picture).save(path)
    (line,) = scan39._scan39.read_records(str(path), os.fsencode(path), False, False,
                                          "thorough", "both", True, 300)
    record = json.loads(line)
    assert record["symbols"] == []
    if not failing:
        assert "unread" not in record
        return
    (u,) = page.unread
    (member,) = record["unread"]
    assert u.text is None and member["text"] is None and member["unread"] is True
    assert u.grade["overall"] == "F" and u.grade == member["grade"]
    assert u.grade["parameters"][failing]["grade"] == "F"
    assert u.characters == member["characters"] == len(TEXT)
    assert u.lines == member["lines"] >= 8
