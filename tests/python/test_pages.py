"""Files of pages: a PDF and a multi-page TIFF, in `read`, `read_pages` and the batch."""

import json
import subprocess
import sys

import pytest
from PIL import Image

import code39
import scan39


def pages(path, texts, **options):
    frames = [Image.fromarray(code39.render(t)[0]).convert("RGB") for t in texts]
    frames[0].save(path, save_all=True, append_images=frames[1:], **options)
    return str(path)


@pytest.mark.parametrize("suffix, options", [("pdf", {"resolution": 150}), ("tif", {})])
def test_every_page_read_and_numbered(tmp_path, reader_ready, suffix, options):
    both = pages(tmp_path / f"two.{suffix}", ["PAGE-1", "PAGE-2"], **options)
    assert [(s.text, s.page) for s in scan39.read(both)] == [("PAGE-1", 1), ("PAGE-2", 2)]
    with open(both, "rb") as f:
        assert [s.page for s in scan39.read(f.read())] == [1, 2]
    one = pages(tmp_path / f"one.{suffix}", ["ALONE"], **options)
    assert [(s.text, s.page) for s in scan39.read(one)] == [("ALONE", None)]


def test_a_bad_page_costs_only_itself(tmp_path, reader_ready):
    whole = open(pages(tmp_path / "two.tif", ["PAGE-1", "PAGE-2"]), "rb").read()
    cut = tmp_path / "cut.tif"
    cut.write_bytes(whole[:len(whole) * 3 // 4])
    first, second = scan39.read_pages(str(cut))
    assert [s.text for s in first.symbols] == ["PAGE-1"] and first.error is None
    assert second.page == 2 and second.error.number == 481 and not second.symbols
    with pytest.raises(scan39.PictureError) as raised:
        scan39.read(str(cut))
    assert raised.value.page == 2
    with pytest.raises(ValueError):
        scan39.read(str(cut), dpi=20)

    out = subprocess.run([sys.executable, "-m", "scan39.batch", str(cut), "--workers", "1"],
                         capture_output=True, text=True, timeout=300).stdout
    got = [json.loads(line) for line in out.splitlines()]
    assert [(r["page"], r["pages"], "error" in r) for r in got] == [(1, 2, False), (2, 2, True)]
