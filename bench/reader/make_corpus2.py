#!/usr/bin/python3
"""Generates the second, report-only corpus for the whole-picture Code 39 reader.

This corpus exists to measure the reader honestly: it is never used for tuning. It shares no
drawing code, parameter ranges or seed with make_corpus.py (the tuning corpus):

- the bar and module patterns come from zint (`zint --dump`), not from our own Code 39 table;
- every picture is ray-traced backwards: each output pixel is split into sub-samples that go
  through a camera model (fax squash, barrel lens, camera tilt homography, label pose,
  cylinder wrap) into the label's own plane, where bars, ink spread, edge roughness and
  halftone screens are decided analytically;
- light is modelled in linear reflectance (gradients, vignetting, hard shadows, glare), then
  optics (Gaussian, defocus disc, motion line) by FFT, then a sensor with Poisson photon noise
  and read noise, a camera tone curve, and JPEG (single or double), PNG or 1-bit output.

    /usr/bin/python3 bench/reader/make_corpus2.py --out build/corpus2 [--count 24] \
        [--seed 20261208] [--jobs 2] [--only fax,multi]

DIR/manifest.jsonl has the same shape as make_corpus.py's, so compare.py reads both:
    {"file": "fax/0003.png", "condition": "fax", "texts": ["AB-12"],
     "symbols": [{"text": "AB-12", "corners": [[x, y], ...]}],   # ends of the bars, reading order
     "params": {...}}                                              # what was drawn, for diagnosis
"texts" is empty for negatives. The same seed and count give the same pictures.
"""

import argparse
import io
import json
import math
import os
import subprocess
import sys
from concurrent.futures import ProcessPoolExecutor

import numpy as np
from PIL import Image, ImageDraw, ImageFont

W_DEFAULT, H_DEFAULT = 640, 480
FONT_DIR = "/usr/share/fonts/truetype/dejavu/"

POSITIVE = ["clean", "rotated", "perspective", "cylinder", "lens", "blur", "low_contrast",
            "uneven_light", "noise", "jpeg", "small_modules", "tight_crop", "reversed",
            "ink_spread", "ink_thin", "fax", "halftone", "multi"]
NEGATIVE = ["neg_symbology", "neg_symbology_reversed", "neg_half", "neg_text", "neg_texture"]
CONDITIONS = POSITIVE + NEGATIVE
# Added later, after the others so that their seeds and pictures stay: a symbol on a phone or
# monitor photographed (the screen's own pixels, their sub-pixel dots, its gamma, glare), and
# other symbologies shown so.
POSITIVE += ["screen"]
NEGATIVE += ["neg_screen"]
CONDITIONS += ["screen", "neg_screen"]

# The picture a phone user takes first: 1-3 characters filling a third to two thirds of a
# larger photo, modules of 15-50 pixels, quarter turns. Last, so that every other condition
# keeps its seed.
POSITIVE += ["big"]
CONDITIONS += ["big"]
BIG_SIZE = (3200, 2400)

# A separator sheet from a document scanner at 300 dpi whose paper buckled: every bar an S
# (steepest halfway up) whose lean swings from one way to the other along the symbol, the rows
# bowed by a cubic, ink blots at the bars' ends. Then random bars bent so, which must read
# nothing. Last, so that every other condition keeps its seed.
POSITIVE += ["warp"]
NEGATIVE += ["neg_wavy"]
CONDITIONS += ["warp", "neg_wavy"]
SHEET_SIZE = (1400, 1000)

# A page from a 300-dpi scanner whose symbol printed thin: modules of 1.3-2.2 pixels, every bar
# 0.15-0.35 module narrower (its spaces as much wider), wide to narrow 2-2.5. Last, so that every
# other condition keeps its seed.
POSITIVE += ["thin_small"]
CONDITIONS += ["thin_small"]

# Long symbols (40 to 78 characters, bars 15 to 25 modules tall) laid on a page far less apart
# than they are long, each a few degrees from the others. Last, so that every other condition
# keeps its seed.
POSITIVE += ["stacked"]
CONDITIONS += ["stacked"]
STACKED_SIZE = (2600, 1100)

# Mostly letters and digits; the other characters of the set now and then.
TEXT_CHARS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" * 4 + "-. $/+%"


# ---------------------------------------------------------------------------------------------
# Symbols in their own plane (units: modules)

def zint_dump(barcode, data, extra=()):
    out = subprocess.run(["zint", "-b", str(barcode), "-d", data, "--dump", *extra],
                         capture_output=True, text=True, check=True).stdout
    rows = []
    for line in out.splitlines():
        bits = "".join(bin(int(tok, 16))[2:].zfill(4 * len(tok)) for tok in line.split())
        if bits:
            rows.append([c == "1" for c in bits])
    return rows


class Symbol:
    """What a label carries: dark intervals along u (linear), a module grid (matrix) or a
    binary picture (text, textures), over [0, width) x [0, height)."""

    def __init__(self, kind, width, height, starts=None, ends=None, grid=None, text=None):
        self.kind, self.width, self.height = kind, width, height
        self.starts, self.ends, self.grid, self.text = starts, ends, grid, text
        self.spread = 0.0      # total growth of every bar, modules (negative: thinner)
        self.rough = 0.0       # amplitude of the edges' wander along the bars, modules
        self.halftone = None   # (dots per module, coverage)
        self.caption = None    # binary picture under the bars (human-readable text)
        self.phases = None

    def dark(self, u, v):
        inside = (u >= 0) & (u < self.width) & (v >= 0) & (v < self.height)
        if self.kind == "linear":
            n = len(self.starts)
            idx = np.searchsorted(self.starts, u, side="right") - 1
            d = np.zeros(u.shape, bool)
            for j in (idx, idx + 1):
                ok = (j >= 0) & (j < n)
                jj = np.clip(j, 0, n - 1)
                e = np.full(u.shape, self.spread / 2)
                if self.rough:
                    e = e + self.rough * np.sin(v * 0.9 + self.phases[jj])
                d |= ok & (u >= self.starts[jj] - e) & (u < self.ends[jj] + e)
            d &= (v >= 0) & (v < self.height)
        else:
            rows, cols = self.grid.shape
            r = np.clip((v * rows / self.height).astype(int), 0, rows - 1)
            c = np.clip((u * cols / self.width).astype(int), 0, cols - 1)
            d = inside & self.grid[r, c]
        if self.halftone:
            f, cover = self.halftone
            a, b = (u + v) * f * math.pi * 1.414, (u - v) * f * math.pi * 1.414
            screen = (np.cos(a) + np.cos(b)) / 4 + 0.5   # 0..1, dot centres high
            d &= screen > 1 - cover
        if self.caption is not None:
            tex, (x0, y0, x1, y1) = self.caption
            th, tw = tex.shape
            inc = (u >= x0) & (u < x1) & (v >= y0) & (v < y1)
            ti = np.clip(((v - y0) / (y1 - y0) * th).astype(int), 0, th - 1)
            tj = np.clip(((u - x0) / (x1 - x0) * tw).astype(int), 0, tw - 1)
            d |= inc & tex[ti, tj]
        return d


