"""scan39: read Code 39 barcodes out of pictures.

    >>> import scan39
    >>> scan39.read("label.jpg")
    [Symbol('ABC-123', angle=3.1, lines=42, position=((12.0, 40.5), ...))]

`read` finds every symbol anywhere in a picture (every page of a PDF or multi-page TIFF;
`read_pages` gives each page with its symbols or its error); `scan_box` reads the one row under a box
dragged over the picture, exactly as the scanning control and ``scan39 --box`` do. Pictures
are paths, encoded bytes, NumPy arrays (grey, RGB or RGBA uint8) or Pillow images.

Pillow's wide grey modes (I, I;16, F) are read on the scale their values hold: all within
0-255, as they are; within 0-65535, by the top byte (a 16-bit picture); an F picture within
0.0-1.0, with 1.0 as white; any other range, from its lowest value (black) to its highest
(white). NaN counts as white, and infinities as black or white, outside that range.
"""

from __future__ import annotations

import json
import operator
import os
import sys
from typing import NamedTuple

from . import _scan39
from ._scan39 import PictureError, __version__

try:  # built where the scanning control (Qt Widgets) is
    from . import _box
except ImportError as e:
    _box = None
    _box_missing = str(e)

__all__ = ["Page", "PictureError", "Symbol", "UnreadSymbol", "__version__", "read", "read_pages",
           "scan_box", "split"]

#: The page of a multi-page source a failure belongs to; None for a source of one page.
PictureError.page = None


class Symbol(NamedTuple):
    """A Code 39 symbol found in a picture."""

    text: str
    #: The corners in picture pixels, in reading order: start and end of the top side, then
    #: end and start of the bottom side ("top" lies left of the reading direction).
    position: tuple[tuple[float, float], tuple[float, float], tuple[float, float],
                    tuple[float, float]]
    #: Reading direction in degrees, 0 <= angle < 360: 0 left to right, 90 top to bottom.
    angle: float
    #: How many independent scan lines agreed on the text.
    lines: int
    #: With ``read(..., grade=True)``: the print quality grade by the scan reflectance profiles
    #: of ISO/IEC 15416, as ``scan39 --grade --json`` gives it: {"overall": "B", "value": 3.2,
    #: "scans": 10, "parameters": {...}, "x_dimension_px": ... or None, "wide_narrow_ratio": ...
    #: or None, "fractional": {"overall": "B", "value": 3.27}, "decoded": 10, "rules": {...},
    #: "profiles": [...]}: whole bands and the interpolated grades, each profile's own.
    #: A camera picture is no calibrated verifier: the grade is as good as the light and lens.
    grade: dict | None = None
    #: What the text means where Code 32, PZN or HIBC matches: {"kind": "pzn", "valid": True,
    #: "value": "01234562", ...}, or {"kind": ..., "valid": False} when it fails its check.
    interpretation: dict | None = None
    #: The page it is on, from 1, in a PDF or TIFF of several pages; None for a single picture.
    page: int | None = None
    #: The AIM symbology identifier, as scanners prefix the text: "]A0" plain, "]A3" check
    #: character verified and stripped (``check_digit``), "]A4" full ASCII pairs read
    #: (``full_ascii``), "]A7" both.
    aim: str = "]A0"

    def __repr__(self) -> str:
        corners = ", ".join(f"({_shown(x)}, {_shown(y)})" for x, y in self.position)
        page = "" if self.page is None else f", page={self.page}"
        return (f"Symbol({self.text!r}, angle={_shown(self.angle, 360.0)}, lines={self.lines}"
                f"{page}, position=({corners}))")


def _shown(value: float, period: float | None = None) -> str:
    """One decimal, never "-0.0" (nor 360.0 for an angle that rounds up to a full turn)."""
    rounded = round(value, 1)
    if period is not None:
        rounded %= period
    return f"{rounded + 0.0:.1f}"


class UnreadSymbol(NamedTuple):
    """With ``grade=True``: a Code 39 symbol located but not read. Lines across it saw its start
    and stop characters with characters between, but agreed on no text: a character no line
    reads (a bar cut through, a spot), or one quiet zone too short. It has no text; a verifier
    grades it F. As the "unread" members of ``scan39 --grade --json`` records."""

    #: The corners in picture pixels, in reading order, as Symbol.position.
    position: tuple[tuple[float, float], tuple[float, float], tuple[float, float],
                    tuple[float, float]]
    angle: float
    #: How many scan lines saw it.
    lines: int
    #: Data characters between start and stop, as the lines counted them.
    characters: int
    #: The grade parameter that kept it from being read: "decode" or "quiet_zones".
    failing: str
    #: Its grade, as Symbol.grade (overall "F").
    grade: dict | None = None
    page: int | None = None
    #: Never a text: None, as the record's "text": null.
    text: None = None


