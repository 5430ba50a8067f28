"""scan39: read Code 39 barcodes out of pictures.

    >>> import scan39
    >>> scan39.read("label.jpg")
    [Symbol('ABC-123', angle=3.1, lines=42, position=((12.0, 40.5), ...))]

`read` finds every symbol anywhere in a picture; `scan_box` reads the one row under a box
dragged over the picture, exactly as the scanning control and ``scan39 --box`` do. Pictures
are paths, encoded bytes, NumPy arrays (grey, RGB or RGBA uint8) or Pillow images.
"""

from __future__ import annotations

import operator
import os
import sys
from typing import NamedTuple

from . import _scan39
from ._scan39 import PictureError

__all__ = ["PictureError", "Symbol", "read", "scan_box"]


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

    def __repr__(self) -> str:
        corners = ", ".join(f"({x:.1f}, {y:.1f})" for x, y in self.position)
        return (f"Symbol({self.text!r}, angle={self.angle:.1f}, lines={self.lines}, "
                f"position=({corners}))")


def _pil_pixels(image):
    """A Pillow image as an array the extension takes (grey, RGB or RGBA)."""
    import numpy as np

    mode = image.mode
    if mode.startswith("I;16"):
        # 16-bit grey: keep the top byte rather than clipping everything light to white.
        return (np.asarray(image).astype(np.uint16) >> 8).astype(np.uint8)
    if mode in ("L", "RGB", "RGBA"):
        pass
    elif mode == "1":
        image = image.convert("L")
    elif "A" in mode or "transparency" in image.info:
        image = image.convert("RGBA")
    else:
        image = image.convert("RGB")
    return np.asarray(image)


def _source(image):
    """(kind, value) for the extension: kind is "path", "data" or "array"."""
    if isinstance(image, (str, os.PathLike)):
        return "path", os.fsencode(image)
    if isinstance(image, (bytes, bytearray, memoryview)):
        return "data", bytes(image)
    numpy = sys.modules.get("numpy")
    if numpy is not None and isinstance(image, numpy.ndarray):
        return "array", image
    pil = sys.modules.get("PIL.Image")
    if pil is not None and isinstance(image, pil.Image):
        return "array", _pil_pixels(image)
    raise TypeError("expected a path, bytes of an encoded picture, a NumPy array or a "
                    f"PIL.Image.Image, got {type(image).__name__}")


def read(image, *, check_digit: bool = False, full_ascii: bool = False,
         effort: str = "thorough", polarity: str = "both") -> list[Symbol]:
    """Every Code 39 symbol in the picture, each once, in no particular order.

    check_digit: the last character must be a valid mod 43 check character; it is removed
    from the text, and a symbol that fails the check is not reported.
    full_ascii: "$A", "%B", "/C", "+D" ... pairs become ASCII characters; a pair outside the
    table makes the symbol unreadable.
    effort: "thorough" (any angle, dense scan lines) or "fast" (upright, clean pictures).
    polarity: "dark" (dark bars on a light ground), "light" (light bars on a dark ground:
    printed reversed, laser-marked) or "both" (either).

    Raises FileNotFoundError for a missing file, scan39.PictureError for a picture that
    cannot be loaded, TypeError/ValueError for an array of the wrong type or shape.
    """
    kind, value = _source(image)
    found = getattr(_scan39, "read_" + kind)(value, bool(check_digit), bool(full_ascii), effort,
                                             polarity)
    return [Symbol(*s) for s in found]


def scan_box(image, x1: int, y1: int, x2: int, y2: int) -> str | None:
    """The text under a box dragged from pixel (x1, y1) to (x2, y2), or None.

    The scanning control's own rule, as ``scan39 --box x1,y1,x2,y2`` applies it: the box is
    dragged over the picture with the mouse, then scanned. Corners may lie outside the
    picture, within +-1000000.
    """
    kind, value = _source(image)
    corners = [operator.index(c) for c in (x1, y1, x2, y2)]
    return getattr(_scan39, "scan_box_" + kind)(value, *corners)
