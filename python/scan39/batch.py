"""Read every picture under some files and folders on a Dask cluster.

    python3 -m scan39.batch PATH... [--workers N [--processes] | --scheduler ADDRESS]
                            [--output FILE]
    python3 -m scan39.batch --split --out DIR PATH... [--separator TEXT] [--name-from REGEX]

Writes one JSON line per picture, the very record scan39 --json writes (one writer for both),
{"file": ..., "symbols": [...]} or {"file": ..., "error": ...}, in the order the pictures
finish; a PDF or TIFF of several pages gives one line per page, with "page" (from 1) and
"pages" (how many), all written together. With --output, a run that was interrupted is finished by
running the same command again: pictures already in the file are skipped, the rest are added,
none twice. One run at a time uses that file, and only a regular file holding these records
(or a new one); anything else is refused untouched. A file name that is not UTF-8 also gets
"file_bytes", its exact bytes in base64, as with scan39 --json. Workers are handed paths, not
pixels, so every worker must see the same files (a shared or network file system when the
cluster spans machines).

On one machine the workers are threads of this process by default: the reader lets go of
Python's lock while it reads, so they read side by side, with no scheduler between them and
no Dask to import or start (which alone takes longer than reading a few hundred small
pictures). --processes gives each worker a process of its own on a local Dask cluster
instead, so that a picture that brought the reader down costs only its own record, not the
run; --scheduler uses a running Dask cluster. Dask is imported only for these two.

With --split, the PDFs and TIFFs under PATHs are cut into their documents as scan39 split
does, the parts written into DIR (never over a file), and the records are scan39 split
--json's: {"input": ..., "output": ..., "pages": [...], "separators": [...], "name": ...}
per part, {"input": ..., "error": ...} for what could not be read.

Exit status: 0 every picture held a symbol, 1 some held none, 2 some could not be read (or
the arguments are wrong), 130 interrupted.
"""

from __future__ import annotations

import argparse
import base64
import fcntl
import importlib
import json
import os
import stat
import sys
import threading
import time

PICTURE_SUFFIXES = frozenset(
    {".bmp", ".dib", ".jpg", ".jpeg", ".jpe", ".gif", ".png", ".tif", ".tiff", ".webp", ".pdf"})

EXIT_ALL_READ, EXIT_SOME_EMPTY, EXIT_SOME_FAILED, EXIT_INTERRUPTED = 0, 1, 2, 130


# --- On the workers -------------------------------------------------------------------------

def read_one(picture: tuple[str, str], options: dict) -> list[str]:
    """The records of one picture, given as (the path to read, its name as given), one record
    per page of a file of several, as JSON lines (without their ends) in the form scan39 --json
    writes; never raises for the picture's sake."""
    import scan39
    from scan39 import _scan39

    path, shown = picture
    try:
        return list(_scan39.read_records(path, os.fsencode(shown), options["check_digit"],
                                         options["full_ascii"], options["effort"],
                                         options.get("polarity", "both"),
                                         options.get("grade", False), options["dpi"]))
    except FileNotFoundError as e:
        message = e.strerror or str(e)
    except scan39.PictureError as e:
        message = str(e)
    except Exception as e:  # noqa: BLE001 - whatever it was, the picture gets its record
        message = f"{type(e).__name__}: {e}"
    return [error_record(shown, message)]


def error_record(path: str, message: str) -> str:
    from scan39 import _scan39

    return _scan39.error_record(os.fsencode(path),
                                message.encode("utf-8", "surrogateescape"))


def read_chunk(pictures: list[tuple[str, str]], options: dict) -> list[list[str]]:
    return [read_one(p, options) for p in pictures]


