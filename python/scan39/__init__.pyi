"""scan39: read Code 39 barcodes out of pictures."""

import os
from typing import Any, Literal, NamedTuple, Sequence, Union

import numpy as np
import numpy.typing as npt

try:
    from PIL.Image import Image as _PILImage
except ImportError:  # Pillow is optional
    _PILImage = object

Picture = Union[str, os.PathLike[str], bytes, bytearray, memoryview, npt.NDArray[np.uint8],
                _PILImage]
Point = tuple[float, float]

__version__: str

class PictureError(Exception):
    """A picture that cannot be loaded; str() is the command line's message for it."""
    number: int
    """The run-time error number (481 not a picture or damaged, 7 too large, ...)."""
    filename: str | None
    page: int | None
    """The page of a multi-page source that failed; None for a source of one page."""

class Symbol(NamedTuple):
    """A Code 39 symbol found in a picture."""
    text: str
    position: tuple[Point, Point, Point, Point]
    """Corners in picture pixels: start and end of the top side, end and start of the bottom."""
    angle: float
    """Reading direction in degrees, [0, 360): 0 left to right, 90 top to bottom."""
    lines: int
    """Independent scan lines that agreed on the text."""
    grade: dict | None = None
    """With grade=True: the print quality grade, as `scan39 --grade --json` gives it (whole
    bands in "overall"/"value", the interpolated grade in "fractional", each profile's own
    grades in "profiles")."""
    interpretation: dict | None = None
    """What the text means where Code 32, PZN or HIBC matches."""
    page: int | None = None
    """From 1 in a PDF or TIFF of several pages; None for a single picture."""
    aim: str = "]A0"
    """AIM symbology identifier: "]A0", "]A3" check verified and stripped, "]A4" full ASCII,
    "]A7" both."""

class UnreadSymbol(NamedTuple):
    """With grade=True: a symbol located but not read (no text), graded F."""
    position: tuple[Point, Point, Point, Point]
    angle: float
    lines: int
    characters: int
    failing: str
    """"decode" or "quiet_zones": the grade parameter that kept it from being read."""
    grade: dict | None = None
    page: int | None = None
    text: None = None

class Page(NamedTuple):
    """One page of a source: its symbols, or the error that stopped it."""
    page: int | None
    symbols: list[Symbol]
    error: PictureError | None
    unread: list[UnreadSymbol] = []
    """With grade=True: symbols located but not read, apart from `symbols`."""

def read(image: Picture, *, check_digit: bool = False, full_ascii: bool = False,
         effort: Literal["fast", "thorough"] = "thorough", grade: bool = False,
         dpi: int = 300, polarity: Literal["dark", "light", "both"] = "both") -> list[Symbol]:
    """Every Code 39 symbol in the picture (every page of a PDF or multi-page TIFF).

    Pillow images in mode I, I;16 or F are read on the scale their values hold: 0-255 as they
    are, 0-65535 by the top byte, F within 0.0-1.0 with 1.0 white, else lowest value black and
    highest white; NaN is white."""

def read_pages(image: Picture, *, check_digit: bool = False, full_ascii: bool = False,
               effort: Literal["fast", "thorough"] = "thorough", grade: bool = False,
               dpi: int = 300,
               polarity: Literal["dark", "light", "both"] = "both") -> list[Page]:
    """Every page with its symbols, or with the error that stopped that page alone."""

def split(files: str | bytes | os.PathLike[str] | Sequence[str | bytes | os.PathLike[str]],
          out: str | bytes | os.PathLike[str], *,
          separators: Sequence[str] = ("PATCHT",), separator_pattern: str | None = None,
          name_from: str | None = None, keep_separators: bool = False,
          on_error: Literal["keep", "stop"] = "keep", dry_run: bool = False, dpi: int = 150,
          fast: bool = False) -> list[dict[str, Any]]:
    """Cuts scanned batches into their documents, as `scan39 split --json`: its records."""

def scan_box(image: Picture, x1: int, y1: int, x2: int, y2: int) -> str | None:
    """The text under a box dragged from (x1, y1) to (x2, y2), as `scan39 --box` reads it."""