class Page(NamedTuple):
    """One page of a source and what it gave: its symbols, or the error that stopped it."""

    #: From 1 in a source of several pages; None for a source of one.
    page: int | None
    symbols: list[Symbol]
    error: PictureError | None
    #: With ``grade=True``: the symbols located but not read (UnreadSymbol), apart from
    #: `symbols` so that none is taken for a text; empty otherwise.
    unread: list[UnreadSymbol] = []


def _pil_pixels(image):
    """A Pillow image as an array the extensions take (grey, RGB or RGBA)."""
    import numpy as np

    _scan39.check_size(*image.size)  # before anything is decoded or converted
    mode = image.mode
    if mode.startswith("I;16") or mode in ("I", "F"):
        return _grey8(np.asarray(image))
    if mode in ("L", "RGB", "RGBA"):
        pass
    elif mode == "1":
        image = image.convert("L")
    elif "A" in mode or "transparency" in image.info:
        image = image.convert("RGBA")
    else:
        image = image.convert("RGB")
    return np.asarray(image)


def _grey8(values):
    """Wide grey values (Pillow's I, I;16 and F) as 8-bit grey, on the scale the module's
    docstring gives. The fixed scales come first so that a picture keeps its contrast and
    grades as the same picture in 8 bits would; stretching is for values no scale holds."""
    import numpy as np

    if values.size == 0:
        return np.zeros(values.shape, np.uint8)
    floats = values.dtype.kind == "f"
    if floats:
        values = np.where(np.isnan(values), np.float32(np.inf), values)
        finite = values[np.isfinite(values)]
        lo, hi = (float(finite.min()), float(finite.max())) if finite.size else (0.0, 0.0)
        del finite
    else:
        lo, hi = int(values.min()), int(values.max())
    if floats and lo >= 0 and hi <= 1:
        grey = np.rint(values * np.float32(255))
    elif lo >= 0 and hi <= 255:
        grey = np.rint(values) if floats else values
    elif lo >= 0 and hi <= 65535:
        grey = np.floor(values / np.float32(256)) if floats else values >> 8
    elif hi > lo:
        grey = values.astype(np.float64)  # holds any span of int32 or float32 values
        grey -= lo
        grey *= 255 / (hi - lo)
        np.rint(grey, out=grey)
    else:
        grey = np.where(values > lo, 255, 0)  # one value, and perhaps infinities
    return np.clip(grey, 0, 255).astype(np.uint8)


def _source(image):
    """The picture as the extensions take it: Pillow images become arrays."""
    pil = sys.modules.get("PIL.Image")
    if pil is not None and isinstance(image, pil.Image):
        return _pil_pixels(image)
    return image


def _symbol(found, page) -> Symbol:
    """A Symbol from the extension's tuple: text, corners, angle, lines, then the grade and the
    interpretation as dicts (the members of the record's "grade" and "interpretation") or None,
    and the AIM identifier."""
    text, corners, angle, lines, grade, interpretation, aim = found
    # + 0.0 turns a -0.0 from the geometry into 0.0, as the JSON record writes it.
    return Symbol(text, corners, angle + 0.0, lines, grade, interpretation, page, aim)


def _unread(found, page) -> UnreadSymbol:
    """An UnreadSymbol from the extension's tuple: corners, angle, lines, characters, failing,
    grade."""
    corners, angle, lines, characters, failing, grade = found
    return UnreadSymbol(corners, angle + 0.0, lines, characters, failing, grade, page)


def read_pages(image, *, check_digit: bool = False, full_ascii: bool = False,
               effort: str = "thorough", grade: bool = False, dpi: int = 300,
               polarity: str = "both", file_time_limit: int = 30) -> list[Page]:
    """Every page of the source with its symbols, or with the PictureError that stopped that
    page while the others were read. A picture, an array and a Pillow image are one page.

    Options as for `read`; `file_time_limit` is the seconds the file may take, its reading and
    every page together, as ``scan39 --file-time-limit``: each page not read by then gets its
    PictureError. Raises as `read` does when no page can be had at all.
    """
    filename = None if isinstance(image, (bytes, bytearray, memoryview)) else image
    if filename is not None and not isinstance(filename, (str, os.PathLike)):
        filename = None
    pages = []
    for page, found, failure, unread in _scan39.read_pages(_source(image), bool(check_digit),
                                                   bool(full_ascii), effort, polarity,
                                                   bool(grade), operator.index(dpi),
                                                   operator.index(file_time_limit)):
        error = None
        if failure is not None:
            error = PictureError(failure[1])
            error.number, error.page = failure[0], page
            error.filename = None if filename is None else os.fsdecode(filename)
        pages.append(Page(page, [_symbol(s, page) for s in found], error,
                          [_unread(u, page) for u in unread]))
    return pages


