#!/usr/bin/env python3
"""Draw TAVOSweeper's icon and write it as a Windows .ico file.

Usage: make_icon.py OUT.ico

The artwork is a blue shield with a white keyhole (the product it cleans up
after is a crypto product) and a red "remove" badge with a white cross.
It is drawn from simple geometry, supersampled, and written as nine DIB
images: 16, 32 and 48 px at 4 bpp, then at 8 bpp, then at 32 bpp with alpha.
Only the standard library is used, and the output is the same bytes on every
run, so builds stay reproducible.
"""

import struct
import sys

SIZES = (16, 32, 48)
DEPTHS = (4, 8, 32)
SUPERSAMPLE = 8          # samples per pixel edge
ALPHA_CUTOFF = 128       # below this a pixel counts as transparent in masks

# The 16 standard VGA colours; the 4 bpp images use exactly this palette.
VGA16 = (
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
)

# Colour schemes. The full-colour one has gradients; the 16-colour one uses
# only VGA colours, so quantising it gives clean flat areas instead of
# arbitrary nearest-colour picks.
SCHEME_FULL = {
    "rim": (14, 36, 92),
    "shield_top": (74, 144, 226),
    "shield_bottom": (22, 74, 170),
    "shield_shade": 0.86,          # right half is darker: a folded look
    "keyhole": (255, 255, 255),
    "badge_rim": (255, 255, 255),
    "badge_top": (240, 70, 60),
    "badge_bottom": (176, 16, 16),
    "cross": (255, 255, 255),
}
SCHEME_VGA = {
    "rim": (0, 0, 128),
    "shield_top": (0, 0, 255),
    "shield_bottom": (0, 0, 255),
    "shield_shade": 1.0,
    "keyhole": (255, 255, 255),
    "badge_rim": (255, 255, 255),
    "badge_top": (255, 0, 0),
    "badge_bottom": (255, 0, 0),
    "cross": (255, 255, 255),
}


def palette_256(ramps):
    """6x6x6 colour cube, the VGA colours it lacks, then the given ramps.

    The ramps carry the artwork's gradients, which the cube alone would
    band badly. The palette is the same for every image and every run.
    """
    pal = []
    steps = (0, 51, 102, 153, 204, 255)
    for r in steps:
        for g in steps:
            for b in steps:
                pal.append((r, g, b))
    for c in VGA16:
        if c not in pal:
            pal.append(c)
    for start, end, count in ramps:
        for k in range(count):
            c = tuple(int(start[i] + (end[i] - start[i]) * k / (count - 1) + 0.5)
                      for i in range(3))
            if c not in pal and len(pal) < 256:
                pal.append(c)
    while len(pal) < 256:
        pal.append((0, 0, 0))
    return tuple(pal)


def shaded(c, k):
    return tuple(int(v * k + 0.5) for v in c)


PALETTES = {
    4: VGA16,
    8: palette_256((
        (SCHEME_FULL["shield_top"], SCHEME_FULL["shield_bottom"], 11),
        (shaded(SCHEME_FULL["shield_top"], SCHEME_FULL["shield_shade"]),
         shaded(SCHEME_FULL["shield_bottom"], SCHEME_FULL["shield_shade"]), 11),
        (SCHEME_FULL["badge_top"], SCHEME_FULL["badge_bottom"], 10),
    )),
}


