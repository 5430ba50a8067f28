#!/usr/bin/python3
"""Generates a labelled corpus of photo-like pictures for the whole-picture Code 39 reader.

Every condition gets --count pictures: Code 39 labels rendered at high resolution, then
warped (rotation, perspective, curvature), blurred, lit, made noisy and saved as JPEG (some
PNG); and negatives that hold no Code 39 (other symbologies made by zint, text, textures,
noise, a symbol with a damaged character, half a symbol).

    /usr/bin/python3 bench/reader/make_corpus.py --out build/corpus [--count 40] \
        [--size 640x480] [--seed 39] [--jobs 2] [--only rotation,multi]

DIR/manifest.jsonl holds one object per picture:
    {"file": "rotation/0003.jpg", "condition": "rotation", "texts": ["AB-12"],
     "options": {"check_character": true, "full_ascii": false},   # only when a condition needs one
     "symbols": [{"text": "AB-12", "corners": [[x, y], ...]}]}     # bars, in reading order
"texts" is empty for negatives. The same seed, count and size give the same pictures.
"""

import argparse
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ProcessPoolExecutor

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

ALPHABET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%"

# Nine elements per character, bar first; 1 = wide.
PATTERNS = {
    "0": "000110100", "1": "100100001", "2": "001100001", "3": "101100000",
    "4": "000110001", "5": "100110000", "6": "001110000", "7": "000100101",
    "8": "100100100", "9": "001100100", "A": "100001001", "B": "001001001",
    "C": "101001000", "D": "000011001", "E": "100011000", "F": "001011000",
    "G": "000001101", "H": "100001100", "I": "001001100", "J": "000011100",
    "K": "100000011", "L": "001000011", "M": "101000010", "N": "000010011",
    "O": "100010010", "P": "001010010", "Q": "000000111", "R": "100000110",
    "S": "001000110", "T": "000010110", "U": "110000001", "V": "011000001",
    "W": "111000000", "X": "010010001", "Y": "110010000", "Z": "011010000",
    "-": "010000101", ".": "110000100", " ": "011000100", "$": "010101000",
    "/": "010100010", "+": "010001010", "%": "000101010", "*": "010010100",
}


def check_character(text):
    return ALPHABET[sum(ALPHABET.index(c) for c in text) % 43]


def full_ascii_pairs():
    """ASCII code -> Code 39 characters (one or a pair)."""
    table = {0: "%U", 32: " ", 45: "-", 46: ".", 47: "/O", 58: "/Z", 64: "%V", 96: "%W", 127: "%T"}
    for i in range(1, 27):
        table[i] = "$" + chr(64 + i)
    for i, c in zip(range(27, 32), "ABCDE"):
        table[i] = "%" + c
    for i, c in zip(range(33, 45), "ABCDEFGHIJKL"):
        table[i] = "/" + c
    for i in range(48, 58):
        table[i] = chr(i)
    for i, c in zip(range(59, 64), "FGHIJ"):
        table[i] = "%" + c
    for i in range(65, 91):
        table[i] = chr(i)
    for i, c in zip(range(91, 96), "KLMNO"):
        table[i] = "%" + c
    for i in range(97, 123):
        table[i] = "+" + chr(i - 32)
    for i, c in zip(range(123, 127), "PQRS"):
        table[i] = "%" + c
    return table


FULL_ASCII = full_ascii_pairs()


def element_widths(chars, ratio, gap):
    """Widths in modules, bar first, from start to stop."""
    widths = []
    for n, c in enumerate(chars):
        if n:
            widths.append(gap)
        widths.extend(ratio if b == "1" else 1.0 for b in PATTERNS[c])
    return widths


def font(size, mono=True, bold=False):
    name = "DejaVuSansMono" if mono else "DejaVuSans"
    if bold:
        name += "-Bold"
    try:
        return ImageFont.truetype(f"/usr/share/fonts/truetype/dejavu/{name}.ttf", max(6, int(size)))
    except OSError:
        return ImageFont.load_default()


def grey(rgb):
    r, g, b = rgb[..., 0], rgb[..., 1], rgb[..., 2]
    return 0.299 * r + 0.587 * g + 0.114 * b


# ---------------------------------------------------------------------------------------------
# Labels: a bitmap at SCALE label pixels per picture pixel, plus where its bars are.

SCALE = 4


class Label:
    def __init__(self, image, bars_box, text=None):
        self.image = image  # PIL RGB at SCALE
        self.bars_box = bars_box  # (x0, y0, x1, y1) in label pixels
        self.text = text


def code39_label(rng, chars, x, ratio, gap, quiet, height, paper, ink, human=None,
                 damage=None, cut=None, scratch=None, fence=None, spread=0.0):
    """A paper label holding the symbol `chars` (start and stop included).

    x: narrow module in picture pixels; quiet: quiet zone in modules; height: bars in picture
    pixels. damage: index of a character whose pattern is made invalid. cut: (keep_first,
    fraction) keeps that part of the elements only. scratch: "scratch"/"streak"/"smudge" across
    every row of the bars. fence: put dark marks right at the end of the quiet zones.
    """
    widths = element_widths(chars, ratio, gap)
    if damage is not None:
        start = damage * 10  # nine elements plus a gap per character
        wide = [i for i in range(start, start + 9) if widths[i] > 1.5]
        widths[rng.choice(wide)] = 1.0  # two wide elements: no character has that
    m = x * SCALE
    total = sum(widths) * m
    fence_w = max(2, int(m * 0.8))
    margin_x = quiet * m + (fence_w if fence else 0)  # the clear space is exactly `quiet`
    text_h = 0
    if human:
        text_h = max(10 * SCALE, int(min(height * 0.35, 24) * SCALE))
    margin_top = max(quiet * m * 0.5, 6 * SCALE) if fence is None else quiet * m
    margin_bottom = margin_top + text_h
    w = int(math.ceil(total + 2 * margin_x))
    h = int(math.ceil(height * SCALE + margin_top + margin_bottom))
    img = Image.new("RGB", (w, h), tuple(int(c) for c in paper))
    d = ImageDraw.Draw(img)
    ink_t = tuple(int(c) for c in ink)
    y0, y1 = margin_top, margin_top + height * SCALE
    pos = margin_x
    keep = None
    if cut is not None:
        first, fraction = cut
        n = len(widths)
        k = int(round(n * fraction))
        keep = range(0, k) if first else range(n - k, n)
    for i, wd in enumerate(widths):
        if i % 2 == 0 and (keep is None or i in keep):
            grow = spread * m / 2
            d.rectangle([round(pos - grow), y0, round(pos + wd * m + grow) - 1, y1], fill=ink_t)
        pos += wd * m
    if human:
        f = font(text_h * 0.8)
        tw = d.textlength(human, font=f)
        d.text(((w - tw) / 2, y1 + text_h * 0.1), human, font=f, fill=ink_t)
    if scratch:
        _scratch(rng, d, img, scratch, margin_x, y0, total, y1, m, paper, ink_t)
    if fence:
        # Dark marks right where the quiet zones end: a label border and printed text.
        d.rectangle([0, 0, fence_w - 1, h], fill=ink_t)
        d.rectangle([w - fence_w, 0, w, h], fill=ink_t)
    return Label(img, (margin_x, y0, margin_x + total, y1))


def _scratch(rng, d, img, kind, x0, y0, length, y1, m, paper, ink):
    """A line that crosses every row of the bars, diagonally."""
    a = x0 + rng.uniform(0.1, 0.6) * length
    b = a + rng.choice([-1, 1]) * rng.uniform(0.15, 0.35) * length
    b = min(max(b, x0), x0 + length)
    top, bottom = y0 - 2 * m, y1 + 2 * m
    if kind == "scratch":
        d.line([(a, top), (b, bottom)], fill=tuple(int(c) for c in paper),
               width=max(2, int(m * rng.uniform(1.0, 2.0))))
    elif kind == "streak":
        d.line([(a, top), (b, bottom)], fill=ink, width=max(2, int(m * rng.uniform(0.8, 1.6))))
    else:
        layer = Image.new("L", img.size, 0)
        ImageDraw.Draw(layer).line([(a, top), (b, bottom)], fill=255,
                                   width=max(3, int(m * rng.uniform(2.5, 4.0))))
        layer = layer.filter(ImageFilter.GaussianBlur(m * 1.2))
        tone = Image.new("RGB", img.size, tuple(int(c * 0.5 + 60) for c in paper))
        img.paste(tone, (0, 0), layer.point(lambda v: int(v * 0.85)))


