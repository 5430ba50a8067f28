#!/usr/bin/python3
"""Large pictures for timing the whole-picture reader: document pages and 12-megapixel photos.

    /usr/bin/python3 bench/reader/make_pages.py --out build/pages [--pages 12] [--photos 12] \
        [--sheets 0] [--seed 15] [--jobs 2]

page/NNNN.png    A4 at 300 dpi (2480 x 3508): paragraphs of text, a table or two, zero to three
                 Code 39 symbols drawn by zint (about a third of the pages hold none); scanner
                 skew, grey paper, a little noise.
photo/NNNN.jpg   4000 x 3000 photo-like pictures: one or two labels on a textured surface,
                 turned, in perspective, blurred, under a light gradient.
sheet/NNNN.png   --sheets: A4 sheets of 30 zint labels in a grid (every symbol must read).

DIR/manifest.jsonl: {"file": "page/0003.png", "condition": "page", "texts": ["AB-12"]}.
The same seed and counts give the same pictures.
"""

import argparse
import json
import math
import os
import subprocess
import tempfile
from concurrent.futures import ProcessPoolExecutor

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

A4 = (2480, 3508)
PHOTO = (4000, 3000)
ALPHABET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-."
FONTS = [
    "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSerifCondensed.ttf",
]
CJK_FONT = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
WORDS = ("the of and to in is for on that by with as this are from be at or an which it was "
         "invoice order delivery customer account number date total amount quantity price "
         "shipment warehouse address reference item description payment terms signature page "
         "section report summary received approved department material batch serial lot code "
         "please return copy original document attached note remarks conditions agreement").split()
CJK = "订单发货日期数量金额客户地址编号仓库备注签名批次物料说明合计单价部门审核收货"


def font(path, size):
    try:
        return ImageFont.truetype(path, int(size))
    except OSError:
        return ImageFont.load_default()


def text_font(rng, size):
    return font(FONTS[int(rng.integers(len(FONTS)))], size)


def random_code(rng, lo=4, hi=12):
    return "".join(rng.choice(list(ALPHABET), int(rng.integers(lo, hi + 1))))


def zint(data, module, tmp, height=None):
    """A Code 39 symbol with its human-readable line, `module` pixels per narrow element."""
    path = os.path.join(tmp, "z.png")
    cmd = ["zint", "-b", "8", "-d", data, "--scale", str(module / 2), "-o", path]
    if height:
        cmd += ["--height", str(height)]
    subprocess.run(cmd, check=True, capture_output=True)
    with Image.open(path) as im:
        return im.convert("L")


def sentence(rng, cjk):
    if cjk and rng.random() < 0.3:
        return "".join(rng.choice(list(CJK), int(rng.integers(6, 30))))
    words = list(rng.choice(WORDS, int(rng.integers(6, 18))))
    words[0] = words[0].capitalize()
    if rng.random() < 0.3:
        words.insert(int(rng.integers(len(words))), str(int(rng.integers(1, 99999))))
    return " ".join(words) + "."


def paragraph(d, rng, x, y, width, size, ink):
    f = text_font(rng, size)
    cjk = font(CJK_FONT, size)
    line, lines = "", []
    for _ in range(int(rng.integers(2, 7))):
        s = sentence(rng, True)
        for word in ([s] if not s.isascii() else s.split()):
            trial = (line + " " + word).strip()
            if d.textlength(trial, font=f if trial.isascii() else cjk) > width and line:
                lines.append(line)
                line = word
            else:
                line = trial
    lines.append(line)
    for ln in lines:
        d.text((x, y), ln, font=f if ln.isascii() else cjk, fill=ink)
        y += int(size * 1.35)
    return y + int(size * 0.8)


def table(d, rng, x, y, width, size, ink):
    cols = int(rng.integers(3, 7))
    rows = int(rng.integers(3, 12))
    f = text_font(rng, size * 0.9)
    rh = int(size * 1.8)
    cw = width // cols
    for r in range(rows + 1):
        d.line([(x, y + r * rh), (x + cols * cw, y + r * rh)], fill=ink, width=2)
    for c in range(cols + 1):
        d.line([(x + c * cw, y), (x + c * cw, y + rows * rh)], fill=ink, width=2)
    for r in range(rows):
        for c in range(cols):
            cell = (str(rng.choice(WORDS)).capitalize() if r == 0 else
                    f"{rng.uniform(0, 9999):.2f}" if rng.random() < 0.5 else str(rng.choice(WORDS)))
            d.text((x + c * cw + 10, y + r * rh + size * 0.35), cell, font=f, fill=ink)
    return y + rows * rh + int(size)


