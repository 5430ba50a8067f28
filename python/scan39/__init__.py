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
import sys
from typing import NamedTuple

from . import _scan39
from ._scan39 import PictureError, __version__

try:  # built where the scanning control (Qt Widgets) is
    from . import _box
except ImportError as e:
    _box = None
    _box_missing = str(e)

__all__ = ["PictureError", "Symbol", "__version__", "read", "scan_box"]


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
    """A Pillow image as an array the extensions take (grey, RGB or RGBA)."""
    import numpy as np

    _scan39.check_size(*image.size)  # before anything is decoded or converted
    mode = image.mode
    if mode.startswith("I;16") or mode in ("I", "F"):
        # 16-bit grey (Pillow opens 16-bit PNGs as "I"): keep the top byte rather than
        # clipping everything light to white.
        pixels = np.clip(np.asarray(image), 0, 65535).astype(np.uint16)
        return (pixels >> 8).astype(np.uint8)
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
    """The picture as the extensions take it: Pillow images become arrays."""
    pil = sys.modules.get("PIL.Image")
    if pil is not None and isinstance(image, pil.Image):
        return _pil_pixels(image)
    return image


def read(image, *, check_digit: bool = False, full_ascii: bool = False,
         effort: str = "thorough") -> list[Symbol]:
    """Every Code 39 symbol in the picture, each once, in no particular order.

    check_digit: the last character must be a valid mod 43 check character; it is removed
    from the text, and a symbol that fails the check is not reported.
    full_ascii: "$A", "%B", "/C", "+D" ... pairs become ASCII characters; a pair outside the
    table makes the symbol unreadable.
    effort: "thorough" (any angle, dense scan lines) or "fast" (upright, clean pictures).

    Raises FileNotFoundError for a missing file, scan39.PictureError for a picture that
    cannot be loaded or has more pixels than the loader accepts (64 Mi), TypeError/ValueError
    for an array of the wrong type or shape.
    """
    found = _scan39.read(_source(image), bool(check_digit), bool(full_ascii), effort)
    return [Symbol(*s) for s in found]


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