def split_one(picture: tuple[str, str], options: dict) -> list[str]:
    """The records of one batch file, given as (the path to read, its name as given), split
    into its documents as scan39 split --json writes them; never raises for the file's sake."""
    from scan39 import _scan39

    path, shown = picture
    # Named as given where that name reaches the same file from here (a local worker), as
    # the records of a read are.
    source = shown if os.path.abspath(shown) == path else path
    try:
        return list(_scan39.split([os.fsencode(source)], os.fsencode(options["out"]),
                                  options["separators"], options["separator_pattern"] or "",
                                  options["name_from"] or "", options["keep_separators"],
                                  False, False, options["dpi"], False))
    except Exception as e:  # noqa: BLE001 - whatever it was, the file gets its record
        record = json.loads(error_record(source, f"{type(e).__name__}: {e}"))
        renamed = {("input" + k[4:] if k.startswith("file") else k): v for k, v in record.items()}
        return [json.dumps(renamed, ensure_ascii=False, separators=(",", ":"))]


def split_chunk(pictures: list[tuple[str, str]], options: dict) -> list[list[str]]:
    return [split_one(p, options) for p in pictures]


def chunk_task(options: dict):
    """What a worker does with a chunk: split the batches, or read the pictures."""
    return split_chunk if options.get("split") else read_chunk


# --- On the client --------------------------------------------------------------------------

def find_pictures(arguments: list[str]) -> list[str]:
    """The pictures' names as given, each file once: named files as they are (a missing or
    broken one gets its error record), folders walked for files with a picture suffix, in name
    order, named below the folder as given (as scan39 names them)."""
    seen: dict[str, str] = {}  # the absolute path: the name first given for it
    for argument in arguments:
        if os.path.isdir(argument):
            for folder, subfolders, files in os.walk(argument):
                subfolders.sort()
                for name in sorted(files):
                    if os.path.splitext(name)[1].lower() in PICTURE_SUFFIXES:
                        shown = os.path.join(folder, name)
                        seen.setdefault(os.path.abspath(shown), shown)
        else:
            seen.setdefault(os.path.abspath(argument), argument)
    return list(seen.values())


def _name_of(record: dict) -> str:
    """The file a record was written for, exactly as os.fsdecode gives its name."""
    key = "file" if "file" in record else "input"
    if key + "_bytes" in record:
        return os.fsdecode(base64.b64decode(record[key + "_bytes"], validate=True))
    return record[key]


def _is_record(value) -> bool:
    if not isinstance(value, dict):
        return False
    if isinstance(value.get("input"), str):  # a split's
        return isinstance(value.get("pages"), list) or "error" in value
    return (isinstance(value.get("file"), str)
            and (isinstance(value.get("symbols"), list) or "error" in value))


def _status_of(record: dict) -> int:
    if "error" in record:
        return EXIT_SOME_FAILED
    if "input" in record:
        return EXIT_ALL_READ
    # A search cut short may have missed symbols: never counted as read whole.
    return EXIT_ALL_READ if record.get("symbols") and not record.get("truncated") \
        else EXIT_SOME_EMPTY


class OutputError(Exception):
    """Why --output cannot be used; the file is left as it was."""


# A record is a file name and its symbols: far below this. A longer line is not ours.
MAX_RECORD_BYTES = 4 << 20


