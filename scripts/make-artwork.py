#!/usr/bin/python3
"""Draws Brenwick's pictures: the About picture (500 x 350 JPEG) and the program icon (PNG, several sizes).

The pictures are committed; run this again (Debian python3-pil, fonts-dejavu-core) only to change them:
    scripts/make-artwork.py app/main/art   (the Debian python3)
"""
import math
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
FONT_LIGHT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
NAVY = (0, 0, 128)
SILVER = (192, 192, 192)
ICON_SIZES = (16, 32, 48, 64, 128, 256)


def disc(draw, cx, cy, r, rings=True):
    """A recordable disc: silver face, rainbow sheen rings, clear hub."""
    draw.ellipse((cx - r, cy - r, cx + r, cy + r), fill=(214, 218, 226), outline=(120, 124, 140))
    if rings:
        for i in range(12):
            rr = r * (0.92 - i * 0.045)
            hue = i / 12.0
            col = tuple(int(170 + 60 * math.sin(2 * math.pi * (hue + k / 3.0))) for k in range(3))
            draw.ellipse((cx - rr, cy - rr, cx + rr, cy + rr), outline=col, width=max(1, int(r / 40)))
    hub = r * 0.30
    draw.ellipse((cx - hub, cy - hub, cx + hub, cy + hub), fill=(236, 238, 242), outline=(150, 150, 160))
    hole = r * 0.12
    draw.ellipse((cx - hole, cy - hole, cx + hole, cy + hole), fill=NAVY)


def about_picture():
    w, h = 500, 350
    img = Image.new("RGB", (w, h))
    px = img.load()
    for y in range(h):  # a navy gradient, darker at the bottom
        t = y / (h - 1)
        for x in range(w):
            px[x, y] = (int(10 * (1 - t)), int(20 * (1 - t) + 10), int(150 - 70 * t))
    d = ImageDraw.Draw(img)
    disc(d, 400, 150, 85)
    d.rectangle((0, 300, w, h), fill=SILVER)  # a silver band along the bottom
    d.text((34, 95), "Brenwick", font=ImageFont.truetype(FONT, 44), fill=(255, 255, 255))
    d.text((36, 152), "Backups on optical discs", font=ImageFont.truetype(FONT_LIGHT, 17), fill=(200, 210, 255))
    d.text((20, 316), "Double-click to close", font=ImageFont.truetype(FONT_LIGHT, 13), fill=NAVY)
    return img


def icon(size):
    big = Image.new("RGBA", (256, 256), (0, 0, 0, 0))
    d = ImageDraw.Draw(big)
    disc(d, 128, 128, 120)
    d.rounded_rectangle((150, 150, 250, 250), radius=18, fill=NAVY)
    d.text((176, 160), "B", font=ImageFont.truetype(FONT, 72), fill=(255, 255, 255))
    return big.resize((size, size), Image.LANCZOS)


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "app/main/art")
    out.mkdir(parents=True, exist_ok=True)
    about_picture().save(out / "about.jpg", "JPEG", quality=88)
    for s in ICON_SIZES:
        icon(s).save(out / f"brenwick-{s}.png", "PNG", optimize=True)


if __name__ == "__main__":
    main()
