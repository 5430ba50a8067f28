"""scan39: read Code 39 barcodes out of pictures."""

import os
from typing import Literal, NamedTuple, Union

import numpy as np
import numpy.typing as npt

try:
    from PIL.Image import Image as _PILImage
except ImportError:  # Pillow is optional
    _PILImage = object

Picture = Union[str, os.PathLike[str], bytes, bytearray, memoryview, npt.NDArray[np.uint8],
                _PILImage]
Point = tuple[float, float]

class PictureError(Exception):
    """A picture that cannot be loaded; str() is the command line's message for it."""
    number: int
    """The run-time error number (481 not a picture or damaged, 7 too large, ...)."""
    filename: str | None

class Symbol(NamedTuple):
    """A Code 39 symbol found in a picture."""
    text: str
    position: tuple[Point, Point, Point, Point]
    """Corners in picture pixels: start and end of the top side, end and start of the bottom."""
    angle: float
    """Reading direction in degrees, [0, 360): 0 left to right, 90 top to bottom."""
    lines: int
    """Independent scan lines that agreed on the text."""

def read(image: Picture, *, check_digit: bool = False, full_ascii: bool = False,
         effort: Literal["fast", "thorough"] = "thorough",
         polarity: Literal["dark", "light", "both"] = "both") -> list[Symbol]:
    """Every Code 39 symbol in the picture, each once, in no particular order."""

def scan_box(image: Picture, x1: int, y1: int, x2: int, y2: int) -> str | None:
    """The text under a box dragged from (x1, y1) to (x2, y2), as `scan39 --box` reads it."""