class RecordFile:
    """The output: one line per record, each written whole with one write() on a descriptor
    opened for appending, so a killed run leaves at most its last line torn. Only a regular
    file (or a new one) that holds our records is used, and one run at a time: the file stays
    locked while the run lasts."""

    def __init__(self, path: str | None):
        self.done: set[str] = set()
        self.status = EXIT_ALL_READ
        if path is None:
            self._fd = sys.stdout.fileno()
            sys.stdout.flush()
            return
        self._fd = -1
        try:
            info = os.stat(path)
        except FileNotFoundError:
            info = None
        except OSError as e:
            raise OutputError(e.strerror or str(e)) from None
        # A device or a pipe is refused before it is opened: opening some devices acts.
        if info is not None and not stat.S_ISREG(info.st_mode):
            raise OutputError("not a regular file (name a new or existing results file)")
        try:
            fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_APPEND | os.O_NONBLOCK
                         | os.O_NOCTTY | os.O_CLOEXEC, 0o644)
        except OSError as e:
            raise OutputError(e.strerror or str(e)) from None
        try:
            if not stat.S_ISREG(os.fstat(fd).st_mode):
                raise OutputError("not a regular file (name a new or existing results file)")
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                raise OutputError("in use by another scan39.batch run") from None
            os.set_blocking(fd, True)
            self._fd = fd
            self._load()
        except BaseException:
            os.close(fd)
            self._fd = -1
            raise

    def _load(self) -> None:
        size = os.fstat(self._fd).st_size
        good_end = 0
        first = True
        statuses: dict[str, int] = {}
        paged: dict[str, tuple[set, int, int]] = {}  # file: (pages seen, pages, first line)
        last = None
        with os.fdopen(os.dup(self._fd), "rb") as f:
            f.seek(0)
            while good_end < size:
                line = f.readline(min(MAX_RECORD_BYTES, size - good_end))
                if not line.endswith(b"\n"):
                    # Torn by an interruption: dropped below and read again. Anything else
                    # that long, or a first line that is not a record's start, is not ours.
                    if len(line) >= MAX_RECORD_BYTES or (
                            first and not line.startswith(b'{"file":')):
                        raise OutputError("it does not hold scan39.batch records; left as it is")
                    break
                start, good_end = good_end, good_end + len(line)
                try:
                    record = json.loads(line.decode("utf-8", "surrogateescape"))
                    name = _name_of(record) if _is_record(record) else None
                except (ValueError, TypeError):
                    name = None
                if name is None:
                    if first:
                        raise OutputError("it does not hold scan39.batch records; left as it is")
                    continue  # a stray line further on: left alone
                first = False
                if isinstance(record.get("pages"), int):
                    seen, _, begins = paged.get(name, (set(), 0, start))
                    seen.add(record.get("page"))
                    paged[name] = (seen, record["pages"], begins)
                statuses[name] = max(statuses.get(name, EXIT_ALL_READ), _status_of(record))
                last = name
        # A file's pages are written together, so an interrupted write cuts short only the
        # last file: its pages are dropped and read again.
        if last in paged and len(paged[last][0]) < paged[last][1]:
            good_end = paged[last][2]
            del statuses[last]
        self.done.update(statuses)
        self.status = max(statuses.values(), default=EXIT_ALL_READ)
        if good_end != size:
            os.ftruncate(self._fd, good_end)

    def write(self, lines: list[str]) -> list[dict]:
        """Writes the records of one file (one per page) together; returns them parsed."""
        records = [json.loads(line) for line in lines]
        data = "".join(line + "\n" for line in lines).encode("utf-8")
        while data:
            data = data[os.write(self._fd, data):]
        for record in records:
            self.done.add(_name_of(record))
            self.status = max(self.status, _status_of(record))
        return records

    def close(self) -> None:
        if self._fd >= 0 and self._fd != sys.stdout.fileno():
            os.fsync(self._fd)
            os.close(self._fd)
            self._fd = -1


class Progress:
    """A bar on standard error: redrawn in place on a terminal, a line per tenth otherwise."""

    def __init__(self, total: int, stream=sys.stderr):
        self.total, self.count, self.errors = total, 0, 0
        self.stream = stream
        self.tty = stream.isatty()
        self.start = self.last_draw = time.monotonic()
        self.last_tenth = -1
        self.draw()

    def add(self, pictures: list[list[dict]]) -> None:
        """Counts pictures, each given as its records."""
        self.count += len(pictures)
        self.errors += sum(any("error" in r for r in records) for records in pictures)
        now = time.monotonic()
        if self.tty and (now - self.last_draw >= 0.2 or self.count == self.total):
            self.draw()
        elif not self.tty and self.total and self.count * 10 // self.total > self.last_tenth:
            self.draw()

    def draw(self) -> None:
        self.last_draw = now = time.monotonic()
        share = self.count / self.total if self.total else 1.0
        bar = "#" * int(share * 30)
        rate = self.count / (now - self.start) if now > self.start else 0.0
        text = (f"scan39.batch [{bar:<30}] {self.count}/{self.total} pictures, "
                f"{rate:.1f}/s, {self.errors} not readable")
        if self.tty:
            self.stream.write("\r" + text)
        else:
            self.last_tenth = self.count * 10 // self.total if self.total else 10
            self.stream.write(text + "\n")
        self.stream.flush()

    def close(self) -> None:
        if self.tty:
            self.draw()
            self.stream.write("\n")
            self.stream.flush()