def page(rng, tmp):
    w, h = A4
    img = Image.new("L", (w, h), 255)
    d = ImageDraw.Draw(img)
    margin = 240
    size = rng.uniform(36, 54)  # 9 to 13 points at 300 dpi
    ink = int(rng.integers(0, 60))
    count = int(rng.choice([0, 1, 1, 2, 3]))
    # Symbols go into gaps between the text blocks, full width is never needed.
    slots = sorted(rng.choice(np.arange(1, 9), count, replace=False)) if count else []
    texts = []
    y = margin
    d.text((margin, y), " ".join(rng.choice(WORDS, 4)).upper(), font=text_font(rng, size * 1.6),
           fill=ink)
    y += int(size * 3)
    block = 0
    while y < h - margin - 300:
        block += 1
        if block in slots:
            data = random_code(rng)
            sym = zint(data, rng.uniform(2.5, 5), tmp, height=int(rng.integers(30, 60)))
            if sym.size[0] < w - 2 * margin and y + sym.size[1] < h - margin:
                x = int(rng.integers(margin, w - margin - sym.size[0] + 1))
                img.paste(sym, (x, y))
                texts.append(data)
                y += sym.size[1] + int(size)
                continue
        if rng.random() < 0.25:
            y = table(d, rng, margin, y, w - 2 * margin, size, ink)
        else:
            y = paragraph(d, rng, margin, y, w - 2 * margin, size, ink)
    # A scanner: slight skew, grey paper, a little blur and noise.
    img = img.rotate(rng.uniform(-1.5, 1.5), resample=Image.BILINEAR, fillcolor=255)
    a = np.asarray(img, np.float32)
    paper = rng.uniform(215, 250)
    a = a / 255 * paper + rng.normal(0, rng.uniform(1, 5), a.shape)
    img = Image.fromarray(a.clip(0, 255).astype(np.uint8))
    if rng.random() < 0.5:
        img = img.filter(ImageFilter.GaussianBlur(rng.uniform(0.3, 0.9)))
    return img, texts


