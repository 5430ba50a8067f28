"""Files of pages: a PDF and a multi-page TIFF, in `read`, `read_pages` and the batch."""

import json
import os
import signal
import subprocess
import sys
import time

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


@pytest.mark.parametrize("mode", ["F", "I"])
def test_32_bit_samples_are_unsupported_not_damaged(tmp_path, mode):
    path = tmp_path / f"{mode}.tif"
    Image.new(mode, (16, 8)).save(path)
    with pytest.raises(scan39.PictureError) as raised:
        scan39.read_pages(str(path))
    assert raised.value.number == 481
    assert "unsupported picture format (TIFF, 32-bit" in str(raised.value)


# A thread keeps the PDF library busy loading a file whose cross-reference table must be
# rebuilt while a fork pool reads another PDF: each child must find the library free.
FORK_WHILE_LOADING = r"""
import multiprocessing, sys, threading
import scan39
slow = b"%PDF-1.4\n" + b"".join(b"%d 0 obj << /K %d >> endobj\n" % (i, i) for i in range(1, 60000))
slow += (b"1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
         b"2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
         b"3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 20 20] >> endobj\n"
         b"trailer << /Root 1 0 R >>\n")
good = open(sys.argv[1], "rb").read()
def busy():
    while True:
        scan39.read_pages(slow)
threading.Thread(target=busy, daemon=True).start()
def pages(_):
    return [p.page for p in scan39.read_pages(good)]
with multiprocessing.get_context("fork").Pool(2) as pool:
    for _ in range(4):
        assert pool.map(pages, range(4)) == [[1, 2]] * 4
print("ok")
"""


# GCC 12's AddressSanitizer keeps its own allocator lock across fork(): a child forked while
# another thread allocates can hang inside the sanitizer itself, whatever the PDF lock does.
@pytest.mark.skipif(os.environ.get("SCAN39_SANITIZED") == "1",
                    reason="the sanitizer's allocator lock is not fork-safe")
def test_fork_while_a_pdf_loads(tmp_path):
    good = pages(tmp_path / "two.pdf", ["PAGE-1", "PAGE-2"], resolution=150)
    script = tmp_path / "fork.py"
    script.write_text(FORK_WHILE_LOADING)
    p = subprocess.Popen([sys.executable, str(script), good], stdout=subprocess.PIPE, text=True,
                         start_new_session=True)
    try:
        out, _ = p.communicate(timeout=120)
    finally:
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        p.wait()
    assert out.strip() == "ok"


def nested_forms_pdf(pages, levels):
    """Pages of forms that each draw the next level ten times: hours of drawing in 1 KB."""
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [%s] /Count %d >>"
               % (b" ".join(b"%d 0 R" % (4 + levels + i) for i in range(pages)), pages),
               b"<< /Length 6 >>\nstream\n/F0 Do\nendstream"]
    for level in range(levels):
        last = level == levels - 1
        draw = (b"0 0 1 1 re f " if last else b"/F%d Do " % (level + 1)) * 10
        more = b"" if last else b"/Resources << /XObject << /F%d %d 0 R >> >>" % (level + 1,
                                                                                  5 + level)
        objects.append(b"<< /Type /XObject /Subtype /Form /BBox [0 0 300 200] %s /Length %d >>"
                       b"\nstream\n%s\nendstream" % (more, len(draw), draw))
    objects += [b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 3 0 R "
                b"/Resources << /XObject << /F0 4 0 R >> >> >>"] * pages
    pdf, at = b"%PDF-1.5\n", []
    for i, o in enumerate(objects):
        at.append(len(pdf))
        pdf += b"%d 0 obj\n%s\nendobj\n" % (i + 1, o)
    xref = len(pdf)
    pdf += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    pdf += b"".join(b"%010d 00000 n \n" % a for a in at)
    return pdf + b"trailer << /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, xref)


def test_a_file_holds_the_reader_no_longer_than_its_time_limit():
    started = time.monotonic()
    got = scan39.read_pages(nested_forms_pdf(3, 9), file_time_limit=2)
    assert time.monotonic() - started < 15
    assert [(p.page, p.error.number) for p in got] == [(1, 481), (2, 481), (3, 481)]
    assert all("time limit of 2 s ran out" in str(p.error) for p in got)
    with pytest.raises(ValueError):
        scan39.read_pages(nested_forms_pdf(1, 1), file_time_limit=0)


def children(pid):
    """The processes any thread of `pid` started."""
    found = []
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/children") as f:
            found += [int(c) for c in f.read().split()]
    return found


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


@pytest.mark.parametrize("how", [signal.SIGKILL, signal.SIGTERM])
def test_the_drawing_child_dies_with_its_parent(tmp_path, how):
    path = tmp_path / "nested.pdf"
    path.write_bytes(nested_forms_pdf(1, 9))
    reading = subprocess.Popen([sys.executable, "-c",
                                "import scan39, sys; scan39.read_pages(sys.argv[1])", str(path)])
    drawing = []
    try:
        deadline = time.monotonic() + 60
        while not drawing and time.monotonic() < deadline and reading.poll() is None:
            time.sleep(0.05)
            drawing = children(reading.pid)
        assert drawing, "no page was being drawn"
    finally:
        reading.send_signal(how)
        reading.wait()
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and any(alive(pid) for pid in drawing):
        time.sleep(0.05)
    survivors = [pid for pid in drawing if alive(pid)]
    for pid in survivors:
        os.kill(pid, signal.SIGKILL)
    assert not survivors, "the drawing child outlived its parent"


def test_a_daemon_thread_reading_a_slow_pdf_lets_the_interpreter_exit(tmp_path):
    path = tmp_path / "nested.pdf"
    path.write_bytes(nested_forms_pdf(3, 9))
    started = time.monotonic()
    subprocess.run([sys.executable, "-c",
                    "import scan39, sys, threading, time\n"
                    "threading.Thread(target=scan39.read_pages, args=(sys.argv[1],),"
                    " daemon=True).start()\n"
                    "time.sleep(1)", str(path)], check=True, timeout=60)
    assert time.monotonic() - started < 10
