import json
import os
import subprocess
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest
from PIL import Image

import code39
import scan39
from conftest import TEXT

CLI = os.environ.get("SCAN39_CLI")


def cli_box(path, box):
    """What `scan39 --box` says about one picture: the text, None, or ("error", text)."""
    run = subprocess.run([CLI, "--json", "--box", ",".join(map(str, box)), str(path)],
                         capture_output=True, text=True, env=dict(os.environ, LC_ALL="C.UTF-8"))
    record = json.loads(run.stdout)
    if "error" in record:
        return ("error", record["error"])
    return record["value"] if record["result"] == 0 else None


def boxes(bounds):
    left, right, top, bottom = bounds
    across = code39.box_across(*bounds)
    x1, y1, x2, y2 = across
    return [across, (x2, y2, x1, y1),               # across, and dragged backwards
            (x1, bottom + 5, x2, bottom + 15),      # below the bars
            (x1 + 20, y1, x2, y2),                  # starting inside the symbol
            (x1, y1, (left + right) // 2, y2),      # stopping halfway
            (-50, y1, x2 + 500, y2 + 40)]           # corners outside the picture


@pytest.mark.skipif(not CLI, reason="SCAN39_CLI names the scan39 binary")
def test_scan_box_matches_the_command_line(tmp_path):
    cases = []
    for i, (text, narrow, fmt) in enumerate([(TEXT, 3, "png"), ("AB12", 2, "bmp"),
                                             ("HELLO 39", 3, "jpg"), ("X$Y", 4, "gif")]):
        grey, bounds = code39.render(text, narrow=narrow)
        path = tmp_path / f"p{i}.{fmt}"
        Image.fromarray(grey).convert("RGB").save(path, quality=95)
        cases += [(path, box) for box in boxes(bounds)]
    damaged = tmp_path / "damaged.bmp"
    damaged.write_bytes((tmp_path / "p1.bmp").read_bytes()[:100])
    decoded = 0
    for path, box in cases + [(damaged, (0, 0, 10, 10))]:
        expected = cli_box(path, box)
        if isinstance(expected, tuple):
            with pytest.raises(scan39.PictureError) as e:
                scan39.scan_box(path, *box)
            assert e.value.number == 481 and e.value.filename == str(path)
            continue
        assert scan39.scan_box(path, *box) == expected, (path.name, box)
        assert scan39.scan_box(path.read_bytes(), *box) == expected, (path.name, box)
        decoded += expected is not None
    assert decoded >= 4  # each picture read at least once across its symbol


def test_scan_box_on_arrays(symbol):
    grey, bounds = symbol
    box = code39.box_across(*bounds)
    rgba = np.dstack([np.stack([grey] * 3, -1), np.full(grey.shape, 255, np.uint8)])
    wide = [Image.fromarray(grey.astype(np.int32), "I"),  # 0-255 taken as they are
            Image.fromarray(grey.astype(np.float32) / 255, "F")]
    for image in (grey, np.stack([grey] * 3, -1), rgba, Image.fromarray(grey), *wide):
        assert scan39.scan_box(image, *box) == TEXT
    assert scan39.scan_box(grey, *box[2:], *box[:2]) is None
    with pytest.raises(ValueError, match="1000000"):
        scan39.scan_box(grey, 0, 0, 1000001, 10)


def test_scan_box_from_threads(symbol):
    grey, bounds = symbol
    box = code39.box_across(*bounds)
    miss = (box[0], bounds[3] + 5, box[2], bounds[3] + 15)
    jobs = [box if i % 2 else miss for i in range(40)]
    with ThreadPoolExecutor(6) as pool:
        got = list(pool.map(lambda b: scan39.scan_box(grey, *b), jobs))
    assert got == [TEXT if i % 2 else None for i in range(40)]
