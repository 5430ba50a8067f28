"""scan39.split and the batch's --split: the same plan and records as scan39 split --json."""

import hashlib
import json
import os
import subprocess
import sys

import pytest
from PIL import Image

import code39
import scan39

# Separators at the start, back to back and at the end; a document named by its number.
TEXTS = ["PATCHT", "PAGE-A", "PATCHT", "PATCHT", "ASN00123", "PAGE-B", "PATCHT"]


def batch_file(path, texts=TEXTS):
    frames = [Image.fromarray(code39.render(t)[0]).convert("RGB") for t in texts]
    frames[0].save(path, save_all=True, append_images=frames[1:], resolution=150)
    return str(path)


@pytest.mark.parametrize("suffix", ["pdf", "tif"])
def test_split_plans_and_writes_as_the_command_line(tmp_path, reader_ready, suffix):
    source = batch_file(tmp_path / f"scan.{suffix}")
    before = hashlib.sha256(open(source, "rb").read()).digest()
    out = tmp_path / "out"
    planned = scan39.split(source, out, name_from=r"^ASN\d+$", dry_run=True)
    assert not out.exists()
    got = scan39.split(source, out, name_from=r"^ASN\d+$")
    assert got == planned
    assert [(r["pages"], r["separators"], r["name"]) for r in got] == [
        ([2], [1], None), ([5, 6], [3, 4, 7], "ASN00123")]
    assert [os.path.basename(r["output"]) for r in got] == [
        f"scan-001.{suffix}", f"ASN00123.{suffix}"]
    assert hashlib.sha256(open(source, "rb").read()).digest() == before
    # The command line, into the same folder: the same plan, names not reused.
    cli = os.environ.get("SCAN39_CLI")
    if cli:
        run = subprocess.run([cli, "split", "--json", source, "--out", str(out),
                              "--name-from", r"^ASN\d+$"], capture_output=True, text=True,
                             timeout=300)
        records = [json.loads(line) for line in run.stdout.splitlines()]
        assert [r["pages"] for r in records] == [r["pages"] for r in got]
        assert [os.path.basename(r["output"]) for r in records] == [
            f"scan-001-2.{suffix}", f"ASN00123-2.{suffix}"]
    # Each part is a file of its pages, read as any other.
    assert [s.text for s in scan39.read(got[1]["output"])] == ["ASN00123", "PAGE-B"]


@pytest.mark.parametrize("arguments, error", [
    ({"on_error": "maybe"}, ValueError),
    ({"name_from": "("}, ValueError),
    ({"dpi": 5}, ValueError),
])
def test_split_refuses_bad_options(tmp_path, arguments, error):
    with pytest.raises(error):
        scan39.split(batch_file(tmp_path / "s.tif", ["PATCHT"]), tmp_path / "out", **arguments)


def test_split_record_for_a_file_that_is_no_batch(tmp_path):
    picture = tmp_path / "a.png"
    Image.new("L", (20, 20), 255).save(picture)
    assert scan39.split(str(picture), tmp_path / "out") == [
        {"input": str(picture), "error": "neither a PDF nor a TIFF"}]


def test_batch_splits_a_folder(tmp_path, reader_ready):
    folder = tmp_path / "in"
    folder.mkdir()
    batch_file(folder / "one.pdf")
    batch_file(folder / "two.tif", ["PAGE-A", "PATCHT", "PAGE-B"])
    Image.new("L", (20, 20), 255).save(folder / "note.png")  # not a batch: passed over
    out = tmp_path / "out"
    run = subprocess.run([sys.executable, "-m", "scan39.batch", "--split", "--out", str(out),
                          str(folder), "--workers", "1"], capture_output=True, text=True,
                         timeout=300)
    assert run.returncode == 0, run.stderr
    records = [json.loads(line) for line in run.stdout.splitlines()]
    assert sorted(os.path.basename(r["output"]) for r in records) == [
        "one-001.pdf", "one-002.pdf", "two-001.tif", "two-002.tif"]
    assert sorted(os.listdir(out)) == sorted(os.path.basename(r["output"]) for r in records)