def code39_symbol(rng, text, ratio, gap):
    rows = zint_dump(8, text)
    bits = rows[0]
    while bits and not bits[-1]:
        bits.pop()
    runs = []
    for b in bits:
        if runs and runs[-1][0] == b:
            runs[-1][1] += 1
        else:
            runs.append([b, 1])
    assert len(runs) == 10 * (len(text) + 2) - 1, (text, len(runs))
    widths = []
    for i, (_, n) in enumerate(runs):
        widths.append(gap if i % 10 == 9 else (ratio if n == 2 else 1.0))
    edges = np.concatenate([[0.0], np.cumsum(widths)])
    starts = edges[0:-1:2].copy()
    ends = edges[1::2].copy()
    s = Symbol("linear", float(edges[-1]), 0.0, starts, ends, text=text)
    s.phases = rng.uniform(0, 2 * math.pi, len(starts))
    return s


def runs_symbol(rng, bits, height):
    while bits and not bits[-1]:
        bits.pop()
    edges, starts, ends = 0, [], []
    for i, b in enumerate(bits):
        if b and (i == 0 or not bits[i - 1]):
            starts.append(i)
        if b and (i + 1 == len(bits) or not bits[i + 1]):
            ends.append(i + 1)
    s = Symbol("linear", float(len(bits)), height, np.array(starts, float), np.array(ends, float))
    s.phases = rng.uniform(0, 2 * math.pi, len(starts))
    return s


def random_stripes(rng, n):
    """Bars and spaces of 1-4 units at random: looks like a barcode, is none."""
    starts, ends, x = [], [], 0.0
    for _ in range(n):
        w = float(rng.integers(1, 5)) * rng.uniform(0.9, 1.1)
        starts.append(x)
        ends.append(x + w)
        x += w + float(rng.integers(1, 5)) * rng.uniform(0.9, 1.1)
    s = Symbol("linear", ends[-1], 0.0, np.array(starts), np.array(ends))
    s.phases = rng.uniform(0, 2 * math.pi, n)
    return s


def random_text(rng, lo, hi):
    while True:
        t = "".join(rng.choice(list(TEXT_CHARS), int(rng.integers(lo, hi + 1))))
        if t[0] != " " and t[-1] != " " and "  " not in t:
            return t


def text_bitmap(text, size=48, mono=True):
    font = ImageFont.truetype(FONT_DIR + ("DejaVuSansMono.ttf" if mono else "DejaVuSans.ttf"), size)
    l, t, r, b = font.getbbox(text)
    img = Image.new("L", (r - l + 4, b - t + 4), 0)
    ImageDraw.Draw(img).text((2 - l, 2 - t), text, fill=255, font=font)
    return np.asarray(img) > 127


# ---------------------------------------------------------------------------------------------
# Geometry: label plane -> picture