def image_label(rng, image, paper, margin):
    """Any RGB picture (a zint symbol, a text block) on a paper label."""
    w, h = image.size
    lab = Image.new("RGB", (w + 2 * margin, h + 2 * margin), tuple(int(c) for c in paper))
    lab.paste(image, (margin, margin))
    return Label(lab, (margin, margin, margin + w, margin + h))


# ---------------------------------------------------------------------------------------------
# Geometry: label pixels (u, v) -> picture pixels, with curvature, keystone and rotation.


def homography(src, dst):
    a = []
    for (x, y), (u, v) in zip(src, dst):
        a.append([x, y, 1, 0, 0, 0, -u * x, -u * y, -u])
        a.append([0, 0, 0, x, y, 1, -v * x, -v * y, -v])
    _, _, vt = np.linalg.svd(np.array(a, float))
    hm = vt[-1].reshape(3, 3)
    return hm / hm[2, 2]


class Placement:
    """Where a label lands: centre, angle (degrees), scale, keystone, curvature."""

    def __init__(self, label, cx, cy, angle, keystone=0.0, keystone_axis=0, curve=0.0, bend=0.05,
                 wrap=None):
        w, h = label.image.size
        self.hw, self.hh = w / SCALE / 2, h / SCALE / 2
        self.cx, self.cy, self.angle = cx, cy, angle
        self.curve = curve  # half-angle of the cylinder the label is wrapped on, radians
        self.radius = self.hw / math.sin(curve) if curve > 0 else None
        if wrap:
            # The bars' ends turned `wrap` away from the camera; past a right angle the label's
            # margins go round the back, out of sight.
            self.radius = (label.bars_box[2] - label.bars_box[0]) / SCALE / 2 / wrap
            curve = self.curve = min(self.hw / self.radius, math.pi / 2)
        self.bend = bend * self.hh * (1 if curve > 0 else 0)  # the ends' arc, seen from above
        hw, hh = self.hw, self.hh
        if self.radius:
            hw = self.radius * math.sin(curve)
        src = [(-hw, -hh), (hw, -hh), (hw, hh), (-hw, hh)]
        # keystone_axis 0/1: the left/right side is farther, so modules shrink along the
        # symbol; 2/3: the top/bottom is farther, so the bars converge.
        kl, kr, kt, kb = (keystone * (keystone_axis == i) for i in range(4))
        dst = [(-hw * (1 - kt), -hh * (1 - kl)), (hw * (1 - kt), -hh * (1 - kr)),
               (hw * (1 - kb), hh * (1 - kr)), (-hw * (1 - kb), hh * (1 - kl))]
        self.h = homography(src, dst)
        self.hinv = np.linalg.inv(self.h)
        self.sx, self.sy = label.image.size

    def forward(self, u, v):
        """Label pixels -> picture pixels."""
        x = u / SCALE - self.hw
        y = v / SCALE - self.hh
        if self.radius:
            t = x / self.radius
            x = self.radius * np.sin(t)
            y = y + self.bend * (t / self.curve) ** 2
        p = self.h @ np.array([x, y, np.ones_like(x)])
        x, y = p[0] / p[2], p[1] / p[2]
        a = math.radians(self.angle)
        return (self.cx + x * math.cos(a) - y * math.sin(a),
                self.cy + x * math.sin(a) + y * math.cos(a))

    def inverse(self, px, py):
        """Picture pixels -> label pixels (nan where the label is not)."""
        a = math.radians(self.angle)
        dx, dy = px - self.cx, py - self.cy
        x = dx * math.cos(a) + dy * math.sin(a)
        y = -dx * math.sin(a) + dy * math.cos(a)
        q = np.tensordot(self.hinv, np.array([x, y, np.ones_like(x)]), axes=1)
        x, y = q[0] / q[2], q[1] / q[2]
        if self.radius:
            s = x / self.radius
            with np.errstate(invalid="ignore"):
                t = np.where(np.abs(s) <= math.sin(self.curve), np.arcsin(np.clip(s, -1, 1)), np.nan)
            x = self.radius * t
            y = y - self.bend * (t / self.curve) ** 2
        return (x + self.hw) * SCALE, (y + self.hh) * SCALE

    def corners(self):
        xs = np.array([0, self.sx, self.sx, 0], float)
        ys = np.array([0, 0, self.sy, self.sy], float)
        return self.forward(xs, ys)

    def box_corners(self, box):
        x0, y0, x1, y1 = box
        xs, ys = self.forward(np.array([x0, x1, x1, x0], float), np.array([y0, y0, y1, y1], float))
        return [[round(float(a), 1), round(float(b), 1)] for a, b in zip(xs, ys)]


def composite(canvas, label, place, shade=0.0, gloss=None, lit=None):
    """Draws the label into canvas (float HxWx3), 3x3 samples per pixel. gloss: (angle, width,
    strength) of a glossy label's highlight along the cylinder, in radians. lit: a Lighting
    that replaces shade and gloss on a wrapped label."""
    hgt, wid, _ = canvas.shape
    xs, ys = place.corners()
    x0, x1 = max(0, int(np.floor(xs.min())) - 2), min(wid, int(np.ceil(xs.max())) + 2)
    y0, y1 = max(0, int(np.floor(ys.min())) - 2), min(hgt, int(np.ceil(ys.max())) + 2)
    if x0 >= x1 or y0 >= y1:
        return
    lab = np.asarray(label.image, np.float32)
    sub = (np.arange(3) + 0.5) / 3
    gy, gx = np.mgrid[y0:y1, x0:x1].astype(np.float64)
    acc = np.zeros((y1 - y0, x1 - x0, 3), np.float32)
    cov = np.zeros((y1 - y0, x1 - x0), np.float32)
    for oy in sub:
        for ox in sub:
            u, v = place.inverse(gx + ox, gy + oy)
            inside = (u >= 0) & (u < place.sx) & (v >= 0) & (v < place.sy) & np.isfinite(u)
            ui = np.clip(np.nan_to_num(u), 0, place.sx - 1).astype(np.int32)
            vi = np.clip(np.nan_to_num(v), 0, place.sy - 1).astype(np.int32)
            sample = lab[vi, ui]
            if lit is not None and place.radius:
                sample = lit.apply(sample, (np.nan_to_num(u) / SCALE - place.hw) / place.radius)
            elif shade and place.radius:
                # A wrapped label darkens towards its sides.
                t = (np.nan_to_num(u) / SCALE - place.hw) / place.radius
                sample = sample * (1 - shade * (1 - np.cos(t)))[..., None]
                if gloss:
                    g = gloss[2] * np.exp(-0.5 * ((t - gloss[0]) / gloss[1]) ** 2)[..., None]
                    sample = sample * (1 - g) + 255 * g
            acc += np.where(inside[..., None], sample, 0)
            cov += inside
    cov /= 9
    acc /= 9
    region = canvas[y0:y1, x0:x1]
    region[:] = region * (1 - cov[..., None]) + acc


class Lighting:
    """A glossy label on a cylinder under one broad lamp, in linear light. The print is
    Lambertian: it gets cos of the angle between its normal (turned t from the camera round the
    axis) and the lamp, plus an ambient share. The varnish on top mirrors the lamp where the
    normal halves the angle between lamp and camera: a band along the axis whose profile is the
    lamp's own (flat with soft or sharp sides), added to ink and paper alike. The camera clips
    at white and applies its tone curve, so a strong highlight washes the bars out, a weak one
    leaves them bright and flat."""

    GAMMA = 2.2

    def __init__(self, rng, curve):
        self.lamp = rng.uniform(-0.9, 0.9) * curve  # lamp angle from the camera, radians
        self.ambient = rng.uniform(0.15, 0.45)
        self.exposure = rng.uniform(0.9, 1.15)
        self.bands = []  # (centre, half width, softness, strength)
        for n in range(1 + (rng.random() < 0.3)):  # sometimes a second, weaker lamp or window
            centre = self.lamp / 2 if n == 0 else rng.uniform(-0.7, 0.7) * curve
            centre += rng.normal(0, 0.03)
            half = rng.uniform(0.02, 0.2)
            soft = rng.uniform(0.004, 0.12)
            strength = rng.uniform(0.2, 0.85) * (1 if n == 0 else rng.uniform(0.3, 0.6))
            self.bands.append((centre, half, soft, strength))

    def apply(self, sample, t):
        lin = (sample / 255) ** self.GAMMA
        diffuse = self.ambient + (1 - self.ambient) * np.maximum(0, np.cos(t - self.lamp))
        specular = np.zeros_like(t)
        for centre, half, soft, strength in self.bands:
            specular += strength * 0.5 * (1 + np.tanh((half - np.abs(t - centre)) / soft))
        lin = (lin * diffuse[..., None] + specular[..., None]) * self.exposure
        return 255 * np.minimum(lin, 1) ** (1 / self.GAMMA)