def read(image, *, check_digit: bool = False, full_ascii: bool = False,
         effort: str = "thorough", grade: bool = False, dpi: int = 300,
         polarity: str = "both") -> list[Symbol]:
    """Every Code 39 symbol in the picture, each once, in reading order (top to bottom, then
    left to right, by their centres, as scan39 --json lists them); for a PDF or a TIFF of
    several pages those of every page, page by page, each with its `page`.

    check_digit: the last character must be a valid mod 43 check character; it is removed
    from the text, and a symbol that fails the check is not reported.
    full_ascii: "$A", "%B", "/C", "+D" ... pairs become ASCII characters; a pair outside the
    table makes the symbol unreadable.
    effort: "thorough" (any angle, dense scan lines) or "fast" (upright, clean pictures).
    grade: also grade each symbol's print quality (Symbol.grade).
    dpi: the resolution PDF pages are rendered at, 36 to 1200.
    polarity: "dark" (dark bars on a light ground), "light" (light bars on a dark ground:
    printed reversed, laser-marked) or "both" (either).

    Raises FileNotFoundError for a missing file, scan39.PictureError for a picture that
    cannot be loaded or has more pixels than the loader accepts (64 Mi) (for a page of several,
    with its `page`; `read_pages` keeps the other pages' symbols), TypeError/ValueError for an
    array of the wrong type or shape, NotImplementedError for a path or bytes where scan39 was
    built without the picture loader (SCAN39_WITH_QT=OFF: arrays and Pillow images only).
    """
    symbols = []
    for page in read_pages(image, check_digit=check_digit, full_ascii=full_ascii,
                           effort=effort, grade=grade, dpi=dpi,
                           polarity=polarity):
        if page.error is not None:
            raise page.error
        symbols += page.symbols
    return symbols


def scan_box(image, x1: int, y1: int, x2: int, y2: int) -> str | None:
    """The text under a box dragged from pixel (x1, y1) to (x2, y2), or None.

    The scanning control's own rule, as ``scan39 --box x1,y1,x2,y2`` applies it: the box is
    dragged over the picture with the mouse, then scanned. Corners may lie outside the
    picture, within +-1000000.
    """
    if _box is None:
        raise RuntimeError(f"scan_box needs the scanning control, not built here ({_box_missing})")
    corners = [operator.index(c) for c in (x1, y1, x2, y2)]
    return _box.scan_box(_source(image), *corners)


def split(files, out, *, separators=("PATCHT",), separator_pattern: str | None = None,
          name_from: str | None = None, keep_separators: bool = False, on_error: str = "keep",
          dry_run: bool = False, dpi: int = 150, fast: bool = False) -> list[dict]:
    """Cuts scanned batches (PDFs, multi-page TIFFs) into their documents, as ``scan39 split``
    does, and returns its records (``scan39 split --json``), one dict per part written:
    ``{"input", "output", "pages", "separators", "name"}`` (pages from 1), and one per page
    or file that could not be read (``"error"``).

    files: a path or a list of paths. out: the folder for the parts (made when missing).
    separators: texts that make a page a separator sheet; separator_pattern: or a regular
    expression (PCRE, as the command line takes it) their text matches. name_from: a page
    with a symbol matching it starts a new document named after the whole match.
    keep_separators: keep separator pages as the first page of the document after them.
    on_error: "keep" (an unreadable page stays in its document) or "stop" (its file is not
    split, and the files after it are not read). dry_run: plan and name, write nothing.
    Parts copy the original pages as they are; no file is ever replaced (-2, -3 ... added).
    """
    if on_error not in ("keep", "stop"):
        raise ValueError(f"on_error is 'keep' or 'stop', not {on_error!r}")
    if isinstance(files, (str, bytes, os.PathLike)):
        files = [files]
    if isinstance(separators, str):
        separators = [separators]
    records = _scan39.split([os.fsencode(f) for f in files], os.fsencode(out),
                            [str(s) for s in separators], separator_pattern or "",
                            name_from or "", bool(keep_separators), on_error == "stop",
                            bool(dry_run), operator.index(dpi), bool(fast))
    return [json.loads(r) for r in records]