def smooth_noise(rng, h, w, cell):
    small = rng.normal(0, 1, (max(2, h // cell), max(2, w // cell))).astype(np.float32)
    return np.asarray(Image.fromarray(small).resize((w, h), Image.BICUBIC))


def photo_label(rng, tmp):
    data = random_code(rng)
    sym = zint(data, rng.uniform(3, 7), tmp, height=int(rng.integers(25, 50)))
    pad = int(rng.integers(40, 120))
    lab = Image.new("L", (sym.size[0] + 2 * pad, sym.size[1] + 2 * pad + 120), 255)
    lab.paste(sym, (pad, pad + 120))
    d = ImageDraw.Draw(lab)
    d.text((pad, 30), " ".join(rng.choice(WORDS, 3)).upper(), font=text_font(rng, 60), fill=0)
    return lab, data


def photo(rng, tmp):
    w, h = PHOTO
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    base = rng.uniform(60, 180)
    surface = base + 25 * smooth_noise(rng, h, w, 200) + 10 * smooth_noise(rng, h, w, 8)
    if rng.random() < 0.5:  # wood-like grain
        surface += 15 * np.sin(yy / rng.uniform(6, 20) + 3 * smooth_noise(rng, h, w, 300))
    canvas = Image.fromarray(surface.clip(0, 255).astype(np.uint8))
    texts = []
    for i in range(int(rng.integers(1, 3))):
        lab, data = photo_label(rng, tmp)
        scale = rng.uniform(1.2, 2.5)
        lab = lab.resize((int(lab.size[0] * scale), int(lab.size[1] * scale)), Image.BICUBIC)
        turn = rng.uniform(-25, 25)
        mask = Image.new("L", lab.size, 255).rotate(turn, resample=Image.BILINEAR, expand=True)
        lab = lab.rotate(turn, resample=Image.BICUBIC, expand=True)
        if lab.size[0] >= w or lab.size[1] >= h // 2:
            lab = lab.resize((lab.size[0] * 2 // 3, lab.size[1] * 2 // 3), Image.BICUBIC)
            mask = mask.resize(lab.size, Image.BILINEAR)
        x = int(rng.integers(0, max(1, w - lab.size[0])))
        y = int(rng.integers(0, max(1, h // 2 - lab.size[1]))) + i * h // 2
        # Perspective: squeeze one side of the label.
        k = rng.uniform(0, 0.15)
        lw, lh = lab.size
        coeffs = find_coeffs([(0, 0), (lw, k * lh), (lw, lh - k * lh), (0, lh)],
                             [(0, 0), (lw, 0), (lw, lh), (0, lh)])
        lab = lab.transform(lab.size, Image.PERSPECTIVE, coeffs, Image.BICUBIC)
        mask = mask.transform(mask.size, Image.PERSPECTIVE, coeffs, Image.BILINEAR)
        canvas.paste(lab, (x, y), mask)
        texts.append(data)
    a = np.asarray(canvas.filter(ImageFilter.GaussianBlur(rng.uniform(0.5, 2.5))), np.float32)
    ang = rng.uniform(0, 2 * math.pi)
    light = 0.6 + 0.4 * ((xx * math.cos(ang) + yy * math.sin(ang)) / max(w, h) + 1) / 2
    a = a * light + rng.normal(0, rng.uniform(2, 6), a.shape)
    rgb = np.stack([a * rng.uniform(0.9, 1.05), a, a * rng.uniform(0.85, 1.0)], axis=-1)
    return Image.fromarray(rgb.clip(0, 255).astype(np.uint8)), texts


def find_coeffs(dst, src):
    """Coefficients for PIL's PERSPECTIVE transform that map dst points back to src."""
    m = []
    for (x, y), (u, v) in zip(dst, src):
        m.append([x, y, 1, 0, 0, 0, -u * x, -u * y])
        m.append([0, 0, 0, x, y, 1, -v * x, -v * y])
    b = np.array(src, np.float64).reshape(8)
    return np.linalg.solve(np.array(m, np.float64), b).tolist()


def sheet(rng, tmp, labels=30):
    """A4 with `labels` zint labels in a grid of three columns."""
    w, h = A4
    img = Image.new("L", (w, h), 255)
    texts = []
    cols = 3
    rows = (labels + cols - 1) // cols
    cw, rh = (w - 200) // cols, (h - 200) // rows
    for i in range(labels):
        data = random_code(rng, 4, 8)
        sym = zint(data, 3, tmp, height=20)
        if sym.size[0] > cw - 20:
            sym = zint(data, 2, tmp, height=20)
        x = 100 + (i % cols) * cw + (cw - sym.size[0]) // 2
        y = 100 + (i // cols) * rh + (rh - sym.size[1]) // 2
        img.paste(sym, (x, y))
        texts.append(data)
    return img, texts


def one(task):
    seed, cond, index, out = task
    rng = np.random.default_rng([seed, ["page", "photo", "sheet"].index(cond), index])
    with tempfile.TemporaryDirectory() as tmp:
        img, texts = {"page": page, "photo": photo, "sheet": sheet}[cond](rng, tmp)
    rel = f"{cond}/{index:04d}.{'jpg' if cond == 'photo' else 'png'}"
    path = os.path.join(out, rel)
    if cond == "photo":
        img.save(path, quality=int(rng.integers(85, 95)))
    else:
        img.save(path)
    return {"file": rel, "condition": cond, "texts": texts}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", required=True)
    ap.add_argument("--pages", type=int, default=12)
    ap.add_argument("--photos", type=int, default=12)
    ap.add_argument("--sheets", type=int, default=0)
    ap.add_argument("--seed", type=int, default=15)
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args()
    tasks = []
    for cond, n in (("page", args.pages), ("photo", args.photos), ("sheet", args.sheets)):
        if n:
            os.makedirs(os.path.join(args.out, cond), exist_ok=True)
        tasks += [(args.seed, cond, i, args.out) for i in range(n)]
    with ProcessPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        entries = list(pool.map(one, tasks))
    with open(os.path.join(args.out, "manifest.jsonl"), "w") as f:
        for e in entries:
            f.write(json.dumps(e) + "\n")


if __name__ == "__main__":
    main()