class Geometry:
    """Shape parameters in unit coordinates (0..1, y down) for one size.

    The 16 px image is laid out in whole pixels so that its few strokes stay
    crisp; the larger sizes share one proportional layout.
    """

    def __init__(self, size):
        def on_pixel(v):
            # Nearest pixel centre, so odd-width strokes stay crisp.
            return (int(v * size) + 0.5) / size

        self.top, self.bottom = 0.04, 0.97
        self.top_dip = 0.05                 # the top edge sags in the middle
        self.straight = 0.42                # share of the height with straight sides
        if size <= 16:
            px = 1.0 / size
            self.left, self.right = 1 * px, 13 * px
            self.rim = 1.3 * px
            # A 4x4 rounded dot over a 2 px wide stem.
            self.key_cx, self.key_cy = 7 * px, 5 * px
            self.key_r = 2 * px
            self.key_stem_bottom = 9 * px
            self.key_stem_top_half = 0.5 * px
            self.key_stem_bottom_half = 2 * px
            # A plain red disc: a white ring would touch the cross and blur
            # it at this size.
            self.badge_cx = self.badge_cy = 11.5 * px
            self.badge_r = 4.5 * px
            self.badge_rim = 0.0
            self.cross_half = 2 * px
            self.cross_width = 0.95 * px
        else:
            self.left, self.right = 0.04, 0.78
            self.rim = 0.06
            self.key_cx = on_pixel((self.left + self.right) / 2)
            self.key_cy = on_pixel(0.30)
            self.key_r = (int(0.095 * size) + 0.5) / size
            self.key_stem_bottom = 0.55
            self.key_stem_top_half = 0.035
            self.key_stem_bottom_half = 0.07
            self.badge_cx = self.badge_cy = on_pixel(0.735)
            self.badge_r = 0.255
            self.badge_rim = 0.05
            self.cross_half = int(0.095 * size + 0.5) / size
            self.cross_width = 0.065

    @property
    def cx(self):
        return (self.left + self.right) / 2


def shield_half_width(g, y, inset):
    """Half-width of the shield at height y, or -1 outside its height.

    The sides run straight, then close to a point along 1 - t^2, which
    gives the classic pointed bottom. inset shrinks the outline for the
    inner face.
    """
    bottom = g.bottom - inset * 1.8
    if y > bottom:
        return -1.0
    half = (g.right - g.left) / 2 - inset
    mid = g.top + (g.bottom - g.top) * g.straight
    if y <= mid:
        return half
    t = (y - mid) / (bottom - mid)
    return half * (1.0 - t * t)


def inside_shield(g, x, y, inset=0.0):
    half = shield_half_width(g, y, inset)
    if half < 0:
        return False
    dx = (x - g.cx) / ((g.right - g.left) / 2)
    top = g.top + inset + g.top_dip * (1.0 - dx * dx)
    return y >= top and abs(x - g.cx) <= half


def inside_keyhole(g, x, y):
    dx, dy = x - g.key_cx, y - g.key_cy
    if dx * dx + dy * dy <= g.key_r * g.key_r:
        return True
    if g.key_cy <= y <= g.key_stem_bottom:
        t = (y - g.key_cy) / (g.key_stem_bottom - g.key_cy)
        half = g.key_stem_top_half + t * (g.key_stem_bottom_half - g.key_stem_top_half)
        return abs(dx) <= half
    return False


def near_segment(px, py, ax, ay, bx, by, width):
    """True if (px, py) lies within width/2 of the segment a-b."""
    vx, vy = bx - ax, by - ay
    t = ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)
    t = max(0.0, min(1.0, t))
    qx, qy = ax + t * vx - px, ay + t * vy - py
    return qx * qx + qy * qy <= width * width / 4


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


# Parts of the drawing, front to back.
PARTS = ("cross", "badge_rim", "badge", "keyhole", "rim", "face", "shade")


def sample(g, scheme, x, y):
    """(part, (r, g, b)) of the topmost shape at (x, y), or None if empty."""
    bx, by = x - g.badge_cx, y - g.badge_cy
    d2 = bx * bx + by * by
    if d2 <= g.badge_r * g.badge_r:
        h = g.cross_half
        w = g.cross_width
        if (near_segment(x, y, g.badge_cx - h, g.badge_cy - h, g.badge_cx + h, g.badge_cy + h, w)
                or near_segment(x, y, g.badge_cx - h, g.badge_cy + h, g.badge_cx + h, g.badge_cy - h, w)):
            return "cross", scheme["cross"]
        inner = g.badge_r - g.badge_rim
        if d2 > inner * inner:
            return "badge_rim", scheme["badge_rim"]
        t = (by + inner) / (2 * inner)
        return "badge", mix(scheme["badge_top"], scheme["badge_bottom"], t)
    if not inside_shield(g, x, y):
        return None
    if not inside_shield(g, x, y, g.rim):
        return "rim", scheme["rim"]
    if inside_keyhole(g, x, y):
        return "keyhole", scheme["keyhole"]
    t = (y - g.top) / (g.bottom - g.top)
    c = mix(scheme["shield_top"], scheme["shield_bottom"], t)
    if x > g.cx:
        return "shade", shaded(c, scheme["shield_shade"])
    return "face", c