def _chunks(paths: list[str], size: int) -> list[list[str]]:
    return [paths[i:i + size] for i in range(0, len(paths), size)]


def _chunk_size(count: int, threads: int) -> int:
    # Small tasks keep every worker busy to the end; a few pictures each keep the scheduler's
    # share of the time small.
    return max(1, min(16, count // (threads * 4)))


def _pairs(paths: list[str]) -> list[tuple[str, str]]:
    # Workers read the absolute path (a worker's folder is not the client's); the records
    # name the picture as it was given.
    return [(os.path.abspath(p), p) for p in paths]


def read_here(paths: list[str], records: RecordFile, options: dict, progress: Progress,
              threads: int) -> None:
    """Reads `paths` on `threads` threads of this process, writing each record as it arrives.
    The reader lets go of Python's lock while it reads, so the threads read side by side; no
    scheduler stands between them, so each picture is a task of its own."""
    from concurrent.futures import FIRST_COMPLETED, ThreadPoolExecutor, wait

    pending = [[p] for p in reversed(_pairs(paths))]  # popped from the end: the first first
    pool = ThreadPoolExecutor(threads, thread_name_prefix="scan39.batch")
    try:
        running: set = set()
        while True:
            # A few tasks queued beyond the busy threads: none waits for work, and an
            # interruption leaves little to throw away.
            while pending and len(running) < threads * 4:
                running.add(pool.submit(chunk_task(options), pending.pop(), options))
            if not running:
                return
            done, running = wait(running, return_when=FIRST_COMPLETED)
            for future in done:
                progress.add([records.write(picture) for picture in future.result()])
    finally:
        # Interrupted: what has not started never will; the pictures being read are finished
        # (their records are lost and read again by the next run).
        pool.shutdown(wait=True, cancel_futures=True)


def run(paths: list[str], records: RecordFile, client, options: dict,
        progress: Progress) -> None:
    """Reads `paths` on the cluster behind `client`, writing each record as it arrives."""
    from distributed import as_completed
    from distributed.scheduler import KilledWorker

    # The task functions are taken from the installed module, never from __main__, so the
    # workers can import them by name.
    worker_side = importlib.import_module("scan39.batch")
    info = client.scheduler_info()
    threads = max(1, sum(w.get("nthreads", 1) for w in info.get("workers", {}).values()))
    pending = _chunks(_pairs(paths), _chunk_size(len(paths), threads))
    pending.reverse()  # popped from the end, so the first chunk goes first
    progress.start = time.monotonic()  # the rate counts reading, not the cluster's start
    window = threads * 4
    chunk_of: dict = {}
    suspects: list = []
    finished = as_completed()

    def submit(chunk: list[str]) -> None:
        task = worker_side.chunk_task(options)
        future = client.submit(task, chunk, options, pure=False)
        chunk_of[future.key] = chunk
        finished.add(future)

    while pending and len(chunk_of) < window:
        submit(pending.pop())
    for future in finished:
        chunk = chunk_of.pop(future.key)
        try:
            results = future.result()
        except KilledWorker:
            # A task gave up after its workers died, but Dask blames every task a dying worker
            # held, not only the one it was reading. Read the chunk's pictures one by one
            # once the rest is done, each alone on the cluster, so only the picture that still
            # brings its worker down gets the error record.
            suspects.extend([p] for p in chunk)
            results = []
        written = [records.write(picture) for picture in results]
        progress.add(written)
        future.release()
        while pending and len(chunk_of) < window:
            submit(pending.pop())
    for chunk in suspects:
        future = client.submit(worker_side.chunk_task(options), chunk, options, pure=False)
        try:
            results = future.result()
        except KilledWorker:
            results = [[error_record(
                chunk[0][1], "the worker reading this picture stopped unexpectedly")]]
        progress.add([records.write(picture) for picture in results])
        future.release()


def _quiet_dask() -> None:
    """Dask's own log lines (workers starting, a worker lost and restarted, results gathered
    again after one) would bury the progress and the batch's own messages, which say what
    matters: a failure of the cluster itself is raised. The environment carries the level to
    the worker processes, which start afresh; one set there already
    (DASK_LOGGING__DISTRIBUTED=info, to look into the cluster) is kept. The client's logger
    has a level of its own (warning) in Dask's defaults, so it is set too."""
    import logging

    level = os.environ.setdefault("DASK_LOGGING__DISTRIBUTED", "critical")
    import dask

    dask.config.set({"logging.distributed": level})
    import distributed  # noqa: F401 - sets up its loggers from the configuration

    for name in ("distributed", "distributed.client"):
        logging.getLogger(name).setLevel(level.upper())


def _worker_extensions() -> dict:
    """The workers' extensions without the shuffle's: the batch never shuffles, and Debian's
    Dask (2022.12) closes a worker twice when the cluster closes after a worker died, which
    the shuffle extension answers with an assertion whose traceback the worker process prints
    on its way out."""
    from distributed import worker

    return {name: extension for name, extension in worker.DEFAULT_EXTENSIONS.items()
            if name != "shuffle"}


# Seconds a local cluster may be without a worker before it is given its workers again.
WORKERLESS_SECONDS = 5.0


def _keep_workers(client, cluster, wanted: int, stop: threading.Event) -> None:
    """Debian's Dask (2022.12) on a busy machine sometimes leaves a local cluster with no worker
    at all after one died: the worker being restarted is slow to close, its nanny kills it and
    starts no other. The batch would then wait for ever. A cluster of this process's own that
    stays without workers is given them again; the tasks it held are run anew."""
    without = None
    while not stop.wait(1.0):
        try:
            workers = len(client.scheduler_info().get("workers", {}))
        except Exception:  # the client is closing: nothing left to keep
            return
        if workers:
            without = None
        elif without is None:
            without = time.monotonic()
        elif time.monotonic() - without >= WORKERLESS_SECONDS:
            cluster.scale(0)
            cluster.scale(wanted)
            without = None


def _connect(arguments):
    _quiet_dask()
    from distributed import Client, LocalCluster

    if arguments.scheduler:
        return Client(arguments.scheduler), None
    import dask

    # Dask starts its worker processes with MALLOC_TRIM_THRESHOLD_ set low, which also stops
    # glibc from raising its mmap threshold: every picture buffer is then mapped afresh and
    # faulted in page by page, and reading takes twice as long. The other settings stay.
    environ = dict(dask.config.get("distributed.nanny.pre-spawn-environ", {}))
    environ.pop("MALLOC_TRIM_THRESHOLD_", None)
    dask.config.set({"distributed.nanny.pre-spawn-environ": environ})
    # Any free port for the scheduler's web server: the usual one may serve another cluster,
    # and taking another would be said in a warning.
    cluster = LocalCluster(n_workers=arguments.workers, threads_per_worker=1, processes=True,
                           dashboard_address=":0", extensions=_worker_extensions())
    return Client(cluster), cluster


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m scan39.batch",
        description="Read the Code 39 symbols of every picture under PATHs, one JSON line per "
                    "picture: on threads of this process, on worker processes of a local Dask "
                    "cluster (--processes) or on a running Dask cluster (--scheduler).")
    parser.add_argument("paths", nargs="+", metavar="PATH", help="picture files and folders")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int, default=os.cpu_count() or 1, metavar="N",
                       help="local workers: threads, or processes with --processes "
                            "(default: the number of cores)")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="a running Dask scheduler, e.g. tcp://10.0.0.5:8786")
    parser.add_argument("--processes", action="store_true",
                        help="a process per local worker, on a local Dask cluster: a picture "
                             "that brings the reader down costs only its own record (slower "
                             "to start)")
    parser.add_argument("--output", metavar="FILE",
                        help="append the records to FILE; run again to finish an interrupted run")
    parser.add_argument("--check-digit", action="store_true",
                        help="require and strip a mod 43 check character")
    parser.add_argument("--full-ascii", action="store_true", help="decode full ASCII pairs")
    from scan39 import _scan39  # the reader's own names, as scan39 --effort takes them

    parser.add_argument("--effort", choices=_scan39.EFFORT_NAMES, default="thorough")
    parser.add_argument("--polarity", choices=_scan39.POLARITY_NAMES, default="both",
                        help="dark bars on a light ground, light bars on a dark one, or either")
    parser.add_argument("--grade", action="store_true",
                        help="grade each symbol's print quality (ISO/IEC 15416), as scan39 --grade")
    parser.add_argument("--dpi", type=int, default=None, metavar="N",
                        help="render PDF pages at N dots per inch (36 to 1200, default 300; "
                             "150 with --split)")
    parser.add_argument("--split", action="store_true",
                        help="cut the PDFs and TIFFs into their documents (scan39 split)")
    parser.add_argument("--out", metavar="DIR", help="with --split: the folder for the parts")
    parser.add_argument("--separator", action="append", metavar="TEXT",
                        help="with --split: a separator sheet's text (repeatable; PATCHT)")
    parser.add_argument("--separator-pattern", metavar="REGEX")
    parser.add_argument("--name-from", metavar="REGEX",
                        help="with --split: pages whose symbol matches start and name a document")
    parser.add_argument("--keep-separators", action="store_true")
    arguments = parser.parse_args(argv)
    if arguments.dpi is None:
        arguments.dpi = 150 if arguments.split else 300
    if arguments.split and not arguments.out:
        parser.error("--split needs --out DIR")
    if arguments.workers < 1:
        parser.error("--workers must be at least 1")
    if arguments.processes and arguments.scheduler:
        parser.error("--processes is for local workers, not with --scheduler")
    if not 36 <= arguments.dpi <= 1200:
        parser.error("--dpi takes a number from 36 to 1200")

    options = {"check_digit": arguments.check_digit, "full_ascii": arguments.full_ascii,
               "effort": arguments.effort, "polarity": arguments.polarity,
               "grade": arguments.grade, "dpi": arguments.dpi}
    if arguments.split:
        options.update(split=True, out=os.path.abspath(arguments.out),
                       separators=arguments.separator or ["PATCHT"],
                       separator_pattern=arguments.separator_pattern,
                       name_from=arguments.name_from,
                       keep_separators=arguments.keep_separators)
    try:
        records = RecordFile(arguments.output)
    except OutputError as e:
        print(f"scan39.batch: cannot use {arguments.output}: {e}", file=sys.stderr)
        return EXIT_SOME_FAILED
    paths = [p for p in find_pictures(arguments.paths) if p not in records.done]
    if arguments.split:
        # Batches only; the parts folder holds this command's own output.
        out = os.path.abspath(arguments.out) + os.sep
        paths = [p for p in paths if os.path.splitext(p)[1].lower() in (".pdf", ".tif", ".tiff")
                 and not p.startswith(out)]
    progress = Progress(len(paths))
    client = cluster = None
    try:
        if paths and (arguments.scheduler or arguments.processes):
            client, cluster = _connect(arguments)
            stop = threading.Event()
            if cluster is not None:
                threading.Thread(target=_keep_workers, daemon=True,
                                 args=(client, cluster, arguments.workers, stop)).start()
            try:
                run(paths, records, client, options, progress)
            finally:
                stop.set()
        elif paths:
            # Threads of this process need no scheduler: neither Dask nor its start-up.
            read_here(paths, records, options, progress, arguments.workers)
        progress.close()
        return records.status
    except KeyboardInterrupt:
        progress.close()
        where_to = f"; run the same command again to finish" if arguments.output else ""
        print(f"\nscan39.batch: interrupted after {progress.count} of {progress.total} "
              f"pictures{where_to}", file=sys.stderr)
        return EXIT_INTERRUPTED
    finally:
        records.close()
        if client is not None:
            client.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    sys.exit(main())
