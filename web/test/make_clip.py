"""Writes a short Y4M clip (what Chromium's fake camera plays) of Code 39 labels on paper.

    make_clip.py OUT.y4m [--size 1280x720] [--fps 30] [--frames 30] [--label TEXT,X,Y,ANGLE]...

Each label is drawn by zint, turned by ANGLE degrees and placed with its centre at (X, Y).
The camera wobbles by a pixel or two from frame to frame and every frame has its own noise,
so no two frames are alike. Y4M: one header line, then per frame "FRAME\\n" and the Y, U and
V planes of 4:2:0 video (BT.601, video range).
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image


def label(text, folder, index):
    path = os.path.join(folder, f"label{index}.png")
    subprocess.run(["zint", "-b", "8", "-d", text, "--scale=2", "--whitesp=10", "--height=40",
                    "-o", path], check=True, stdout=subprocess.DEVNULL)
    return Image.open(path).convert("L")


def scene(width, height, labels):
    paper = Image.new("L", (width, height), 205)
    folder = tempfile.mkdtemp(prefix="scan39-clip-")
    for index, (text, x, y, angle) in enumerate(labels):
        picture = label(text, folder, index)
        turned = picture.rotate(angle, resample=Image.BICUBIC, expand=True, fillcolor=0)
        mask = Image.new("L", picture.size, 255).rotate(angle, resample=Image.BICUBIC, expand=True)
        paper.paste(turned, (int(x - turned.width / 2), int(y - turned.height / 2)), mask)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    os.rmdir(folder)
    return np.asarray(paper, dtype=np.float32)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--size", default="1280x720")
    parser.add_argument("--fps", type=int, default=30)
    parser.add_argument("--frames", type=int, default=30)
    parser.add_argument("--label", action="append", default=[])
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.split("x"))
    if width % 2 or height % 2:
        sys.exit("the size must be even for 4:2:0")
    labels = []
    for given in args.label:
        text, x, y, angle = given.rsplit(",", 3)
        labels.append((text, float(x), float(y), float(angle)))

    base = scene(width, height, labels)
    # Full-range grey to video-range luma; the paper has a faint warm tint in the chroma.
    luma = 16 + base * (219 / 255)
    u = np.full((height // 2, width // 2), 124, np.uint8)
    v = np.full((height // 2, width // 2), 132, np.uint8)
    rng = np.random.default_rng(39)
    # A fresh file beside the clip, never an existing one or a link's target, then renamed.
    fd, tmp = tempfile.mkstemp(prefix=".clip-", dir=os.path.dirname(os.path.abspath(args.out)))
    with os.fdopen(fd, "wb") as out:
        out.write(f"YUV4MPEG2 W{width} H{height} F{args.fps}:1 Ip A1:1 C420jpeg\n".encode())
        for i in range(args.frames):
            dx, dy = int(round(2 * np.sin(i * 0.7))), int(round(2 * np.cos(i * 0.5)))
            frame = np.roll(luma, (dy, dx), axis=(0, 1)) + rng.normal(0, 4, luma.shape)
            out.write(b"FRAME\n")
            out.write(np.clip(frame, 16, 235).astype(np.uint8).tobytes())
            out.write(u.tobytes())
            out.write(v.tobytes())
    os.chmod(tmp, 0o644)  # mkstemp's file is private; the clip is not
    os.replace(tmp, args.out)


if __name__ == "__main__":
    main()