def render(size, scheme, crisp):
    """Supersampled RGBA rows (straight alpha, 0..255), top row first.

    Alpha is the covered share of the samples and the colour their mean.
    With crisp, only the samples of the part (rim, face, cross...) that
    covers most of the pixel count: small images and palette images then
    get clean edges between parts instead of blends.
    """
    g = Geometry(size)
    n = SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            parts = {}
            for sy in range(n):
                y = (py + (sy + 0.5) / n) / size
                for sx in range(n):
                    hit = sample(g, scheme, (px + (sx + 0.5) / n) / size, y)
                    if hit is not None:
                        parts.setdefault(hit[0], []).append(hit[1])
            hits = sum(len(v) for v in parts.values())
            if hits == 0:
                row.append((0, 0, 0, 0))
                continue
            if crisp:
                # Ties go to the part in front, the same on both sides of
                # the shield, so symmetric shapes stay symmetric.
                part = min(parts, key=lambda p: (-len(parts[p]), PARTS.index(p)))
                colours = parts[part]
            else:
                colours = [c for v in parts.values() for c in v]
            colour = [sum(c[i] for c in colours) / len(colours) for i in range(3)]
            alpha = (255 * hits + n * n // 2) // (n * n)
            row.append(tuple(int(v + 0.5) for v in colour) + (alpha,))
        rows.append(row)
    return rows


def nearest_index(palette, rgb, cache):
    hit = cache.get(rgb)
    if hit is None:
        best = None
        for i, p in enumerate(palette):
            # Weighted RGB distance: the eye is most sensitive to green.
            d = (3 * (p[0] - rgb[0]) ** 2 + 4 * (p[1] - rgb[1]) ** 2
                 + 2 * (p[2] - rgb[2]) ** 2)
            if best is None or d < best[0]:
                best = (d, i)
        hit = cache[rgb] = best[1]
    return hit


def row_bytes(width, bpp):
    """Bytes in one DIB row, padded to a 4-byte boundary."""
    return ((width * bpp + 31) // 32) * 4


def and_mask(rows, size):
    """1 bpp mask, bottom row first: a set bit means transparent."""
    out = bytearray()
    stride = row_bytes(size, 1)
    for row in reversed(rows):
        line = bytearray(stride)
        for x, px in enumerate(row):
            if px[3] < ALPHA_CUTOFF:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def dib(rows, size, bpp):
    """BITMAPINFOHEADER, palette, colour bits and AND mask of one icon image."""
    stride = row_bytes(size, bpp)
    pixels = bytearray()
    palette = b""
    if bpp == 32:
        for row in reversed(rows):
            for r, g, b, a in row:
                pixels += bytes((b, g, r, a)) if a else b"\0\0\0\0"
    else:
        # Entry 0 of both palettes is black: transparent pixels must be
        # black in the colour bits, since Windows ANDs the mask, then XORs.
        pal = PALETTES[bpp]
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in pal)
        cache = {}
        for row in reversed(rows):
            idx = [0 if a < ALPHA_CUTOFF else nearest_index(pal, (r, g, b), cache)
                   for r, g, b, a in row]
            line = bytearray(stride)
            if bpp == 8:
                line[:size] = bytes(idx)
            else:
                for x, i in enumerate(idx):
                    line[x // 2] |= i << (4 if x % 2 == 0 else 0)
            pixels += line
    mask = and_mask(rows, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + palette + bytes(pixels) + mask


def build_ico():
    images = []
    for bpp in DEPTHS:
        for size in SIZES:
            scheme = SCHEME_VGA if bpp == 4 else SCHEME_FULL
            rows = render(size, scheme, crisp=bpp == 4 or size <= 16)
            images.append((size, bpp, dib(rows, size, bpp)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bpp, data in images:
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py OUT.ico\n")
        return 2
    data = build_ico()
    with open(argv[1], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
