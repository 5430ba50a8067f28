import base64
import fcntl
import json
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from PIL import Image

import code39
import scan39

CLI = os.environ.get("SCAN39_CLI")
TEXTS = ["B1", "B22", "B333", "B4444", "B-5", "B.6", "B 7", "B+8"]


def make_folder(folder, count):
    folder.mkdir()
    for i in range(count):
        grey, _ = code39.render(TEXTS[i % len(TEXTS)], narrow=2 + i % 2)
        Image.fromarray(grey).save(folder / f"{i:03}.{'png' if i % 2 else 'jpg'}", quality=95)
    return sorted(str(p) for p in folder.iterdir())


def batch(*args, **kwargs):
    return subprocess.Popen([sys.executable, "-m", "scan39.batch", *map(str, args)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)


def records(text):
    return [json.loads(line) for line in text.splitlines()]


def test_two_workers_record_every_picture_once(tmp_path):
    good = make_folder(tmp_path / "in", 10)
    damaged = tmp_path / "in" / "damaged.png"
    damaged.write_bytes(open(good[1], "rb").read()[:150])
    (tmp_path / "in" / "notes.txt").write_text("not a picture, not looked at")
    missing = tmp_path / "missing.png"
    run = batch(tmp_path / "in", good[0], missing, "--workers", 2)  # good[0] named twice
    out, err = run.communicate(timeout=300)
    got = {r["file"]: r for r in records(out)}
    assert len(got) == len(records(out)) == 12
    assert set(got) == set(good) | {str(damaged), str(missing)}
    assert "error" in got[str(damaged)] and "error" in got[str(missing)]
    reads_text = bool(scan39.read(good[0]))
    for i, path in enumerate(good):
        assert "error" not in got[path]
        if reads_text:
            assert [s["text"] for s in got[path]["symbols"]] == [TEXTS[i % len(TEXTS)]]
    assert run.returncode == 2 and "12/12 pictures" in err


def test_resume_after_interruption(tmp_path):
    pictures = make_folder(tmp_path / "in", 60)
    output = tmp_path / "out.jsonl"
    first = batch(tmp_path / "in", "--workers", 1, "--output", output)
    deadline = time.monotonic() + 240
    while first.poll() is None and time.monotonic() < deadline:
        if output.exists() and output.stat().st_size > 0:
            first.send_signal(signal.SIGINT)
            break
        time.sleep(0.05)
    first.communicate(timeout=240)
    before = records(output.read_text())
    # A run killed mid-write leaves a torn last line behind.
    with open(output, "a") as f:
        f.write('{"file":"' + pictures[-1] + '","symb')
    second = batch(tmp_path / "in", "--workers", 1, "--output", output)
    second.communicate(timeout=300)
    after = records(output.read_text())
    assert after[:len(before)] == before  # nothing redone
    assert sorted(r["file"] for r in after) == pictures  # nothing lost, nothing twice


def test_running_scheduler(tmp_path):
    from distributed import LocalCluster

    pictures = make_folder(tmp_path / "in", 4)
    cluster = LocalCluster(n_workers=1, processes=False, protocol="tcp", dashboard_address=None)
    with cluster:
        out, _ = batch(tmp_path / "in", "--scheduler", cluster.scheduler_address).communicate(
            timeout=300)
    assert sorted(r["file"] for r in records(out)) == pictures


def test_output_file_is_ours_alone(tmp_path):
    (tmp_path / "in").mkdir()
    name = os.fsencode(tmp_path / "in") + b"/bad\xff.png"  # not UTF-8
    grey, _ = code39.render("B1", narrow=2)
    Image.fromarray(grey).save(name.decode("utf-8", "surrogateescape"), format="PNG")
    victim = tmp_path / "victim.jpg"
    picture = b"\xff\xd8\xff\xe0 a picture\n" + bytes(range(256))
    victim.write_bytes(picture)
    output = tmp_path / "out.jsonl"
    held = open(output, "wb")
    fcntl.flock(held, fcntl.LOCK_EX)
    for target, says in [("/dev/full", "not a regular file"), (victim, "does not hold"),
                         (output, "in use by another")]:
        run = batch(tmp_path / "in", "--workers", 1, "--output", target)
        _, err = run.communicate(timeout=60)
        assert run.returncode == 2 and says in err, err
    held.close()
    assert victim.read_bytes() == picture and output.read_bytes() == b""
    for _ in range(2):  # the second run finds the picture done
        batch(tmp_path / "in", "--workers", 1, "--output", output).communicate(timeout=300)
    lines = output.read_bytes().decode("utf-8").splitlines()  # valid UTF-8
    assert len(lines) == 1
    assert base64.b64decode(json.loads(lines[0])["file_bytes"]) == name



@pytest.mark.skipif(not CLI, reason="SCAN39_CLI names the scan39 binary")
def test_cli_batch_and_read_give_one_record_in_reading_order(tmp_path):
    # Two labels on one row, the right one a little higher, and one below them.
    sheet = np.full((330, 1000), 255, np.uint8)
    for text, left, top in [("ROW1-RIGHT", 500, 20), ("ROW1-LEFT", 40, 34), ("ROW2", 40, 180)]:
        grey, _ = code39.render(text, narrow=2, left=left, top=top, size=sheet.shape)
        sheet = np.minimum(sheet, grey)
    path = tmp_path / "sheet.png"
    Image.fromarray(sheet).save(path)
    cli = subprocess.run([CLI, "--json", str(path)], capture_output=True, text=True, timeout=120)
    run = batch(path, "--workers", 1)
    out, _ = run.communicate(timeout=300)
    assert cli.returncode == run.returncode == 0
    assert out == cli.stdout  # byte for byte: one writer
    record = json.loads(out)
    found = scan39.read(str(path))
    assert [s["text"] for s in record["symbols"]] == [s.text for s in found] == [
        "ROW1-LEFT", "ROW1-RIGHT", "ROW2"]
    for written, symbol in zip(record["symbols"], found):
        assert sum(written["position"], []) == pytest.approx(sum(map(list, symbol.position), []),
                                                             abs=0.006)


@pytest.mark.skipif(not CLI, reason="SCAN39_CLI names the scan39 binary")
@pytest.mark.parametrize("language", ["C.UTF-8", "zh_CN.UTF-8"])
def test_cli_and_batch_word_errors_alike(tmp_path, monkeypatch, language):
    cut = tmp_path / "cut.gif"
    cut.write_bytes(b"GIF89a\x10\x00")
    missing = tmp_path / "missing.png"
    env = dict(os.environ, LC_ALL=language)
    cli = subprocess.run([CLI, "--json", cut, missing], capture_output=True, text=True,
                         timeout=120, env=env)
    out, _ = batch(cut, missing, "--workers", 1, env=env).communicate(timeout=300)
    assert sorted(out.splitlines()) == sorted(cli.stdout.splitlines())
    monkeypatch.setenv("LC_ALL", language)
    with pytest.raises(scan39.PictureError) as e:
        scan39.read(cut)
    assert json.loads(cli.stdout.splitlines()[0])["error"] == str(e.value)


# Names as given, never made absolute, and the reader's options as the command line takes
# them: the records are scan39 --json's, line for line. Dask's own log lines stay out.
@pytest.mark.skipif(not CLI, reason="SCAN39_CLI names the scan39 binary")
@pytest.mark.parametrize("options", [[], ["--polarity", "light", "--processes"],
                                     ["--grade", "--polarity", "dark"]])
def test_batch_names_and_options_as_the_cli(tmp_path, options):
    make_folder(tmp_path / "in", 3)
    reader_options = [o for o in options if o != "--processes"]
    cli = subprocess.run([CLI, "--json", *reader_options, "in", "gone.png"],
                         capture_output=True, text=True, timeout=120, cwd=tmp_path)
    run = batch("in", "gone.png", "--workers", 1, *options, cwd=tmp_path)
    out, err = run.communicate(timeout=300)
    assert run.returncode == cli.returncode
    assert sorted(out.splitlines()) == sorted(cli.stdout.splitlines())
    assert {r["file"] for r in records(out)} == {"in/000.jpg", "in/001.png", "in/002.jpg",
                                                 "gone.png"}
    assert all(line.startswith("scan39.batch") for line in err.splitlines()), err


# A reader that brings its process down on a picture whose name holds "crash", put in by
# sitecustomize in every process of the run without touching scan39.batch itself.
CRASH_HOOK = """
import os, sys, types
import scan39
real = scan39._scan39
class Crashing(types.ModuleType):
    def __getattr__(self, name):
        return getattr(real, name)
    @staticmethod
    def read_records(path, *rest):
        if "crash" in os.path.basename(path):
            {how}
        return real.read_records(path, *rest)
scan39._scan39 = Crashing("_scan39")
"""


# A picture that brings its worker process down gets its record, and the run goes on; the
# pictures queued on the same worker when it died are read, not blamed; stderr holds the
# batch's own lines only: none of Dask's about the lost and restarted worker, no traceback
# from its closing after one died.
@pytest.mark.parametrize("how,workers,count", [("os._exit(70)", 1, 2), ("os.abort()", 1, 7),
                                               ("os.abort()", 2, 2)])
def test_a_crash_costs_one_record_and_says_nothing_of_dask(tmp_path, how, workers, count):
    good = make_folder(tmp_path / "in", count)
    crash = tmp_path / "in" / "000-crash.png"  # first, so pictures queue behind it
    crash.write_bytes(open(good[1], "rb").read())
    hook = tmp_path / "hook"
    hook.mkdir()
    (hook / "sitecustomize.py").write_text(CRASH_HOOK.format(how=how))
    env = dict(os.environ, PYTHONPATH=f"{hook}{os.pathsep}{os.environ.get('PYTHONPATH', '')}")
    run = batch(tmp_path / "in", "--workers", workers, "--processes", env=env)
    out, err = run.communicate(timeout=300)
    got = {r["file"]: r for r in records(out)}
    assert set(got) == set(good) | {str(crash)}
    assert "stopped unexpectedly" in got[str(crash)]["error"]
    assert all("error" not in got[name] for name in good)
    assert run.returncode == 2
    lines = err.splitlines()
    assert lines and all(line.startswith("scan39.batch [") for line in lines), err


# Threads of this process and a local cluster of processes are two routes to the same
# records and exit status, whatever the options; the threads need no Dask at all.
@pytest.mark.parametrize("options", [[], ["--check-digit"], ["--polarity", "light", "--grade"]])
def test_threads_and_processes_write_the_same(tmp_path, options):
    make_folder(tmp_path / "in", 5)
    (tmp_path / "in" / "cut.png").write_bytes(b"\x89PNG\r\n\x1a\n")
    runs = {}
    for route in ([], ["--processes"]):
        output = tmp_path / f"out{len(route)}.jsonl"
        run = batch("in", "gone.png", "--workers", 2, "--output", output, *options, *route,
                    cwd=tmp_path)
        _, err = run.communicate(timeout=300)
        assert all(line.startswith("scan39.batch") for line in err.splitlines()), err
        runs[tuple(route)] = (run.returncode, sorted(output.read_text().splitlines()))
    assert runs[()] == runs[("--processes",)]
    assert len(runs[()][1]) == 7


def test_threads_import_no_dask(tmp_path):
    make_folder(tmp_path / "in", 2)
    probe = ("import sys\n"
             "from scan39.batch import main\n"
             "status = main([sys.argv[1], '--workers', '2'])\n"
             "print(sorted(m for m in sys.modules if m.split('.')[0] in ('dask', 'distributed')))\n"
             "sys.exit(status)\n")
    run = subprocess.run([sys.executable, "-c", probe, str(tmp_path / "in")], capture_output=True,
                         text=True, timeout=120)
    assert run.stdout.splitlines()[-1] == "[]", run.stdout
    assert len(run.stdout.splitlines()) == 3


# A local cluster left without workers (Dask 2022.12, a busy machine, a worker that died while
# restarting) is given them again rather than waited on for ever; one with workers is left as
# it is. The keeper stops when told.
@pytest.mark.parametrize("counts,scaled", [([0, 0, 0, 0], [0, 3]), ([1, 1, 1, 1], []),
                                           ([0, 1, 0, 1], [])])
def test_a_cluster_without_workers_gets_them_again(monkeypatch, counts, scaled):
    import threading

    from scan39 import batch as batch_module

    monkeypatch.setattr(batch_module, "WORKERLESS_SECONDS", 1.5)
    seen = iter(counts + [counts[-1]] * 100)

    class Client:
        def scheduler_info(self):
            return {"workers": {f"w{i}": {} for i in range(next(seen))}}

    class Cluster:
        calls = []

        def scale(self, n):
            self.calls.append(n)

    stop = threading.Event()
    keeper = threading.Thread(target=batch_module._keep_workers,
                              args=(Client(), Cluster(), 3, stop))
    keeper.start()
    deadline = time.monotonic() + (20 if scaled else 4)  # long enough on a loaded machine
    while time.monotonic() < deadline and len(Cluster.calls) < len(scaled) + (not scaled):
        time.sleep(0.1)
    stop.set()
    keeper.join(timeout=5)
    assert not keeper.is_alive()
    assert Cluster.calls[:2] == scaled
