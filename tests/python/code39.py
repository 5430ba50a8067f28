"""Test pictures: a small Code 39 renderer."""

import numpy as np

# Element digits: 5 narrow bar, 6 wide bar, 0 narrow space, 1 wide space.
PATTERNS = {
    "0": "505160605", "1": "605150506", "2": "506150506", "3": "606150505", "4": "505160506",
    "5": "605160505", "6": "506160505", "7": "505150606", "8": "605150605", "9": "506150605",
    "A": "605051506", "B": "506051506", "C": "606051505", "D": "505061506", "E": "605061505",
    "F": "506061505", "G": "505051606", "H": "605051605", "I": "506051605", "J": "505061605",
    "K": "605050516", "L": "506050516", "M": "606050515", "N": "505060516", "O": "605060515",
    "P": "506060515", "Q": "505050616", "R": "605050615", "S": "506050615", "T": "505060615",
    "U": "615050506", "V": "516050506", "W": "616050505", "X": "515060506", "Y": "615060505",
    "Z": "516060505", "-": "515050606", ".": "615050605", " ": "516050605", "*": "515060605",
    "$": "515151505", "/": "515150515", "+": "515051515", "%": "505151515",
}


def modules(text: str, wide: int = 3) -> list[int]:
    """1 for a dark module, 0 for a light one, start and stop included."""
    out: list[int] = []
    for i, ch in enumerate("*" + text + "*"):
        if i:
            out.append(0)  # inter-character gap
        for d in PATTERNS[ch]:
            out += [1 if d in "56" else 0] * (wide if d in "61" else 1)
    return out


def render(text: str, *, narrow: int = 3, height: int = 60, left: int = 40, top: int = 30,
           size: tuple[int, int] | None = None) -> tuple[np.ndarray, tuple[int, int, int, int]]:
    """A grey picture with the symbol on white, and the bars' (left, right, top, bottom)."""
    row = np.repeat(np.array(modules(text), dtype=np.uint8), narrow)
    h, w = size or (top * 2 + height, left * 2 + row.size)
    picture = np.full((h, w), 255, dtype=np.uint8)
    picture[top:top + height, left:left + row.size] = np.where(row == 1, 0, 255)
    return picture, (left, left + row.size - 1, top, top + height - 1)


def box_across(left: int, right: int, top: int, bottom: int) -> tuple[int, int, int, int]:
    """The box a person drags over such a symbol: margin to margin, a few pixels into the bars."""
    y1 = min(top + 3, bottom)
    return max(0, left - 6), y1, right + 7, y1 + 10