class Label:
    """A symbol on its paper, posed in the scene plane: scale (px per module), angle, centre,
    optional cylinder wrap (radius in modules, axis parallel to the bars)."""

    def __init__(self, symbol, quiet, scale, angle, cx, cy, paper, ink, cyl=None):
        self.symbol = symbol
        self.ql, self.qr, self.qt, self.qb = quiet
        self.scale, self.angle, self.cx, self.cy = scale, math.radians(angle), cx, cy
        self.paper, self.ink, self.cyl = np.array(paper), np.array(ink), cyl
        self.au, self.av = symbol.width / 2, symbol.height / 2
        self.buckle = None  # (lean, swing, phase, bow): see bend()
        self.blots = []  # (u, v, ru, rv): ink blots, modules

    def bend(self, u, v):
        """The buckled sheet: across the bars by lean * S((v - av) / av) * cos(swing * (u - au)
        / au + phase), S(t) = 1.5 t - 0.5 t^3; then along the bars by bow * S((u - au) / au)."""
        lean, swing, phase, bow = self.buckle
        t = np.clip((v - self.av) / self.av, -1.2, 1.2)
        u = u + lean * (1.5 * t - 0.5 * t ** 3) * np.cos(swing * (u - self.au) / self.au + phase)
        r = np.clip((u - self.au) / self.au, -1.2, 1.2)
        return u, v + bow * (1.5 * r - 0.5 * r ** 3)

    def unbend(self, u1, v1):
        lean, swing, phase, bow = self.buckle
        r = np.clip((u1 - self.au) / self.au, -1.2, 1.2)
        v = v1 - bow * (1.5 * r - 0.5 * r ** 3)
        t = np.clip((v - self.av) / self.av, -1.2, 1.2)
        s = 1.5 * t - 0.5 * t ** 3
        u = u1
        for _ in range(10):  # the lean changes by under a third of a module per module
            u = u1 - lean * s * np.cos(swing * (u - self.au) / self.au + phase)
        return u, v

    def blotted(self, u, v):
        d = np.zeros(np.shape(u), bool)
        for bu, bv, ru, rv in self.blots:
            d |= ((u - bu) / ru) ** 2 + ((v - bv) / rv) ** 2 < 1
        return d

    def extent(self):
        return (-self.ql, -self.qt, self.symbol.width + self.qr, self.symbol.height + self.qb)

    def forward(self, u, v):
        u = np.asarray(u, float)
        v = np.asarray(v, float)
        if self.buckle:
            u, v = self.bend(u, v)
        if self.cyl:
            u = self.au + self.cyl * np.sin(np.clip((u - self.au) / self.cyl, -1.5, 1.5))
        du, dv = (u - self.au) * self.scale, (v - self.av) * self.scale
        c, s = math.cos(self.angle), math.sin(self.angle)
        return self.cx + du * c - dv * s, self.cy + du * s + dv * c

    def inverse(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        c, s = math.cos(self.angle), math.sin(self.angle)
        u = (dx * c + dy * s) / self.scale + self.au
        v = (-dx * s + dy * c) / self.scale + self.av
        valid = np.ones(u.shape, bool)
        if self.cyl:
            t = (u - self.au) / self.cyl
            valid = np.abs(t) < 0.998
            u = self.au + self.cyl * np.arcsin(np.clip(t, -0.998, 0.998))
        if self.buckle:
            u, v = self.unbend(u, v)
        return u, v, valid


class Camera:
    """Scene plane -> picture: a camera tilt (homography), barrel distortion (k1 < 0), and a
    vertical squash (fax standard resolution)."""

    def __init__(self, w, h, tilt=(0.0, 0.0), focal=1.0, k1=0.0, squash=1.0):
        self.w, self.h, self.k1, self.squash = w, h, k1, squash
        self.c = np.array([w / 2, h / 2])
        self.norm = math.hypot(w, h) / 2
        f = focal * w
        K = np.array([[f, 0, w / 2], [0, f, h / 2], [0, 0, 1.0]])
        ax, ay = map(math.radians, tilt)
        Rx = np.array([[1, 0, 0], [0, math.cos(ax), -math.sin(ax)], [0, math.sin(ax), math.cos(ax)]])
        Ry = np.array([[math.cos(ay), 0, math.sin(ay)], [0, 1, 0], [-math.sin(ay), 0, math.cos(ay)]])
        T = K @ Rx @ Ry @ np.linalg.inv(K)
        p = T @ np.array([w / 2, h / 2, 1.0])   # keep the centre where it was
        shift = np.array([[1, 0, w / 2 - p[0] / p[2]], [0, 1, h / 2 - p[1] / p[2]], [0, 0, 1]])
        self.T = shift @ T
        self.Ti = np.linalg.inv(self.T)

    @staticmethod
    def _apply(M, x, y):
        d = M[2, 0] * x + M[2, 1] * y + M[2, 2]
        return (M[0, 0] * x + M[0, 1] * y + M[0, 2]) / d, (M[1, 0] * x + M[1, 1] * y + M[1, 2]) / d

    def forward(self, x, y):
        x, y = self._apply(self.T, x, y)
        if self.k1:
            # Barrel: the scene radius ru is rd (1 + |k1| rd^2) of the picture radius rd; solve
            # for rd by Newton (increasing in rd, so it converges).
            nx, ny = (x - self.c[0]) / self.norm, (y - self.c[1]) / self.norm
            ru = np.hypot(nx, ny)
            k = -self.k1
            r = ru.copy()
            for _ in range(12):
                r = r - (r + k * r ** 3 - ru) / (1 + 3 * k * r * r)
            f = np.where(ru > 1e-9, r / np.maximum(ru, 1e-9), 1.0)
            x, y = self.c[0] + nx * f * self.norm, self.c[1] + ny * f * self.norm
        return x, y * self.squash

    def inverse(self, x, y):
        y = y / self.squash
        if self.k1:
            nx, ny = (x - self.c[0]) / self.norm, (y - self.c[1]) / self.norm
            f = 1 - self.k1 * (nx * nx + ny * ny)
            x, y = self.c[0] + nx * f * self.norm, self.c[1] + ny * f * self.norm
        return self._apply(self.Ti, x, y)


def project(cam, label, u, v):
    x, y = label.forward(u, v)
    return cam.forward(x, y)


def outline(cam, label, box, n=24):
    u0, v0, u1, v1 = box
    t = np.linspace(0, 1, n)
    us = np.concatenate([u0 + (u1 - u0) * t, np.full(n, u1), u1 - (u1 - u0) * t, np.full(n, u0)])
    vs = np.concatenate([np.full(n, v0), v0 + (v1 - v0) * t, np.full(n, v1), v1 - (v1 - v0) * t])
    return project(cam, label, us, vs)


def symbol_corners(cam, label):
    s = label.symbol
    x, y = project(cam, label, [0, s.width, s.width, 0], [0, 0, s.height, s.height])
    return [[round(float(a), 1), round(float(b), 1)] for a, b in zip(x, y)]


def render_label(img, cam, label, ss):
    """Composites one label into img (linear RGB reflectance), ss x ss sub-samples a pixel."""
    h, w, _ = img.shape
    x, y = outline(cam, label, label.extent())
    x0, x1 = max(0, int(np.floor(x.min())) - 2), min(w, int(np.ceil(x.max())) + 3)
    y0, y1 = max(0, int(np.floor(y.min())) - 2), min(h, int(np.ceil(y.max())) + 3)
    if x0 >= x1 or y0 >= y1:
        return
    off = (np.arange(ss) + 0.5) / ss
    xs = (np.arange(x0, x1)[:, None] + off[None, :]).ravel()
    ys = (np.arange(y0, y1)[:, None] + off[None, :]).ravel()
    X, Y = np.meshgrid(xs, ys)
    sx, sy = cam.inverse(X, Y)
    u, v, valid = label.inverse(sx, sy)
    e0, f0, e1, f1 = label.extent()
    on = valid & (u >= e0) & (u < e1) & (v >= f0) & (v < f1)
    dark = on & label.symbol.dark(u, v)
    if label.blots:
        dark |= on & label.blotted(u, v)
    bh, bw = y1 - y0, x1 - x0

    def frac(m):
        return m.reshape(bh, ss, bw, ss).mean(axis=(1, 3))[..., None]

    fon, fdark = frac(on), frac(dark)
    region = img[y0:y1, x0:x1]
    img[y0:y1, x0:x1] = region * (1 - fon) + (fon - fdark) * label.paper + fdark * label.ink


# ---------------------------------------------------------------------------------------------
# Scene, light, optics, sensor

def low_freq(rng, h, w, cells):
    small = rng.random((max(2, h // cells), max(2, w // cells))).astype(np.float32)
    return np.asarray(Image.fromarray(small, "F").resize((w, h), Image.BICUBIC))


def background(rng, kind, h, w):
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    if kind == "white":  # a sheet of paper filling the view
        img = np.ones((h, w, 3), np.float32) * rng.uniform(0.85, 0.93)
    elif kind == "plain":
        base = rng.uniform(0.15, 0.7, 3)
        img = base * (0.85 + 0.3 * low_freq(rng, h, w, 96))[..., None]
    elif kind == "wood":
        a = rng.uniform(0, math.pi)
        t = xx * math.cos(a) + yy * math.sin(a)
        warp = low_freq(rng, h, w, 64) * rng.uniform(2, 6)
        g = 0.5 + 0.5 * np.sin(2 * math.pi * (t / rng.uniform(8, 30) + warp))
        c1, c2 = np.array([0.45, 0.28, 0.14]), np.array([0.30, 0.17, 0.07])
        img = c1 * g[..., None] + c2 * (1 - g[..., None])
    elif kind == "fabric":
        p = rng.uniform(3, 7)
        g = 0.5 + 0.25 * (np.sin(2 * math.pi * xx / p) * np.sign(np.sin(2 * math.pi * yy / (2 * p)))
                          + np.sin(2 * math.pi * yy / p))
        img = rng.uniform(0.1, 0.6, 3) * (0.7 + 0.3 * g)[..., None]
    elif kind == "metal":
        n = rng.random((h, w)).astype(np.float32)
        k = int(rng.integers(15, 40))
        n = np.cumsum(n, axis=1)
        n = (n[:, k:] - n[:, :-k]) / k
        n = np.pad(n, ((0, 0), (0, k)), mode="edge")
        g = rng.uniform(0.3, 0.55) + (n - 0.5) * 0.6 + 0.15 * low_freq(rng, h, w, 128)
        img = np.repeat(g[..., None], 3, axis=2) * np.array([1.0, 1.0, rng.uniform(0.95, 1.05)])
    else:  # clutter: soft discs and boxes from distance fields
        img = np.ones((h, w, 3), np.float32) * rng.uniform(0.2, 0.6, 3)
        for _ in range(int(rng.integers(4, 12))):
            cx, cy, r = rng.uniform(0, w), rng.uniform(0, h), rng.uniform(15, 140)
            if rng.random() < 0.5:
                d = np.hypot(xx - cx, yy - cy) - r
            else:
                d = np.maximum(np.abs(xx - cx) - r, np.abs(yy - cy) - r * rng.uniform(0.3, 1))
            a = np.clip(0.5 - d / rng.uniform(1, 8), 0, 1)[..., None]
            img = img * (1 - a) + a * rng.uniform(0.05, 0.85, 3)
    return np.clip(img, 0.01, 1).astype(np.float32)


def illumination(rng, h, w, gradient, vignette, shadow, glare):
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    a = rng.uniform(0, 2 * math.pi)
    t = ((xx - w / 2) * math.cos(a) + (yy - h / 2) * math.sin(a)) / (math.hypot(w, h) / 2)
    light = 1 - gradient * (t + 1) / 2
    r2 = ((xx - w / 2) ** 2 + (yy - h / 2) ** 2) / ((w / 2) ** 2 + (h / 2) ** 2)
    light = light * (1 - vignette * r2)
    if shadow:
        depth, soft = shadow
        b = rng.uniform(0, 2 * math.pi)
        px, py = rng.uniform(0.3, 0.7) * w, rng.uniform(0.3, 0.7) * h
        d = (xx - px) * math.cos(b) + (yy - py) * math.sin(b)
        light = light * (1 - depth * np.clip(0.5 + d / soft, 0, 1))
    add = np.zeros((h, w), np.float32)
    if glare:
        gx, gy, gr = rng.uniform(0.2, 0.8) * w, rng.uniform(0.2, 0.8) * h, rng.uniform(30, 120)
        add = glare * np.exp(-((xx - gx) ** 2 + (yy - gy) ** 2) / (2 * gr * gr))
    return light.astype(np.float32), add.astype(np.float32)


def kernel(h, w, kind, size, angle=0.0):
    """A PSF centred at (0, 0) with wrap-around, for FFT convolution."""
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    yy = np.where(yy > h / 2, yy - h, yy)
    xx = np.where(xx > w / 2, xx - w, xx)
    if kind == "gauss":
        k = np.exp(-(xx ** 2 + yy ** 2) / (2 * size * size))
    elif kind == "disc":
        k = np.clip(size + 0.5 - np.hypot(xx, yy), 0, 1)
    else:  # motion: a line of length `size`, anti-aliased by a narrow Gaussian across it
        c, s = math.cos(angle), math.sin(angle)
        along = xx * c + yy * s
        across = -xx * s + yy * c
        k = np.exp(-across ** 2 / 0.5) * np.clip(size / 2 + 0.5 - np.abs(along), 0, 1)
    return k / k.sum()


def convolve(img, specs, pad=24):
    """Blurs by every PSF in specs ((kind, size[, angle]) each); the picture is extended by
    its own edge first, so that nothing wraps round from the opposite side."""
    h, w, _ = img.shape
    big = np.pad(img, ((pad, pad), (pad, pad), (0, 0)), mode="edge")
    H, W = h + 2 * pad, w + 2 * pad
    f = np.fft.rfft2(big, axes=(0, 1))
    for b in specs:
        f *= np.fft.rfft2(kernel(H, W, b[0], b[1], b[2] if len(b) > 2 else 0.0))[..., None]
    out = np.fft.irfft2(f, s=(H, W), axes=(0, 1))
    return out[pad:pad + h, pad:pad + w].astype(np.float32)


def sensor(rng, img, full_well, read_noise, gamma, hot=0.0):
    electrons = rng.poisson(np.clip(img, 0, None) * full_well).astype(np.float32)
    electrons += rng.normal(0, read_noise, img.shape).astype(np.float32)
    if hot:
        m = rng.random(img.shape[:2]) < hot
        electrons[m] = full_well * rng.uniform(0.6, 1.2)
    lin = np.clip(electrons / full_well, 0, 1)
    return np.round(255 * lin ** gamma).astype(np.uint8)


def encode(rng, pixels, fmt):
    """(bytes, extension) for an 8-bit RGB array; fmt: ("jpeg", q) / ("jpeg2", q1, q2, resize)
    / ("png",) / ("bilevel", threshold, speckle); grey pictures stay grey."""
    img = Image.fromarray(pixels, "RGB")
    if rng.random() < 0.35 or fmt[0] == "bilevel":
        img = img.convert("L")
    buf = io.BytesIO()
    if fmt[0] == "jpeg":
        img.save(buf, "JPEG", quality=int(fmt[1]))
        return buf.getvalue(), "jpg"
    if fmt[0] == "jpeg2":
        img.save(buf, "JPEG", quality=int(fmt[1]))
        img = Image.open(io.BytesIO(buf.getvalue()))
        if fmt[3] != 1.0:
            img = img.resize((round(img.width * fmt[3]), round(img.height * fmt[3])),
                             Image.BILINEAR)
        buf = io.BytesIO()
        img.save(buf, "JPEG", quality=int(fmt[2]), subsampling=2)
        return buf.getvalue(), "jpg"
    if fmt[0] == "bilevel":
        a = np.asarray(img).astype(np.float32)
        bw = a > fmt[1]
        flip = rng.random(bw.shape) < fmt[2]
        bw ^= flip
        Image.fromarray(bw).convert("1").save(buf, "PNG")
        return buf.getvalue(), "png"
    img.save(buf, "PNG")
    return buf.getvalue(), "png"


# ---------------------------------------------------------------------------------------------
# Conditions

class Recipe:
    """Everything one picture needs; the defaults are the mild baseline."""

    def __init__(self, rng):
        self.w, self.h = W_DEFAULT, H_DEFAULT
        self.count = 1
        self.scale = rng.uniform(2.0, 4.0)
        self.angle = rng.normal(0, 6) + (180 if rng.random() < 0.2 else 0)
        self.same_angle = True
        self.text_len = (4, 12)
        self.ratio = rng.uniform(2.3, 3.0)
        self.gap = rng.uniform(1.0, 2.0)
        self.height_frac = rng.uniform(0.12, 0.3)
        self.quiet = (12, 20)
        self.caption = rng.random() < 0.5
        self.tilt = (rng.normal(0, 4), rng.normal(0, 4))
        self.focal = rng.uniform(0.9, 1.6)
        self.k1 = rng.uniform(-0.04, 0.0)
        self.squash = 1.0
        self.cyl = None
        self.spread = rng.uniform(-0.05, 0.05)
        self.rough = 0.0
        self.halftone = None
        self.paper = rng.uniform(0.78, 0.92) * rng.uniform(0.93, 1.0, 3)
        self.ink = rng.uniform(0.03, 0.09) * rng.uniform(0.8, 1.0, 3)
        self.background = str(rng.choice(["plain", "wood", "fabric", "metal", "clutter"]))
        self.gradient, self.vignette = rng.uniform(0, 0.2), rng.uniform(0, 0.25)
        self.shadow, self.glare = None, 0.0
        self.level = rng.uniform(0.7, 1.0)
        self.blur = [("gauss", rng.uniform(0.35, 0.7))]
        self.full_well, self.read_noise, self.hot = rng.uniform(400, 1500), rng.uniform(1, 3), 0.0
        self.gamma = 1 / rng.uniform(1.9, 2.5)
        self.fmt = ("jpeg", rng.uniform(80, 95)) if rng.random() < 0.85 else ("png",)
        self.tight = None     # (left, right, top, bottom) margins in modules
        self.half = False
        self.ss = 3
        self.buckle = False  # a buckled sheet: bent bars, blots


def flat_scan(rng, s, paper=True):
    """A document scanner: no tilt or lens, a white sheet evenly lit; with `paper`, its own
    level and paper tone."""
    s.tilt, s.k1, s.focal = (0.0, 0.0), 0.0, 1.0
    s.background, s.gradient, s.vignette = "white", rng.uniform(0, 0.05), 0.0
    if paper:
        s.level = rng.uniform(0.9, 1.0)
        s.paper = rng.uniform(0.85, 0.95) * np.ones(3)


def spec_for(rng, cond):
    s = Recipe(rng)
    if cond == "rotated":
        s.angle = rng.uniform(0, 360)
    elif cond == "perspective":
        mag, d = rng.uniform(30, 55), rng.uniform(0, 2 * math.pi)
        s.tilt = (mag * math.cos(d), mag * math.sin(d))
        s.focal = rng.uniform(0.7, 1.3)
        s.scale = rng.uniform(2.2, 4.5)
        s.angle = rng.uniform(-30, 30)
    elif cond == "cylinder":
        s.cyl = rng.uniform(35, 70)  # wrap angle at the symbol's ends, degrees
        s.scale = rng.uniform(2.5, 4.5)
        s.k1 = rng.uniform(-0.08, 0)
    elif cond == "lens":
        s.k1 = rng.uniform(-0.3, -0.12)
        s.scale = rng.uniform(2.5, 5.0)
        s.angle = rng.uniform(-40, 40)
    elif cond == "blur":
        s.scale = rng.uniform(2.5, 5.0)
        kind = rng.choice(["gauss", "disc", "motion"])
        if kind == "gauss":
            s.blur = [("gauss", rng.uniform(0.35, 0.7) * s.scale)]
        elif kind == "disc":
            s.blur = [("disc", rng.uniform(0.5, 1.0) * s.scale), ("gauss", 0.5)]
        else:
            s.blur = [("motion", rng.uniform(0.6, 1.5) * s.scale, rng.uniform(0, math.pi)),
                      ("gauss", 0.5)]
    elif cond == "low_contrast":
        s.paper = rng.uniform(0.45, 0.85) * rng.uniform(0.9, 1.0, 3)
        if rng.random() < 0.3:  # red or orange ink: dark only in some channels
            s.ink = s.paper * np.array([rng.uniform(0.85, 1.0), rng.uniform(0.45, 0.7),
                                        rng.uniform(0.4, 0.65)])
        else:
            s.ink = s.paper * (1 - rng.uniform(0.22, 0.45))
        s.glare = rng.uniform(0, 0.15)
    elif cond == "uneven_light":
        s.gradient = rng.uniform(0.5, 0.85)
        s.vignette = rng.uniform(0.2, 0.5)
        s.shadow = (rng.uniform(0.55, 0.8), rng.uniform(2, 15))
        s.glare = rng.uniform(0.1, 0.5) if rng.random() < 0.4 else 0.0
    elif cond == "noise":
        s.level = rng.uniform(0.3, 0.7)
        s.full_well, s.read_noise = rng.uniform(40, 160), rng.uniform(1.5, 4)
        s.hot = 0.002
        s.fmt = ("jpeg", rng.uniform(88, 96)) if rng.random() < 0.5 else ("png",)
    elif cond == "jpeg":
        s.scale = rng.uniform(2.0, 3.5)
        s.fmt = ("jpeg2", rng.uniform(30, 70), rng.uniform(25, 55),
                 1.0 if rng.random() < 0.6 else rng.uniform(0.75, 0.95))
    elif cond == "small_modules":
        s.scale = rng.uniform(1.1, 1.6)
        s.angle = (rng.integers(0, 4) * 90 + rng.normal(0, 2)) if rng.random() < 0.7 \
            else rng.uniform(0, 360)
        s.blur = [("gauss", rng.uniform(0.3, 0.5))]
        s.text_len = (4, 10)
        s.tilt = (rng.normal(0, 2), rng.normal(0, 2))
        s.ss = 5
    elif cond == "tight_crop":
        s.tight = tuple(rng.uniform(0, 2, 2)) + tuple(rng.uniform(0, 3, 2))
        s.scale = rng.uniform(2.0, 5.0)
        s.angle = rng.normal(0, 0.3) + (180 if rng.random() < 0.2 else 0)
        s.tilt, s.k1, s.caption = (0.0, 0.0), 0.0, False
        s.gradient, s.vignette = rng.uniform(0, 0.1), 0.0
        s.blur = [("gauss", rng.uniform(0.3, 0.6))]
        s.fmt = ("png",) if rng.random() < 0.5 else ("jpeg", rng.uniform(85, 95))
    elif cond == "reversed":
        s.paper = rng.uniform(0.03, 0.15) * rng.uniform(0.8, 1.0, 3)
        s.ink = rng.uniform(0.55, 0.9) * rng.uniform(0.9, 1.0, 3)
        s.angle = rng.uniform(0, 360) if rng.random() < 0.5 else rng.normal(0, 5)
        if rng.random() < 0.4:
            s.background = "metal"
    elif cond in ("ink_spread", "ink_thin"):
        mag = rng.uniform(0.15, 0.35)
        s.spread = mag if cond == "ink_spread" else -mag
        s.rough = rng.uniform(0.02, 0.06)
        s.scale = rng.uniform(2.2, 4.0)
        s.angle = rng.normal(0, 2) + (180 if rng.random() < 0.2 else 0)
        s.tilt, s.k1 = (0.0, 0.0), 0.0
        s.background, s.gradient, s.vignette = "plain", rng.uniform(0, 0.08), 0.0
        s.paper = rng.uniform(0.85, 0.95) * np.ones(3)
        s.ink = rng.uniform(0.04, 0.12) * np.ones(3)
        s.blur = [("gauss", rng.uniform(0.4, 0.8))]
    elif cond == "fax":
        s.scale = rng.uniform(1.6, 3.0)
        s.spread = rng.uniform(-0.25, 0.25)
        s.rough = rng.uniform(0.03, 0.08)
        s.angle = rng.normal(0, 1.5) + (180 if rng.random() < 0.2 else 0)
        s.tilt, s.k1 = (0.0, 0.0), 0.0
        s.squash = 0.5 if rng.random() < 0.5 else 1.0
        s.background, s.gradient, s.vignette = "white", 0.0, 0.0
        s.quiet = (30, 60)  # the label is the page: its edge stays out of view
        s.paper, s.ink = np.ones(3) * 0.9, np.ones(3) * 0.05
        s.blur = [("gauss", rng.uniform(0.4, 0.7))]
        s.fmt = ("bilevel", rng.uniform(100, 150), rng.uniform(0, 0.003))
    elif cond == "halftone":
        s.scale = rng.uniform(3.0, 5.0)
        s.halftone = (rng.uniform(1.6, 3.0), rng.uniform(0.55, 0.85))
        s.blur = [("gauss", rng.uniform(0.3, 0.6))]
        s.ss = 4
    elif cond == "screen":
        s.scale = rng.uniform(2.5, 5.0)
        s.angle = rng.normal(0, 4) + (90 if rng.random() < 0.25 else 0)
        mag, d = rng.uniform(0, 35), rng.uniform(0, 2 * math.pi)
        s.tilt = (mag * math.cos(d), mag * math.sin(d))
        s.glare = rng.uniform(0.1, 0.6)
        s.caption = False
        s.blur = [("gauss", rng.uniform(0.15, 0.35))]  # focused on the screen's surface
    elif cond == "big":
        s.w, s.h = BIG_SIZE
        s.text_len = (1, 3)
        s.angle = float(rng.integers(0, 4) * 90 + rng.normal(0, 2))
        s.tilt = (rng.normal(0, 3), rng.normal(0, 3))
        s.vignette = rng.uniform(0.3, 0.5)
        s.fmt = ("jpeg", 85)
        s.ss = 1
    elif cond in ("warp", "neg_wavy"):
        s.w, s.h = SHEET_SIZE
        s.buckle = True
        s.scale = rng.uniform(2.5, 4.5)
        s.height_frac = rng.uniform(0.25, 0.5)
        s.angle = rng.normal(0, 0.8) + (180 if rng.random() < 0.15 else 0)
        flat_scan(rng, s)
        s.blur = [("gauss", rng.uniform(0.5, 0.9))]
    elif cond == "thin_small":
        s.spread = -rng.uniform(0.15, 0.35)
        s.rough = rng.uniform(0.0, 0.03)
        s.scale = rng.uniform(1.3, 2.2)
        s.ratio = rng.uniform(2.0, 2.5)
        s.angle = rng.normal(0, 1) + (180 if rng.random() < 0.15 else 0)
        flat_scan(rng, s)
        s.ink = rng.uniform(0.04, 0.12) * np.ones(3)
        s.blur = [("gauss", rng.uniform(0.3, 0.55))]
        s.ss = 5
    elif cond == "stacked":
        s.w, s.h = STACKED_SIZE
        s.count = int(rng.integers(3, 6))
        s.text_len = (40, 78)
        s.scale = rng.uniform(1.8, 2.4)
        s.ratio = rng.uniform(2.0, 2.5)
        s.height_frac = rng.uniform(0.015, 0.03)
        s.same_angle = True
        s.angle = rng.normal(0, 1.0) + (180 if rng.random() < 0.2 else 0)
        flat_scan(rng, s, paper=False)
        s.blur = [("gauss", rng.uniform(0.4, 0.8))]
    elif cond == "multi":
        s.count = int(rng.integers(2, 5))
        s.scale = rng.uniform(2.0, 3.5)
        s.same_angle = rng.random() < 0.5
        s.angle = rng.uniform(0, 360)
        s.text_len = (3, 9)
    return s


def make_label(rng, s, symbol, angle, cx, cy):
    symbol.height = max(10.0, symbol.width * s.height_frac) if symbol.height == 0 else \
        symbol.height
    if s.tight:
        quiet = s.tight
        # The paper reaches well beyond the picture; the picture is cut from it.
        quiet = (quiet[0] + 40, quiet[1] + 40, quiet[2] + 40, quiet[3] + 40)
    else:
        q = rng.uniform(*s.quiet, 2)
        quiet = (q[0], q[1], rng.uniform(2, 8), rng.uniform(2, 8))
        if s.caption and symbol.text and symbol.caption is None:
            bm = text_bitmap(symbol.text)
            th = symbol.height * rng.uniform(0.2, 0.35)
            tw = min(symbol.width * 0.9, th * bm.shape[1] / bm.shape[0])
            x0 = (symbol.width - tw) / 2
            y0 = symbol.height + rng.uniform(0.5, 2.0)
            symbol.caption = (bm, (x0, y0, x0 + tw, y0 + th))
        if symbol.caption is not None:
            quiet = (quiet[0], quiet[1], quiet[2], quiet[3] + symbol.caption[1][3] - symbol.height)
    symbol.spread, symbol.rough, symbol.halftone = s.spread, s.rough, s.halftone
    cyl = None
    if s.cyl:
        half = symbol.width / 2 + max(quiet[0], quiet[1])
        cyl = half / math.radians(s.cyl)
    if s.buckle:  # room above and below for the blots
        quiet = (quiet[0], quiet[1], quiet[2] + 0.3 * symbol.height, quiet[3] + 0.3 * symbol.height)
    label = Label(symbol, quiet, s.scale, angle, cx, cy, s.paper, s.ink, cyl)
    if s.buckle:
        buckle(rng, label)
    return label


def buckle(rng, label):
    """Bars leaning 14-30 degrees halfway up at most, the lean swinging through 1.5-4 radians
    along the symbol (a module along a straight line stretches by up to a quarter), rows bowed
    by 0.1-0.3 of the bars' height; up to four blots touching the bars' top or bottom ends."""
    sym = label.symbol
    lean = math.tan(math.radians(rng.uniform(14, 30))) * label.av / 1.5
    swing = rng.uniform(1.5, 4.0)
    swing = min(swing, 0.25 * label.au / lean)
    label.buckle = (lean, swing, rng.uniform(0, 2 * math.pi),
                    rng.uniform(0.1, 0.3) * sym.height * rng.choice([-1, 1]))
    if rng.random() < 0.75:
        for _ in range(int(rng.integers(1, 5))):
            rv = rng.uniform(0.05, 0.14) * sym.height
            top = rng.random() < 0.5
            label.blots.append((rng.uniform(0, sym.width), -0.7 * rv if top else sym.height + 0.7 * rv,
                                rv * rng.uniform(0.8, 1.6), rv))


def inside(x, y, w, h, margin):
    return (x.min() >= margin and y.min() >= margin and x.max() <= w - margin
            and y.max() <= h - margin)


def place(rng, s, cam, symbols, quiet_inside=True):
    """Labels for the symbols, every symbol with its quiet zones inside the picture and no two
    labels overlapping; shrinks the scale when they do not fit."""
    for attempt in range(60):
        labels, boxes = [], []
        for sym in symbols:
            ok = False
            for _ in range(30):
                angle = s.angle if (s.same_angle or not labels) else rng.uniform(0, 360)
                if s.count > 1 and s.same_angle:
                    angle += rng.normal(0, 4)
                lab = make_label(rng, s, sym, angle, rng.uniform(0.15, 0.85) * s.w,
                                 rng.uniform(0.15, 0.85) * s.h)
                sx, sy = outline(cam, lab, (-min(lab.ql, 10), -2, sym.width + min(lab.qr, 10),
                                            sym.height + 2))
                if not inside(sx, sy, s.w, s.h, 2):
                    continue
                lx, ly = outline(cam, lab, lab.extent())
                box = (lx.min(), ly.min(), lx.max(), ly.max())
                if any(box[0] < b[2] and b[0] < box[2] and box[1] < b[3] and b[1] < box[3]
                       for b in boxes):
                    continue
                labels.append(lab)
                boxes.append(box)
                ok = True
                break
            if not ok:
                break
        if len(labels) == len(symbols):
            return labels
        if s.cond != "small_modules" or attempt > 30:
            s.scale *= 0.93
    raise RuntimeError("could not place the symbols")


def finish(rng, s, img):
    light, add = illumination(rng, s.h, s.w, s.gradient, s.vignette, s.shadow, s.glare)
    img = img * (light * s.level)[..., None] + add[..., None]
    img = convolve(img, s.blur)
    return sensor(rng, img, s.full_well, s.read_noise, s.gamma, s.hot)


def screen_shown(rng, img, module):
    """The picture as an emissive screen shows it: content held per screen pixel (pitch a
    quarter to two thirds of `module` picture pixels, its grid a little turned), each lit as three
    round sub-pixel dots, red, green and blue in a row, with black between; then the screen's
    own tone curve."""
    h, w, _ = img.shape
    pitch = module / rng.uniform(1.5, 4.0)
    a = math.radians(rng.normal(0, 2))
    ca, sa = math.cos(a), math.sin(a)
    dot = rng.uniform(0.10, 0.16) * pitch
    out = np.zeros_like(img)
    n = 4
    for j in range(n):
        for i in range(n):
            yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
            xx += (i + 0.5) / n
            yy += (j + 0.5) / n
            u, v = (xx * ca + yy * sa) / pitch, (-xx * sa + yy * ca) / pitch
            cu, cv = np.floor(u), np.floor(v)
            # The content at the screen pixel's centre, nearest picture pixel.
            x0 = np.clip(((cu + 0.5) * ca - (cv + 0.5) * sa) * pitch, 0, w - 1).astype(int)
            y0 = np.clip(((cu + 0.5) * sa + (cv + 0.5) * ca) * pitch, 0, h - 1).astype(int)
            for c in range(3):
                du = (u - cu - (c + 0.5) / 3) * pitch
                dv = (v - cv - 0.5) * pitch
                spot = np.exp(-(du * du + dv * dv) / (2 * dot * dot))
                out[..., c] += spot * img[y0, x0, c]
    out /= n * n
    out *= 1 / max(out.mean() / max(img.mean(), 1e-6), 1e-6)
    return np.clip(out, 0, 1) ** rng.uniform(0.6, 1.6)


def positive(rng, cond):
    s = spec_for(rng, cond)
    s.cond = cond
    texts = []
    while len(texts) < s.count:
        t = random_text(rng, *s.text_len)
        if t not in texts:
            texts.append(t)
    symbols = [code39_symbol(rng, t, s.ratio, s.gap) for t in texts]
    if cond == "big":  # the module from the share of the picture the symbol fills
        turned = abs(((s.angle + 90) % 180) - 90) > 45
        side = s.h if turned else s.w
        s.scale = rng.uniform(1 / 3, 2 / 3) * side / symbols[0].width
        s.blur = [("gauss", s.scale * rng.uniform(0.05, 0.2))]
    if s.tight:
        sym = symbols[0]
        sym.height = max(10.0, sym.width * s.height_frac)
        l, r, t, b = s.tight
        s.w = int(math.ceil((sym.width + l + r) * s.scale))
        s.h = int(math.ceil((sym.height + t + b) * s.scale))
        cam = Camera(s.w, s.h)
        cx = (l + sym.width / 2) * s.scale
        cy = (t + sym.height / 2) * s.scale
        if abs(s.angle) > 90:  # upside down: the margins swap sides
            cx, cy = s.w - cx, s.h - cy
        labels = [make_label(rng, s, sym, s.angle, cx, cy)]
    else:
        cam = Camera(s.w, s.h, s.tilt, s.focal, s.k1, s.squash)
        labels = place(rng, s, cam, symbols)
    img = background(rng, s.background, s.h, s.w)
    for lab in labels:
        render_label(img, cam, lab, s.ss)
    if cond == "screen":
        img = screen_shown(rng, img, s.scale)
    pixels = finish(rng, s, img)
    symbols_out = [{"text": lab.symbol.text, "corners": symbol_corners(cam, lab)}
                   for lab in labels]
    params = {"module_px": round(s.scale, 2), "angle": round(float(s.angle), 1),
              "ratio": round(s.ratio, 2), "spread": round(s.spread, 2),
              "background": s.background, "format": s.fmt[0]}
    if s.tight:
        params["margins"] = [round(m, 2) for m in s.tight]
    return pixels, s.fmt, texts, symbols_out, params


OTHER_SYMBOLOGIES = [  # (zint barcode number, name, data maker, matrix row aspect)
    (20, "Code128", lambda r: random_text(r, 4, 12).replace(" ", "-"), None),
    (13, "EAN13", lambda r: "".join(r.choice(list("0123456789"), 12)), None),
    (34, "UPCA", lambda r: "".join(r.choice(list("0123456789"), 11)), None),
    (3, "ITF", lambda r: "".join(r.choice(list("0123456789"), 2 * int(r.integers(3, 8)))), None),
    (18, "Codabar", lambda r: "A" + "".join(r.choice(list("0123456789"), 8)) + "B", None),
    (25, "Code93", lambda r: random_text(r, 4, 10).replace(" ", "-"), None),
    (1, "Code11", lambda r: "".join(r.choice(list("0123456789-"), 8)), None),
    (47, "MSI", lambda r: "".join(r.choice(list("0123456789"), 8)), None),
    (32, "Telepen", lambda r: random_text(r, 4, 8).replace(" ", "-"), None),
    (7, "Industrial2of5", lambda r: "".join(r.choice(list("0123456789"), 8)), None),
    (55, "PDF417", lambda r: random_text(r, 6, 20), 3),
    (58, "QR", lambda r: random_text(r, 5, 30), 1),
    (71, "DataMatrix", lambda r: random_text(r, 5, 30), 1),
    (92, "Aztec", lambda r: random_text(r, 5, 30), 1),
]


def other_symbol(rng):
    number, name, data, aspect = OTHER_SYMBOLOGIES[int(rng.integers(len(OTHER_SYMBOLOGIES)))]
    rows = zint_dump(number, data(rng))
    if aspect is None:
        return runs_symbol(rng, rows[0], 0.0), name
    if name == "PDF417":
        width = max(max(i + 1 for i, b in enumerate(r) if b) for r in rows)
    else:
        width = len(rows)
    grid = np.array([r[:width] + [False] * (width - len(r)) for r in rows], bool)
    return Symbol("matrix", float(width), float(len(rows) * aspect), grid=grid), name


def text_page(rng):
    """A paragraph page as a binary picture, words of random letters and digits; now and then
    a word between asterisks, as Code 39's human-readable line prints it."""
    size = int(rng.integers(12, 22))
    font = ImageFont.truetype(FONT_DIR + str(rng.choice(
        ["DejaVuSans.ttf", "DejaVuSerif.ttf", "DejaVuSansMono.ttf", "DejaVuSans-Bold.ttf"])), size)
    w, h = 900, 700
    img = Image.new("L", (w, h), 0)
    d = ImageDraw.Draw(img)
    y = 10
    letters = "abcdefghijklmnopqrstuvwxyz" * 3 + "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789|Il1"
    while y < h - size:
        x = 10
        while x < w - 60:
            word = "".join(rng.choice(list(letters), int(rng.integers(1, 10))))
            if rng.random() < 0.05:
                word = "*" + random_text(rng, 3, 8) + "*"
            d.text((x, y), word, fill=255, font=font)
            x += int(d.textlength(word + " ", font=font))
        y += int(size * rng.uniform(1.2, 1.6))
        if rng.random() < 0.08:
            y += size
    return np.asarray(img) > 127


def negative(rng, cond):
    s = Recipe(rng)
    s.cond = cond
    cam = Camera(s.w, s.h, s.tilt, s.focal, s.k1)
    img = background(rng, s.background, s.h, s.w)
    params = {"background": s.background}
    if cond in ("neg_symbology", "neg_symbology_reversed", "neg_screen"):
        if cond.endswith("reversed"):
            s.paper, s.ink = s.ink * 1.5 + 0.02, s.paper
        s.angle = rng.uniform(0, 360) if rng.random() < 0.5 else rng.normal(0, 5)
        sym, name = other_symbol(rng)
        if sym.kind == "matrix":
            s.scale = rng.uniform(3, 6)
            s.caption = False
        params["symbology"] = name
        labels = place(rng, s, cam, [sym])
    elif cond == "neg_half":
        s.angle = rng.normal(0, 8) + (180 if rng.random() < 0.3 else 0)
        s.scale = rng.uniform(2.5, 4.5)
        text = random_text(rng, 6, 12)
        sym = code39_symbol(rng, text, s.ratio, s.gap)
        labels = None
        for _ in range(200):
            lab = make_label(rng, s, sym, s.angle, 0.0, rng.uniform(0.25, 0.75) * s.h)
            cut = rng.uniform(0.35, 0.65) * sym.width
            # Shift along the picture's x so that the cut lands on the left or right edge.
            x, _ = project(cam, lab, [cut], [sym.height / 2])
            lab.cx += (s.w if rng.random() < 0.5 else 0) - float(x[0])
            # The start or the stop character must lie wholly outside, the other end inside.
            first = 10 * s.ratio
            out = []
            for u_in, u_end in ((first, 0.0), (sym.width - first, sym.width)):
                xs, ys = project(cam, lab, [u_in, u_in, u_end], [0, sym.height, sym.height / 2])
                gone = ((xs[:2] < -1) | (xs[:2] > s.w + 1)).all()
                seen = 2 < xs[2] < s.w - 2 and 2 < ys[2] < s.h - 2
                out.append((gone, seen, ys))
            if (out[0][0] and out[1][1]) or (out[1][0] and out[0][1]):
                if all(2 < y < s.h - 2 for o in out for y in o[2]):
                    labels = [lab]
                    break
        if labels is None:
            raise RuntimeError("could not cut a half symbol")
        params["text_cut"] = text
    elif cond == "neg_wavy":
        s = spec_for(rng, cond)
        s.cond = cond
        cam = Camera(s.w, s.h)
        img = background(rng, s.background, s.h, s.w)
        sym = random_stripes(rng, int(rng.integers(30, 90)))
        sym.height = sym.width * s.height_frac
        labels = place(rng, s, cam, [sym])
    elif cond == "neg_text":
        page = text_page(rng)
        sym = Symbol("image", float(page.shape[1]), float(page.shape[0]), grid=page)
        s.scale = rng.uniform(0.7, 1.1)
        s.angle = rng.normal(0, 3)
        lab = make_label(rng, s, sym, s.angle, s.w / 2, s.h / 2)
        labels = [lab]
    else:  # neg_texture
        if rng.random() < 0.6:
            sym = random_stripes(rng, int(rng.integers(15, 40)))
            s.angle = rng.uniform(0, 360) if rng.random() < 0.5 else rng.normal(0, 5)
            params["texture"] = "random_bars"
            labels = place(rng, s, cam, [sym])
        else:
            kind = str(rng.choice(["fence", "plaid", "wood", "fabric"]))
            params["texture"] = kind
            if kind in ("wood", "fabric"):
                img = background(rng, kind, s.h, s.w)
            else:
                yy, xx = np.mgrid[0:s.h, 0:s.w].astype(np.float32)
                a = rng.uniform(0, math.pi)
                t = xx * math.cos(a) + yy * math.sin(a)
                p = rng.uniform(6, 30)
                g = (np.mod(t, p) < p * rng.uniform(0.3, 0.7)).astype(np.float32)
                if kind == "plaid":
                    t2 = -xx * math.sin(a) + yy * math.cos(a)
                    g = 0.5 * g + 0.5 * (np.mod(t2, p * 1.3) < p * 0.5)
                img = (0.1 + 0.7 * g)[..., None] * rng.uniform(0.6, 1.0, 3)
                img = img.astype(np.float32)
            labels = []
    for lab in labels:
        render_label(img, cam, lab, s.ss)
    if cond == "neg_screen":
        img = screen_shown(rng, img, s.scale)
        s.glare = rng.uniform(0.1, 0.6)
    pixels = finish(rng, s, img)
    return pixels, s.fmt, [], [], params


def one(task):
    out, cond, index, seed = task
    rng = np.random.default_rng([seed, CONDITIONS.index(cond), index])
    if cond in POSITIVE:
        pixels, fmt, texts, symbols, params = positive(rng, cond)
    else:
        pixels, fmt, texts, symbols, params = negative(rng, cond)
    data, ext = encode(rng, pixels, fmt)
    rel = f"{cond}/{index:04d}.{ext}"
    os.makedirs(os.path.join(out, cond), exist_ok=True)
    with open(os.path.join(out, rel), "wb") as f:
        f.write(data)
    return {"file": rel, "condition": cond, "texts": texts, "symbols": symbols,
            "params": params}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", required=True)
    ap.add_argument("--count", type=int, default=24, help="pictures per condition")
    ap.add_argument("--seed", type=int, default=20261208)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--only", default="", help="comma-separated conditions")
    args = ap.parse_args()
    conds = args.only.split(",") if args.only else CONDITIONS
    for c in conds:
        if c not in CONDITIONS:
            sys.exit(f"unknown condition {c}; known: {' '.join(CONDITIONS)}")
    manifest = os.path.join(args.out, "manifest.jsonl")
    if os.path.exists(args.out) and os.listdir(args.out) and not os.path.exists(manifest):
        sys.exit(f"{args.out} holds files but no manifest.jsonl; not writing into it")
    os.makedirs(args.out, exist_ok=True)
    tasks = [(args.out, c, i, args.seed) for c in conds for i in range(args.count)]
    with ProcessPoolExecutor(args.jobs) as pool:
        entries = list(pool.map(one, tasks, chunksize=4))
    if args.only and os.path.exists(manifest):
        with open(manifest) as f:
            old = [json.loads(line) for line in f if line.strip()]
        entries = [e for e in old if e["condition"] not in conds] + entries
        entries.sort(key=lambda e: (CONDITIONS.index(e["condition"]), e["file"]))
    with open(manifest + ".tmp", "w") as f:
        for e in entries:
            f.write(json.dumps(e) + "\n")
    os.replace(manifest + ".tmp", manifest)
    print(f"{len(entries)} pictures in {args.out}", file=sys.stderr)


if __name__ == "__main__":
    main()