# ---------------------------------------------------------------------------------------------
# Backgrounds and clutter.

WORDS = ("LOT BATCH QTY NET WEIGHT ORDER SHIP TO FROM PART No. SERIAL REF DATE EXP MADE IN "
         "HANDLE WITH CARE FRAGILE THIS SIDE UP KEEP DRY Box Carton Pallet item code "
         "Warehouse 12 kg 3.5 2026-05-14 Dept. Invoice").split()


def smooth_noise(rng, h, w, scale):
    small = rng.normal(0, 1, (max(2, h // scale), max(2, w // scale)))
    img = Image.fromarray(((small - small.min()) / (np.ptp(small) + 1e-9) * 255).astype(np.uint8))
    return np.asarray(img.resize((w, h), Image.BICUBIC), np.float32) / 255 - 0.5


def background(rng, w, h, clutter=True):
    kind = rng.choice(["paper", "gradient", "desk", "cardboard"])
    if kind == "cardboard":
        base = np.array([rng.uniform(150, 200), rng.uniform(115, 150), rng.uniform(70, 100)])
    elif kind == "desk":
        base = rng.uniform(40, 200) * np.ones(3) + rng.uniform(-20, 20, 3)
    else:
        base = rng.uniform(170, 245) * np.ones(3) + rng.uniform(-12, 12, 3)
    canvas = np.ones((h, w, 3), np.float32) * base
    canvas += smooth_noise(rng, h, w, rng.integers(40, 160))[..., None] * rng.uniform(10, 40)
    canvas += rng.normal(0, rng.uniform(1, 4), (h, w, 1))  # paper fibre
    if kind == "gradient":
        ang = rng.uniform(0, 2 * math.pi)
        yy, xx = np.mgrid[0:h, 0:w]
        g = ((xx - w / 2) * math.cos(ang) + (yy - h / 2) * math.sin(ang)) / max(w, h)
        canvas += g[..., None] * rng.uniform(40, 100)
    if clutter:
        draw_clutter(rng, canvas, int(rng.integers(2, 8)))
    return np.clip(canvas, 0, 255)


def draw_clutter(rng, canvas, n, region=None):
    h, w, _ = canvas.shape
    img = Image.fromarray(canvas.clip(0, 255).astype(np.uint8))
    d = ImageDraw.Draw(img)
    for _ in range(n):
        col = tuple(int(c) for c in rng.uniform(0, 120, 3))
        x, y = rng.uniform(0, w), rng.uniform(0, h)
        kind = rng.choice(["text", "text", "line", "rect", "blob"])
        if kind == "text":
            words = " ".join(rng.choice(WORDS, int(rng.integers(1, 5))))
            d.text((x, y), words, font=font(rng.uniform(9, 26), mono=bool(rng.integers(2)),
                                             bold=bool(rng.integers(2))), fill=col)
        elif kind == "line":
            d.line([(x, y), (x + rng.uniform(-300, 300), y + rng.uniform(-300, 300))],
                   fill=col, width=int(rng.integers(1, 5)))
        elif kind == "rect":
            d.rectangle([x, y, x + rng.uniform(20, 200), y + rng.uniform(10, 120)],
                        outline=col, width=int(rng.integers(1, 4)))
        else:
            r = rng.uniform(5, 30)
            d.ellipse([x - r, y - r, x + r, y + r], fill=col)
    canvas[:] = np.asarray(img, np.float32)


# ---------------------------------------------------------------------------------------------
# One picture: parameters for every condition.

POSITIVE = ["clean", "rotation", "perspective", "curved", "blur", "narrow", "noise", "jpeg50",
            "low_contrast", "light", "colour", "wide_ratio", "gap", "quiet_zone", "clutter",
            "scratch", "check_character", "full_ascii", "multi", "combined"]
NEGATIVE = ["neg_code128", "neg_ean13", "neg_upca", "neg_i25", "neg_codabar", "neg_code93",
            "neg_code11", "neg_qr", "neg_datamatrix", "neg_text", "neg_texture", "neg_noise",
            "neg_damaged", "neg_half"]
# Several conditions at their limits together, where readers start to part. Listed after the
# others so that each existing condition keeps its seed and pictures.
HARD = ["tiny_blur", "limits", "clutter_dense"]
POSITIVE += HARD
CONDITIONS = POSITIVE[:-len(HARD)] + NEGATIVE + HARD
# As people crop, print and scan: the picture cut to the symbol with no or one module of margin,
# light bars on a dark ground, ink spread or thinned by about 0.3 module, modules of 1.15 px. Then
# what must still read nothing: half a symbol cut by the picture's edge, other symbologies
# reversed. Listed last, again to keep every earlier condition's pictures.
PRINTED = ["tight_crop0", "tight_crop1", "reversed", "ink_spread", "ink_thin", "tiny_modules"]
PRINTED_NEGATIVE = ["neg_edge_half", "neg_reversed_code128", "neg_reversed_code93",
                    "neg_reversed_i25"]
POSITIVE += PRINTED
NEGATIVE += PRINTED_NEGATIVE
CONDITIONS += PRINTED + PRINTED_NEGATIVE
# Harder than `curved` and `noise`: a label wrapped round a narrow bottle, whose ends turn
# 0.9-1.25 rad away so their modules shrink to a third; and a photograph in dim light, where
# few photo-electrons make the noise follow the signal and the exposure leaves little contrast.
STEEP = ["curved_steep", "noise_dim"]
POSITIVE += STEEP
CONDITIONS += STEEP
# A glossy label on a bottle or can, its bars' ends turned up to 63 degrees away: a lamp's
# mirror image across the bars, from faint to nearly white, and Lambert shading that darkens
# towards the edge turned from the lamp.
GLOSSY = ["glossy"]
POSITIVE += GLOSSY
CONDITIONS += GLOSSY
# Grey ink printed through a clustered-dot screen, so bars and spaces carry dots at about a
# module's period or finer, sometimes coarser than a narrow module; sometimes a tinted paper too.
HALFTONE = ["halftone"]
POSITIVE += HALFTONE
CONDITIONS += HALFTONE
# A symbol shown on a phone or monitor and photographed: the screen's pixel grid with RGB
# stripes finer than a module (moiré where it beats with the camera's pixels), keystone, the
# screen's gamma, a glare band. Then other symbologies on a screen, which must read nothing.
SCREENS = ["screen"]
SCREENS_NEGATIVE = ["neg_screen"]
POSITIVE += SCREENS
NEGATIVE += SCREENS_NEGATIVE
CONDITIONS += SCREENS + SCREENS_NEGATIVE

# The picture a phone user takes first: a symbol of 1-3 characters whose bars fill a third to
# two thirds of a larger photo (BIG_SIZE times the picture's sides), so its narrow modules span
# 15-50 pixels; mildly defocused, vignetted, sometimes with its text, turned by quarter turns.
BIG = ["big"]
BIG_SIZE = 5
POSITIVE += BIG
CONDITIONS += BIG

# A separator sheet scanned at 300 dpi whose paper waved in the feeder: the symbol's bars are
# wavy stripes (an S-shaped displacement along the symbol that changes along the bars, so a
# straight line crosses the bars at varying heights and slants), dark blobs touching the bars'
# ends, on a page twice the picture's sides. Then wavy stripes and rules without Code 39, which
# must read nothing. Last, again to keep every earlier condition's pictures.
WARP = ["warp"]
WARP_NEGATIVE = ["neg_wavy"]
WARP_SIZE = 2
POSITIVE += WARP
NEGATIVE += WARP_NEGATIVE
CONDITIONS += WARP + WARP_NEGATIVE

# A page scanned at 300 dpi whose symbol printed thin: modules of 1.3-2.2 pixels, every bar
# 0.15-0.35 module narrower and every space as much wider, so that a narrow bar may hold under a
# pixel of ink. Last, again to keep every earlier condition's pictures.
THIN = ["thin_small"]
POSITIVE += THIN
CONDITIONS += THIN

# Long symbols (40 to 78 characters) stacked on a sheet far less apart than they are long, bars
# 15 to 25 modules tall, small modules and a 2:1 to 2.5:1 ratio: every one must read. Last, to
# keep every earlier condition's pictures.
STACKED = ["stacked"]
STACKED_SIZE = (2560, 960)
POSITIVE += STACKED
CONDITIONS += STACKED

INKS = [(20, 20, 25), (10, 20, 110), (25, 35, 160), (15, 70, 30), (120, 20, 25), (60, 35, 20)]
PAPERS = [(250, 235, 150), (255, 215, 215), (210, 240, 210), (200, 225, 250), (235, 220, 190),
          (255, 200, 140)]


class Scene:
    """What to draw; defaults are the mild baseline every condition starts from."""

    def __init__(self, rng):
        self.angle = rng.uniform(-2, 2) + (180 if rng.random() < 0.1 else 0)
        self.keystone = 0.0
        self.keystone_axis = int(rng.integers(4))
        self.curve = 0.0
        self.blur = rng.uniform(0.2, 0.45)  # picture pixels, the camera's own softness
        self.blur_modules = None  # blur as a fraction of the narrow module
        self.x_range = (2.0, 4.0)
        self.noise = rng.uniform(1, 3)
        self.quality = int(rng.integers(80, 96))
        self.png = rng.random() < 0.15
        self.light = rng.uniform(0.85, 1.0)  # darkest fraction of the light across the picture
        paper_l = rng.uniform(225, 252)
        self.paper = np.array([paper_l, paper_l, paper_l]) + rng.uniform(-6, 4, 3)
        self.ink = np.array(INKS[0]) + rng.uniform(0, 25)
        self.ratio = rng.uniform(2.4, 3.0)
        self.gap = rng.uniform(1.0, 1.5)
        self.quiet = rng.uniform(10, 16)
        self.human = rng.random() < 0.8
        self.clutter = int(rng.integers(1, 6))
        self.fence = None
        self.scratch = None
        self.contrast = None
        self.length = (1, 12)
        self.spread = 0.0  # bars grown (thinned when negative) by this many modules
        self.crop = None  # margin in modules when the picture is cut to the symbol
        self.dim = None  # (photo-electrons at white, read noise in electrons, black, span)
        self.bend = 0.05  # a wrapped label's arc at its ends, as a fraction of its half-height
        self.shade = 0.25  # how much a wrapped label darkens towards its sides
        self.gloss = None
        self.lit = None  # a Lighting for a glossy wrapped label
        self.wrap = None  # angle at the bars' ends of a wrapped label, instead of `curve`'s
        self.screen = None  # a Screen when the label is printed halftoned


def random_text(rng, lo, hi):
    return "".join(rng.choice(list(ALPHABET), int(rng.integers(lo, hi + 1))))


def spec_for(rng, cond):
    s = Scene(rng)
    if cond == "clean":
        s.angle, s.blur, s.noise, s.light = 0.0, 0.25, 1.0, 1.0
        s.png = rng.random() < 0.5
        s.clutter = 0
    elif cond == "rotation":
        s.angle = rng.uniform(0, 360)
    elif cond == "perspective":
        s.keystone = rng.uniform(0.07, 0.12)
        s.angle += rng.uniform(-10, 10)
    elif cond == "curved":
        s.curve = rng.uniform(0.5, 0.9)
    elif cond == "curved_steep":
        # Seen from a little above or below, so the ends arc; sometimes a glossy highlight.
        s.curve = rng.uniform(0.9, 1.25)
        s.bend = rng.uniform(0.05, 0.3) * rng.choice([-1, 1])
        s.shade = rng.uniform(0.25, 0.5)
        if rng.random() < 0.4:
            s.gloss = (rng.uniform(-0.6, 0.6) * s.curve, rng.uniform(0.06, 0.15), rng.uniform(0.3, 0.6))
    elif cond == "glossy":
        # From a wide can, where the bars' ends turn 30 degrees away, to a narrow bottle, where
        # they turn 63 and the outer modules shrink to under a half; held a little above or below
        # the camera, sometimes tilted towards it.
        s.wrap = rng.uniform(0.5, 1.1)
        s.curve = s.wrap
        s.bend = rng.uniform(0.0, 0.25) * rng.choice([-1, 1])
        if rng.random() < 0.5:
            s.keystone, s.keystone_axis = rng.uniform(0.02, 0.08), int(rng.integers(2, 4))
        s.lit = Lighting(rng, s.wrap)
    elif cond == "halftone":
        s.screen = Screen(rng)
        s.x_range = (1.6, 3.5)
        s.paper = np.array([248.0, 248.0, 244.0]) + rng.uniform(-8, 4, 3)
    elif cond == "big":
        s.angle = float(rng.choice([0, 90, 180, 270])) + rng.uniform(-3, 3)
        s.blur_modules = rng.uniform(0.05, 0.2)
        s.light = rng.uniform(0.6, 0.85)
        s.quality, s.png = 85, False
        s.human = rng.random() < 0.5
        s.x_range = (1.0, 1000.0)
    elif cond == "noise_dim":
        # The camera's gain stretches a weak exposure: a lifted black, a short span.
        s.dim = (rng.uniform(30, 150), rng.uniform(2, 5), rng.uniform(15, 45), rng.uniform(110, 170))
        s.noise = 0.0
    elif cond == "blur":
        s.blur_modules = rng.uniform(0.45, 0.6)
    elif cond == "narrow":
        s.x_range = (1.3, 1.6)
        s.blur = 0.25
    elif cond == "noise":
        s.noise = rng.uniform(8, 14)
    elif cond == "jpeg50":
        s.quality, s.png = 50, False
    elif cond == "low_contrast":
        s.contrast = rng.uniform(55, 65)
    elif cond == "light":
        s.light = 0.5
    elif cond == "colour":
        while True:
            s.paper = np.array(PAPERS[rng.integers(len(PAPERS))]) + rng.uniform(-10, 0, 3)
            s.ink = np.array(INKS[rng.integers(1, len(INKS))]) + rng.uniform(0, 30, 3)
            if grey(s.paper) - grey(s.ink) > 90:
                break
    elif cond == "wide_ratio":
        s.ratio = rng.choice([2.0, 2.0, 2.2, 2.5, 2.8, 3.0, 3.0])
    elif cond == "gap":
        s.gap = rng.uniform(1.0, 3.0)
    elif cond == "quiet_zone":
        s.quiet = rng.uniform(5.0, 6.0)
        s.fence = True
    elif cond == "clutter":
        s.human = True
        s.clutter = int(rng.integers(10, 25))
    elif cond == "scratch":
        s.scratch = rng.choice(["scratch", "streak", "smudge"])
    elif cond == "tiny_blur":
        s.x_range = (1.3, 1.4)
        s.blur_modules = rng.uniform(0.55, 0.6)
    elif cond == "limits":
        s.angle = rng.uniform(0, 360)
        s.keystone = rng.uniform(0.09, 0.11)
        s.blur_modules = rng.uniform(0.55, 0.6)
        s.contrast = rng.uniform(58, 62)
        s.light = 0.5
        s.quality, s.png = 50, False
    elif cond == "clutter_dense":
        s.angle = rng.uniform(0, 360)
        s.human = True
        s.clutter = int(rng.integers(30, 50))
    elif cond in ("tight_crop0", "tight_crop1"):
        s.angle = 180.0 if rng.random() < 0.2 else 0.0
        s.crop = 0 if cond == "tight_crop0" else 1
        s.quiet = s.crop
        s.human = False
        s.clutter = 0
    elif cond == "reversed":
        s.angle = rng.uniform(0, 360) if rng.random() < 0.3 else s.angle
        s.paper, s.ink = s.ink + rng.uniform(0, 30), s.paper
    elif cond in ("ink_spread", "ink_thin"):
        s.spread = rng.uniform(0.25, 0.35) * (1 if cond == "ink_spread" else -1)
        s.ratio = rng.uniform(2.0, 3.0)
        s.x_range = (2.0, 3.5)
    elif cond == "screen":
        s.keystone = rng.uniform(0.0, 0.08)
        s.angle = rng.uniform(-8, 8) + (90 if rng.random() < 0.2 else 0)
        s.x_range = (2.0, 5.0)
        s.human = False
        s.clutter = 0
        s.png = rng.random() < 0.3
    elif cond == "tiny_modules":
        s.x_range = (1.11, 1.16)
        s.angle = float(rng.choice([0, 90, 180, 270])) + rng.uniform(-1, 1)
        s.blur = 0.25
    elif cond == "combined":
        # A hand-held photograph: always turned, tilted, soft, flat and unevenly lit; sometimes
        # also curved, noisy, compressed or in colour.
        core = ["rotation", "perspective", "blur", "contrast", "light"]
        extra = ["curved", "noise", "jpeg", "colour"]
        for m in core + list(rng.choice(extra, int(rng.integers(0, 4)), replace=False)):
            if m == "rotation":
                s.angle = rng.uniform(0, 360)
            elif m == "perspective":
                s.keystone = rng.uniform(0.03, 0.06)
            elif m == "curved":
                s.curve = rng.uniform(0.3, 0.5)
            elif m == "blur":
                s.blur_modules = rng.uniform(0.25, 0.4)
            elif m == "noise":
                s.noise = rng.uniform(4, 7)
            elif m == "jpeg":
                s.quality, s.png = int(rng.integers(60, 75)), False
            elif m == "contrast":
                s.contrast = rng.uniform(90, 120)
            elif m == "light":
                s.light = rng.uniform(0.65, 0.8)
            else:  # coloured paper and ink instead of grey ones
                s.contrast = None
                s.paper = np.array(PAPERS[rng.integers(len(PAPERS))], float)
                s.ink = np.array(INKS[rng.integers(1, len(INKS))], float)
    if s.contrast is not None:
        mid = rng.uniform(120, 160)
        s.paper = np.ones(3) * (mid + s.contrast / 2)
        s.ink = np.ones(3) * (mid - s.contrast / 2)
    return s


def make_symbol_label(rng, s, data, x, damage=None, cut=None):
    chars = "*" + data + "*"
    length_px = (sum(element_widths(chars, s.ratio, s.gap))) * x
    height = float(np.clip(length_px * rng.uniform(0.2, 0.45), 28, 110))
    human = ("*" + data + "*") if s.human else None
    label = code39_label(rng, chars, x, s.ratio, s.gap, s.quiet, height, s.paper, s.ink,
                         human=human, damage=damage, cut=cut, scratch=s.scratch, fence=s.fence,
                         spread=s.spread)
    if s.screen is not None:
        label.image = s.screen.apply(rng, label.image, x, s.paper, s.ink)
    return label


class Screen:
    """A clustered-dot halftone: solid ink dots on a rotated square grid whose size follows the
    tone. The symbol's ink is a mid to dark grey (so its bars are dots merged to a mesh), the
    paper sometimes a light tint (isolated dots in the spaces)."""

    def __init__(self, rng):
        self.angle = rng.choice([15.0, 45.0, 75.0, 0.0]) + rng.uniform(-5, 5)
        # Dots per narrow module; under 1 the screen is coarser than a narrow bar.
        self.per_module = float(np.exp(rng.uniform(np.log(0.8), np.log(5.0))))
        self.ink_tone = rng.uniform(0.5, 0.85)
        self.paper_tone = rng.uniform(0.04, 0.2) if rng.random() < 0.4 else 0.0
        self.solid = np.array(INKS[int(rng.integers(0, 3))], float) * rng.uniform(0.5, 1.0)
        self.gain = rng.uniform(0.0, 0.6)  # ink spreading round each dot, in label pixels

    def apply(self, rng, image, x, paper, ink):
        lab = np.asarray(image, np.float32)
        h, w, _ = lab.shape
        # Where the drawing is ink (1) or paper (0), antialiased edges in between.
        frac = np.clip((grey(paper) - grey(lab)) / max(grey(paper) - grey(ink), 1), 0, 1)
        tone = self.paper_tone + (self.ink_tone - self.paper_tone) * frac
        period = max(2.2, x * SCALE / self.per_module)
        a = math.radians(self.angle)
        yy, xx = np.mgrid[0:h, 0:w].astype(np.float64) + 0.5
        u = (xx * math.cos(a) + yy * math.sin(a)) / period + rng.uniform(0, 1)
        v = (-xx * math.sin(a) + yy * math.cos(a)) / period + rng.uniform(0, 1)
        spot = 0.5 - (np.cos(2 * np.pi * u) + np.cos(2 * np.pi * v)) / 4
        dot = np.clip((tone - spot) * period / 2 + 0.5 + self.gain / 2, 0, 1)
        out = paper * (1 - dot[..., None]) + self.solid * dot[..., None]
        return Image.fromarray(out.clip(0, 255).round().astype(np.uint8))


def symbol_modules(data, s):
    return sum(element_widths("*" + data + "*", s.ratio, s.gap)) + 2 * s.quiet


def place_labels(rng, labels, w, h, s, angles):
    """Positions every label inside the picture without overlaps; None when they do not fit."""
    placed, boxes = [], []
    for label, angle in zip(labels, angles):
        for _ in range(60):
            lw, lh = label.image.size[0] / SCALE, label.image.size[1] / SCALE
            r = math.hypot(lw, lh) / 2
            if 2 * r > min(w, h) * 0.98 and len(labels) > 1:
                return None
            cx = rng.uniform(min(r, w / 2), max(w - r, w / 2))
            cy = rng.uniform(min(r, h / 2), max(h - r, h / 2))
            p = Placement(label, cx, cy, angle, s.keystone, s.keystone_axis, s.curve, s.bend,
                          s.wrap)
            xs, ys = p.corners()
            if xs.min() < 1 or ys.min() < 1 or xs.max() > w - 1 or ys.max() > h - 1:
                continue
            box = (xs.min(), ys.min(), xs.max(), ys.max())
            if any(box[0] < b[2] and b[0] < box[2] and box[1] < b[3] and b[1] < box[3]
                   for b in boxes):
                continue
            placed.append(p)
            boxes.append(box)
            break
        else:
            return None
    return placed


def photographed_screen(rng, canvas, x, angle):
    """The canvas as a lit screen photographed: each screen pixel three vertical RGB stripes with
    dark gaps, pitch a half to a fifth of the module `x`, the grid turned with the content by
    `angle` (a little off); then the screen's gamma and a glare band across it."""
    h, w, _ = canvas.shape
    pitch = x / rng.uniform(2.0, 5.0)
    a = math.radians(angle + rng.uniform(-1.5, 1.5))
    fill = rng.uniform(0.6, 0.9)
    ss = 3
    acc = np.zeros((h, w, 3), np.float32)
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    for j in range(ss):
        for i in range(ss):
            px, py = xx + (i + 0.5) / ss, yy + (j + 0.5) / ss
            u = (px * math.cos(a) + py * math.sin(a)) / pitch
            v = (-px * math.sin(a) + py * math.cos(a)) / pitch
            fu, fv = np.mod(u, 1.0), np.mod(v, 1.0)
            lit = fv < fill
            for c in range(3):
                acc[..., c] += ((fu >= c / 3) & (fu < c / 3 + fill / 3) & lit)
    mask = acc / (ss * ss) * (3 / fill) / fill
    out = canvas * (0.15 + 0.85 * mask)
    gamma = rng.uniform(0.6, 1.6)
    out = 255 * (np.clip(out, 0, 255) / 255) ** gamma
    ga = rng.uniform(0, math.pi)
    d = (xx - rng.uniform(0, w)) * math.cos(ga) + (yy - rng.uniform(0, h)) * math.sin(ga)
    out += rng.uniform(20, 90) * np.exp(-(d / rng.uniform(15, 60)) ** 2)[..., None]
    return out.astype(np.float32)


def finish(rng, canvas, s, x):
    """Light, blur, noise: the camera."""
    h, w, _ = canvas.shape
    ang = rng.uniform(0, 2 * math.pi)
    yy, xx = np.mgrid[0:h, 0:w]
    g = ((xx - w / 2) * math.cos(ang) + (yy - h / 2) * math.sin(ang))
    g = (g - g.min()) / (np.ptp(g) + 1e-9)
    canvas *= (1 - (1 - s.light) * g)[..., None]
    sigma = s.blur
    if s.blur_modules is not None:
        sigma = max(sigma, s.blur_modules * x)
    img = Image.fromarray(canvas.clip(0, 255).astype(np.uint8))
    img = img.filter(ImageFilter.GaussianBlur(sigma))
    out = np.asarray(img, np.float32)
    if s.dim is not None:
        # Shot noise on the luminance (the sensor counts photons), read noise on top; colour
        # follows the luminance so the noise is mostly grey, as after demosaicing.
        full, read, black, span = s.dim
        lum = np.maximum(grey(out), 0.5) / 255
        electrons = rng.poisson(lum * full) + rng.normal(0, read, lum.shape)
        out = black + out / 255 * span * (electrons / (lum * full))[..., None]
    out = out + rng.normal(0, s.noise, out.shape) * 0.6 + rng.normal(0, s.noise, out.shape[:2])[..., None] * 0.8
    return Image.fromarray(out.clip(0, 255).round().astype(np.uint8))


def choose_x(rng, s, data, w, h, rotated, multi=1):
    modules = symbol_modules(data, s)
    room = (min(w, h) if rotated else w) * (0.9 if multi == 1 else 0.55)
    fit = room / modules
    lo, hi = s.x_range
    if fit < lo:
        return None
    return rng.uniform(lo, min(hi, fit))


def positive(rng, cond, w, h):
    s = spec_for(rng, cond)
    options = None
    if cond == "multi":
        n = int(rng.integers(2, 5))
        s.x_range = (2.0, 3.0)
        angles = rng.uniform(0, 360, n) if rng.random() < 0.7 else np.full(n, rng.uniform(-3, 3))
    else:
        n = 1
        angles = [s.angle]
    for _ in range(200):
        texts, encoded = [], []
        for _ in range(n):
            hi = 12 if n == 1 else [12, 10, 7, 5][n - 1]
            if cond == "check_character":
                data = random_text(rng, 1, 11)
                enc = data + check_character(data)
            elif cond == "full_ascii":
                data = "".join(chr(c) for c in rng.integers(32, 127, int(rng.integers(1, 7))))
                if all(len(FULL_ASCII[ord(c)]) == 1 for c in data):
                    data += chr(int(rng.integers(97, 123)))
                enc = "".join(FULL_ASCII[ord(c)] for c in data)
                if len(enc) > 12:
                    continue
            elif cond == "big":
                data = random_text(rng, 1, 3)
                enc = data
            else:
                data = random_text(rng, 1, hi)
                enc = data
            texts.append(data)
            encoded.append(enc)
        if len(texts) < n:
            continue
        rotated = any(abs(((a + 90) % 180) - 90) > 3 for a in angles)
        xs = [choose_x(rng, s, e, w, h, rotated, n) for e in encoded]
        if any(x is None for x in xs):
            continue
        if cond == "big":  # a third to two thirds of the picture's side along the symbol
            side = min(w, h) if rotated else w
            xs = [rng.uniform(1 / 3, 2 / 3) * side / (symbol_modules(e, s) - 2 * s.quiet)
                  for e in encoded]
        if s.crop is not None:
            return tight_crop(rng, s, encoded[0], xs[0])
        labels = [make_symbol_label(rng, s, e, x) for e, x in zip(encoded, xs)]
        placed = place_labels(rng, labels, w, h, s, angles)
        if placed:
            break
    else:
        raise RuntimeError(f"cannot place {cond}")
    canvas = background(rng, w, h, clutter=False)
    draw_clutter(rng, canvas, s.clutter)
    symbols = []
    for label, p, t in zip(labels, placed, texts):
        composite(canvas, label, p, shade=s.shade if s.curve else 0.0, gloss=s.gloss, lit=s.lit)
        symbols.append({"text": t, "corners": p.box_corners(label.bars_box)})
    if cond == "screen":
        canvas = photographed_screen(rng, canvas, min(xs), angles[0])
    if cond == "check_character":
        options = {"check_character": True}
    elif cond == "full_ascii":
        options = {"full_ascii": True}
    return finish(rng, canvas, s, min(xs)), s, texts, options, symbols


ZINT = {"neg_code128": ("CODE128", None), "neg_ean13": ("EANX", 12), "neg_upca": ("UPCA", 11),
        "neg_i25": ("C25INTER", None), "neg_codabar": ("CODABAR", None),
        "neg_code93": ("CODE93", None), "neg_code11": ("CODE11", None),
        "neg_qr": ("QRCODE", None), "neg_datamatrix": ("DATAMATRIX", None)}
# Light bars on a dark ground with dark quiet zones: the same symbologies, printed reversed.
REVERSED = {"neg_reversed_code128": "neg_code128", "neg_reversed_code93": "neg_code93",
            "neg_reversed_i25": "neg_i25"}
ZINT.update({k: ZINT[v] for k, v in REVERSED.items()})


def zint_data(rng, cond):
    cond = REVERSED.get(cond, cond)
    digits = "0123456789"
    if cond in ("neg_ean13", "neg_upca"):
        return "".join(rng.choice(list(digits), ZINT[cond][1]))
    if cond == "neg_i25":
        return "".join(rng.choice(list(digits), 2 * int(rng.integers(2, 8))))
    if cond == "neg_codabar":
        return (rng.choice(list("ABCD")) + "".join(rng.choice(list(digits + "-$:/.+"),
                int(rng.integers(3, 12)))) + rng.choice(list("ABCD")))
    if cond == "neg_code11":
        return "".join(rng.choice(list(digits + "-"), int(rng.integers(3, 12))))
    if cond in ("neg_code128", "neg_code93"):
        # Code 39's own alphabet: the cases a lax reader could mistake.
        return random_text(rng, 1, 12).strip() or "A"
    return "".join(rng.choice(list("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefgh -./:"),
                              int(rng.integers(4, 40)))).strip() or "X"


def zint_image(cond, data, scale, tmp):
    name = ZINT[cond][0]
    path = os.path.join(tmp, "z.png")
    extra = ["--reverse", "--quietzones"] if cond in REVERSED else []
    subprocess.run(["zint", "-b", name, "-d", data, "--scale", str(scale / 2), "-o", path] + extra,
                   check=True, capture_output=True)
    with Image.open(path) as im:
        return im.convert("RGB")


def negative(rng, cond, w, h, tmp):
    s = spec_for(rng, "rotation" if rng.random() < 0.5 else "clean")
    s.clutter = int(rng.integers(0, 6))
    canvas = background(rng, w, h, clutter=False)
    label = None
    shown = cond
    if cond == "neg_screen":
        shown = str(rng.choice(["neg_code128", "neg_code93", "neg_i25", "neg_codabar",
                                "neg_ean13", "neg_code11"]))
    if shown in ZINT:
        for _ in range(20):
            img = zint_image(shown, zint_data(rng, shown), SCALE, tmp)
            module = rng.uniform(1.5, 4.0) if shown not in ("neg_qr", "neg_datamatrix") else rng.uniform(2.5, 6)
            fit = min(w, h) * 0.8 / (max(img.size) / SCALE)
            module = min(module, fit)
            img = img.resize((max(1, int(img.size[0] * module)), max(1, int(img.size[1] * module))),
                             Image.NEAREST)
            label = image_label(rng, img, s.paper, int(10 * SCALE * module))
            if max(label.image.size) / SCALE < min(w, h) * 0.95:
                break
    elif cond == "neg_text":
        lines = [" ".join(rng.choice(WORDS, int(rng.integers(2, 7)))) for _ in range(int(rng.integers(2, 8)))]
        if rng.random() < 0.5:
            lines.append("*" + random_text(rng, 3, 10) + "*")  # the human-readable text alone
        size = rng.uniform(10, 26) * SCALE
        f = font(size, mono=bool(rng.integers(2)), bold=bool(rng.integers(2)))
        img = Image.new("RGB", (int(size * 22), int(size * 1.3 * len(lines))), tuple(int(c) for c in s.paper))
        d = ImageDraw.Draw(img)
        for i, line in enumerate(lines):
            d.text((0, i * size * 1.3), line, font=f, fill=tuple(int(c) for c in s.ink))
        label = image_label(rng, img, s.paper, int(8 * SCALE))
    elif cond == "neg_texture":
        canvas[:] = texture(rng, w, h)
    elif cond == "neg_noise":
        canvas[:] = rng.uniform(0, 255) + rng.normal(0, rng.uniform(20, 90), (h, w, 1))
        if rng.random() < 0.5:
            canvas[:] = np.asarray(Image.fromarray(canvas.clip(0, 255).astype(np.uint8)).filter(
                ImageFilter.GaussianBlur(rng.uniform(0.5, 2))), np.float32)
    elif cond == "neg_edge_half":
        return edge_half(rng, s, canvas, w, h)
    else:
        for _ in range(100):
            data = random_text(rng, 2 if cond == "neg_damaged" else 4, 12)
            x = choose_x(rng, s, data, w, h, abs(s.angle) > 3)
            if x is not None:
                break
        if cond == "neg_damaged":
            label = make_symbol_label(rng, s, data, x, damage=int(rng.integers(1, len(data) + 1)))
        else:
            label = make_symbol_label(rng, s, data, x, cut=(bool(rng.integers(2)), rng.uniform(0.35, 0.65)))
    draw_clutter(rng, canvas, s.clutter)
    if label is not None:
        placed = None
        for _ in range(20):
            placed = place_labels(rng, [label], w, h, s, [s.angle])
            if placed:
                break
            s.angle = rng.uniform(-3, 3)
        if placed:
            composite(canvas, label, placed[0])
    if cond == "neg_screen":
        canvas = photographed_screen(rng, canvas, rng.uniform(2.0, 4.0), s.angle)
    return finish(rng, canvas, s, 2.0), s, [], None, []


def edge_half(rng, s, canvas, w, h):
    """A whole symbol placed so that the picture's left or right edge cuts its bars, keeping
    30-70% of them; half the time the cut falls in a gap between two characters, so that the
    part inside holds only whole characters."""
    s.angle = rng.uniform(-2, 2) + (180 if rng.random() < 0.3 else 0)
    s.quiet = rng.uniform(6, 12)
    for _ in range(100):
        data = random_text(rng, 4, 12)
        x = choose_x(rng, s, data, w, h, False)
        if x is not None:
            break
    label = make_symbol_label(rng, s, data, x)
    modules = element_widths("*" + data + "*", s.ratio, s.gap)
    total = sum(modules)
    fraction = rng.uniform(0.3, 0.7)
    if rng.random() < 0.5:  # in the gap nearest that fraction
        gaps = [(sum(modules[:i]) + modules[i] / 2) / total for i in range(9, len(modules), 10)]
        fraction = min(gaps, key=lambda g: abs(g - fraction))
    u = label.bars_box[0] + fraction * (label.bars_box[2] - label.bars_box[0])
    p = Placement(label, 0, 0, s.angle)
    along = (u / SCALE - p.hw) * math.cos(math.radians(s.angle))
    p.cx = (0 if rng.random() < 0.5 else w) - along
    p.cy = rng.uniform(p.hh + 2, max(p.hh + 2, h - p.hh - 2))
    draw_clutter(rng, canvas, s.clutter)
    composite(canvas, label, p)
    return finish(rng, canvas, s, x), s, [], None, []


def tight_crop(rng, s, data, x):
    """The picture cut to the label: the symbol's margin is s.crop modules left and right, and
    0-4 pixels above and below the bars."""
    label = make_symbol_label(rng, s, data, x)
    x0, y0, x1, y1 = label.bars_box
    pad = rng.uniform(0, 4) * SCALE
    top, bottom = int(y0 - pad), int(math.ceil(y1 + pad))
    width = int(math.ceil(label.image.size[0] / SCALE)) * SCALE
    img = Image.new("RGB", (width, bottom - top), tuple(int(c) for c in s.paper))
    img.paste(label.image.crop((0, top, label.image.size[0], bottom)), (0, 0))
    label = Label(img, (x0, y0 - top, x1, y1 - top))
    w, h = img.size[0] // SCALE, img.size[1] // SCALE
    p = Placement(label, w / 2, h / 2, s.angle)
    canvas = np.ones((h, w, 3), np.float32) * s.paper
    composite(canvas, label, p)
    symbols = [{"text": data, "corners": p.box_corners(label.bars_box)}]
    return finish(rng, canvas, s, x), s, [data], None, symbols


def texture(rng, w, h):
    kind = rng.choice(["stripes", "wood", "checker", "fabric", "grille"])
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    ang = rng.uniform(0, math.pi)
    t = xx * math.cos(ang) + yy * math.sin(ang)
    if kind == "stripes":  # periodic bars: the closest thing to a barcode
        period = rng.uniform(4, 30)
        duty = rng.uniform(0.2, 0.7)
        v = ((t % period) / period < duty).astype(np.float32)
        if rng.random() < 0.5:  # irregular bars of two widths
            widths = rng.choice([1, 1, 2.5], 400) * rng.uniform(2, 6)
            edges = np.cumsum(widths)
            v = (np.searchsorted(edges, t % edges[-1]) % 2).astype(np.float32)
    elif kind == "wood":
        v = 0.5 + 0.5 * np.sin(t / rng.uniform(3, 12) + 4 * smooth_noise(rng, h, w, 60))
    elif kind == "checker":
        p = rng.uniform(4, 40)
        v = ((np.floor(xx / p) + np.floor(yy / p)) % 2).astype(np.float32)
    elif kind == "fabric":
        v = 0.5 + 0.25 * np.sin(xx / rng.uniform(1.5, 4)) + 0.25 * np.sin(yy / rng.uniform(1.5, 4))
    else:
        p = rng.uniform(6, 20)
        v = ((xx % p) < p * 0.3).astype(np.float32) + ((yy % p) < p * 0.3)
        v = np.clip(v, 0, 1)
    lo, hi = rng.uniform(0, 100), rng.uniform(150, 255)
    return (lo + (hi - lo) * v)[..., None] * np.ones(3)


class Waved(Placement):
    """A placement whose picture is bent after it, in two shears that cannot fold the paper:
    first across the bars by a wave along them whose phase drifts along the symbol (the bars
    become wavy stripes, each slanting differently at a given height), then along the bars by
    an S curve along the symbol (the rows bow)."""

    def __init__(self, base, amp, period, phase, drift, sag):
        self.base = base
        self.amp, self.period, self.phase, self.drift, self.sag = amp, period, phase, drift, sag
        self.sx, self.sy, self.radius = base.sx, base.sy, None
        self.hw, self.hh = base.hw, base.hh
        a = math.radians(base.angle)
        self.c, self.s = math.cos(a), math.sin(a)

    def frame(self, x, y):
        dx, dy = x - self.base.cx, y - self.base.cy
        return dx * self.c + dy * self.s, -dx * self.s + dy * self.c  # across, along the bars

    def unframe(self, a, b):
        return self.base.cx + a * self.c - b * self.s, self.base.cy + a * self.s + b * self.c

    def across(self, a, b):
        return self.amp * np.sin(2 * np.pi * b / self.period + self.phase + self.drift * a / self.hw)

    def forward(self, u, v):
        a, b = self.frame(*self.base.forward(u, v))
        a = a + self.across(a, b)
        b = b + self.sag * np.sin(np.pi * a / self.hw)
        return self.unframe(a, b)

    def inverse(self, px, py):
        a2, b2 = self.frame(px, py)
        b = b2 - self.sag * np.sin(np.pi * a2 / self.hw)
        a = a2
        for _ in range(8):  # a module stretches by a fifth at most: this converges
            a = a2 - self.across(a, b)
        return self.base.inverse(*self.unframe(a, b))


def padded(label, pad, paper):
    """The label with `pad` label pixels more paper above and below, for the blobs."""
    w, h = label.image.size
    img = Image.new("RGB", (w, h + 2 * pad), tuple(int(c) for c in paper))
    img.paste(label.image, (0, pad))
    x0, y0, x1, y1 = label.bars_box
    return Label(img, (x0, y0 + pad, x1, y1 + pad), label.text)


def wave(rng, height, length):
    """A bend for bars `height` tall on a symbol `length` long (picture pixels), as a sheet
    that waved in the feeder: the bars slant up to 22-34 degrees, the wave's period 0.6-1.6 bar
    heights, its phase drifting by 2-5 radians along the symbol (modules along a straight line
    stretch and shrink by up to a third), the rows bowing by 0.15-0.35 of the bars' height."""
    period = rng.uniform(0.6, 1.6) * height
    amp = math.tan(math.radians(rng.uniform(22, 34))) * period / (2 * math.pi)
    drift = rng.uniform(2.0, 5.0) * rng.choice([-1, 1])
    # The modules along a straight line stretch by at most amp * drift / half length.
    drift = math.copysign(min(abs(drift), 0.3 * length / 2 / amp), drift)
    return dict(amp=amp, period=period, phase=rng.uniform(0, 2 * math.pi), drift=drift,
                sag=rng.uniform(0.15, 0.35) * height * rng.choice([-1, 1]))


def blobs(rng, img, y0, y1, x0, x1, ink):
    """Dark blobs (toner, a punched hole's shadow) touching the bars' top or bottom ends."""
    d = ImageDraw.Draw(img)
    for _ in range(int(rng.integers(1, 5))):
        r = rng.uniform(0.04, 0.15) * (y1 - y0)
        cx = rng.uniform(x0, x1)
        cy = y0 - r * 0.8 if rng.random() < 0.5 else y1 + r * 0.8
        rx = r * rng.uniform(0.7, 1.5)
        d.ellipse([cx - rx, cy - r, cx + rx, cy + r], fill=tuple(int(c) for c in ink))


def sheet(rng, w, h, s):
    """A scanned sheet of paper: nearly white, a few lines of text."""
    paper = rng.uniform(232, 252)
    canvas = np.ones((h, w, 3), np.float32) * (paper + rng.uniform(-3, 2, 3))
    canvas += smooth_noise(rng, h, w, 200)[..., None] * rng.uniform(2, 8)
    s.paper = canvas[h // 2, w // 2].copy()
    s.angle = rng.uniform(-1.5, 1.5) + (180 if rng.random() < 0.15 else 0)
    s.blur = rng.uniform(0.4, 0.8)
    s.noise = rng.uniform(1.5, 4.5)
    s.light = rng.uniform(0.92, 1.0)
    s.ink = np.array(INKS[0]) + rng.uniform(0, 30)
    s.clutter = 0
    draw_clutter(rng, canvas, int(rng.integers(0, 4)))
    return canvas


def warp_sheet(rng, w, h):
    s = spec_for(rng, "clean")
    canvas = sheet(rng, w, h, s)
    for _ in range(200):
        data = random_text(rng, 1, 12)
        x = rng.uniform(2.5, 4.5)
        if symbol_modules(data, s) * x < w * 0.8:
            break
    chars = "*" + data + "*"
    length = sum(element_widths(chars, s.ratio, s.gap)) * x
    height = rng.uniform(0.15, 0.45) * length
    height = float(np.clip(height, 80, 0.4 * h))
    label = code39_label(rng, chars, x, s.ratio, s.gap, s.quiet, height, s.paper, s.ink,
                         human=("*" + data + "*") if rng.random() < 0.6 else None)
    label = padded(label, int(0.3 * height * SCALE), s.paper)
    x0, y0, x1, y1 = label.bars_box
    if rng.random() < 0.8:
        blobs(rng, label.image, y0, y1, x0, x1, s.ink)
    bend = wave(rng, height, length)
    for _ in range(60):
        base = Placement(label, rng.uniform(w * 0.3, w * 0.7), rng.uniform(h * 0.25, h * 0.75),
                         s.angle)
        p = Waved(base, **bend)
        xs, ys = p.corners()
        if xs.min() >= 1 and ys.min() >= 1 and xs.max() <= w - 1 and ys.max() <= h - 1:
            break
    else:
        raise RuntimeError("cannot place warp")
    composite(canvas, label, p)
    symbols = [{"text": data, "corners": p.box_corners(label.bars_box)}]
    s.png = rng.random() < 0.4
    return finish(rng, canvas, s, x), s, [data], None, symbols


def thin_sheet(rng, w, h):
    """A sheet with a few marks and a symbol printed thin (`thin_small`), wide to narrow 2-2.5."""
    s = spec_for(rng, "clean")
    canvas = sheet(rng, w, h, s)
    draw_clutter(rng, canvas, int(rng.integers(2, 6)))
    s.spread = -rng.uniform(0.15, 0.35)
    s.ratio = rng.uniform(2.0, 2.5)
    s.gap = rng.uniform(1.0, 1.3)
    s.quiet = rng.uniform(10, 14)
    s.blur = rng.uniform(0.3, 0.55)
    s.noise = rng.uniform(1, 3)
    for _ in range(200):
        data = random_text(rng, 1, 12)
        x = rng.uniform(1.3, 2.2)
        if symbol_modules(data, s) * x < w * 0.85:
            break
    label = make_symbol_label(rng, s, data, x)
    placed = place_labels(rng, [label], w, h, s, [s.angle])
    if placed is None:
        raise RuntimeError("cannot place thin_small")
    composite(canvas, label, placed[0])
    symbols = [{"text": data, "corners": placed[0].box_corners(label.bars_box)}]
    return finish(rng, canvas, s, x), s, [data], None, symbols


def stacked_sheet(rng, w, h):
    s = spec_for(rng, "clean")
    canvas = sheet(rng, w, h, s)
    s.angle = rng.uniform(-0.6, 0.6)  # long symbols: a scanner's skew, little more
    x = rng.uniform(1.8, 2.3)
    s.ratio = rng.uniform(2.0, 2.5)
    count = int(rng.integers(4, 7))
    pitch = rng.uniform(120, (h - 120) / count)
    texts, symbols = [], []
    for i in range(count):
        for _ in range(200):
            data = random_text(rng, 40, 78)
            if symbol_modules(data, s) * x < w * 0.95:
                break
        height = x * rng.uniform(15, 25)
        label = code39_label(rng, "*" + data + "*", x, s.ratio, s.gap, s.quiet, height, s.paper,
                             s.ink, human=("*" + data + "*") if rng.random() < 0.5 else None)
        p = Placement(label, w / 2 + rng.uniform(-20, 20), 60 + (i + 0.5) * pitch, s.angle)
        composite(canvas, label, p)
        texts.append(data)
        symbols.append({"text": data, "corners": p.box_corners(label.bars_box)})
    s.png = rng.random() < 0.5
    return finish(rng, canvas, s, x), s, texts, None, symbols


def wavy_stripes(rng, w, h):
    """Stripes bent as `warp` bends bars, with no Code 39: periodic ones, or irregular ones of
    two widths, sometimes with the blobs."""
    s = spec_for(rng, "clean")
    canvas = sheet(rng, w, h, s)
    x = rng.uniform(2.5, 4.5)
    n = int(rng.integers(40, 160))
    if rng.random() < 0.5:
        widths = [rng.uniform(1, 3)] * 2 * n
        widths = [widths[0] if i % 2 == 0 else widths[0] * rng.uniform(0.6, 1.6) for i in range(2 * n)]
    else:
        widths = list(rng.choice([1.0, 1.0, float(rng.uniform(2.0, 3.0))], 2 * n))
    length = sum(widths) * x
    if length > w * 0.85:
        x *= w * 0.85 / length
        length = w * 0.85
    height = float(np.clip(rng.uniform(0.15, 0.45) * length, 60, 0.4 * h))
    m = x * SCALE
    margin = 10 * m
    img = Image.new("RGB", (int(length * SCALE + 2 * margin), int(height * SCALE + 2 * margin)),
                    tuple(int(c) for c in s.paper))
    d = ImageDraw.Draw(img)
    pos = margin
    for i, wd in enumerate(widths):
        if i % 2 == 0:
            d.rectangle([round(pos), margin, round(pos + wd * m) - 1, margin + height * SCALE],
                        fill=tuple(int(c) for c in s.ink))
        pos += wd * m
    label = padded(Label(img, (margin, margin, margin + length * SCALE, margin + height * SCALE)),
                   int(0.3 * height * SCALE), s.paper)
    img = label.image
    if rng.random() < 0.5:
        blobs(rng, img, label.bars_box[1], label.bars_box[3], margin, margin + length * SCALE, s.ink)
    base = Placement(label, w / 2, h / 2, s.angle)
    composite(canvas, label, Waved(base, **wave(rng, height, length)))
    return finish(rng, canvas, s, x), s, [], None, []


def one(task):
    seed, cond, index, w, h, out = task
    rng = np.random.default_rng([seed, CONDITIONS.index(cond), index])
    if cond in BIG:
        w, h = round(w * BIG_SIZE), round(h * BIG_SIZE)
    if cond in WARP + WARP_NEGATIVE:
        w, h = w * WARP_SIZE, h * WARP_SIZE
    if cond in STACKED:
        w, h = STACKED_SIZE
    with tempfile.TemporaryDirectory() as tmp:
        if cond == "warp":
            img, s, texts, options, symbols = warp_sheet(rng, w, h)
        elif cond == "stacked":
            img, s, texts, options, symbols = stacked_sheet(rng, w, h)
        elif cond == "neg_wavy":
            img, s, texts, options, symbols = wavy_stripes(rng, w, h)
        elif cond == "thin_small":
            img, s, texts, options, symbols = thin_sheet(rng, w, h)
        elif cond in NEGATIVE:
            img, s, texts, options, symbols = negative(rng, cond, w, h, tmp)
        else:
            img, s, texts, options, symbols = positive(rng, cond, w, h)
    ext = "png" if s.png else "jpg"
    rel = f"{cond}/{index:04d}.{ext}"
    path = os.path.join(out, rel)
    if s.png:
        img.save(path)
    else:
        img.save(path, quality=s.quality)
    entry = {"file": rel, "condition": cond, "texts": texts}
    if options:
        entry["options"] = options
    if symbols:
        entry["symbols"] = symbols
    return entry


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", required=True)
    ap.add_argument("--count", type=int, default=40, help="pictures per condition")
    ap.add_argument("--size", default="640x480")
    ap.add_argument("--seed", type=int, default=39)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--only", default="", help="comma-separated conditions")
    args = ap.parse_args()
    w, h = (int(v) for v in args.size.lower().split("x"))
    conds = [c for c in args.only.split(",") if c] or CONDITIONS
    for c in conds:
        if c not in CONDITIONS:
            sys.exit(f"unknown condition {c}; known: {' '.join(CONDITIONS)}")
        shutil.rmtree(os.path.join(args.out, c), ignore_errors=True)
        os.makedirs(os.path.join(args.out, c))
    tasks = [(args.seed, c, i, w, h, args.out) for c in conds for i in range(args.count)]
    with ProcessPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        entries = list(pool.map(one, tasks, chunksize=4))
    manifest = os.path.join(args.out, "manifest.jsonl")
    if args.only and os.path.exists(manifest):
        # Regenerating some conditions keeps the others' entries.
        with open(manifest) as f:
            old = [json.loads(line) for line in f if line.strip()]
        entries = [e for e in old if e["condition"] not in conds] + entries
        entries.sort(key=lambda e: (CONDITIONS.index(e["condition"]), e["file"]))
    with open(manifest, "w") as f:
        for e in entries:
            f.write(json.dumps(e) + "\n")
    neg = sum(1 for e in entries if not e["texts"])
    print(f"{len(entries)} pictures ({neg} without Code 39) in {args.out}")


if __name__ == "__main__":
    main()
