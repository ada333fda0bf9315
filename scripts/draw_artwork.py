#!/usr/bin/env python3
"""Draws Brenvale's artwork and writes it into the resources folder.

    python3 scripts/draw_artwork.py [REPOSITORY_ROOT]

Writes:
  resources/icons/brenvale.png     window icon, 64x64 RGBA PNG
  resources/program/HAND-M.CUR     pointing-hand cursor, 32x32, 32-bit
  resources/program/drag.ico       "drag an item" pointer, 32x32, 32-bit
  desktop/icons/NxN/org.brenvale.Brenvale.png
                                   the icon for the desktop's icon theme,
                                   N = 16, 22, 24, 32, 48, 64, 128, 256
  desktop/icons/scalable/org.brenvale.Brenvale.svg
                                   the same icon drawn with the same shapes

Only the standard library is used and nothing depends on time, locale or
random numbers, so every run writes the same bytes. The files in the
repository are this script's output; edit the drawing here and run it again
rather than editing the binaries.
"""

import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------------------
# File writers
# ---------------------------------------------------------------------------


def png_bytes(width, height, rgba_rows):
    """A truecolour-with-alpha PNG from rows of (r, g, b, a) tuples."""

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in rgba_rows:
        raw.append(0)  # filter type: none
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def icon_bytes(kind, size, rgba_rows, hotspot=(0, 0)):
    """A one-image .ICO (kind 1) or .CUR (kind 2) holding a 32-bit BMP.

    The BMP is stored bottom-up with its height doubled, followed by the
    1-bit AND mask (set where the pixel is fully transparent).
    """
    xor = bytearray()
    mask = bytearray()
    row_mask_bytes = ((size + 31) // 32) * 4
    for row in reversed(rgba_rows):
        bits = 0
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
            bits = (bits << 1) | (1 if a == 0 else 0)
        mask += bits.to_bytes((size + 7) // 8, "big").ljust(row_mask_bytes, b"\0")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    if kind == 1:
        field1, field2 = 1, 32          # colour planes, bits per pixel
    else:
        field1, field2 = hotspot        # hotspot x, hotspot y
    directory = struct.pack("<HHH", 0, kind, 1)
    entry = struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0,
                        field1, field2, len(image), 6 + 16)
    return directory + entry + image


# ---------------------------------------------------------------------------
# Window icon: an orange pair of beamed notes inside a white circular arrow
# on a deep blue disc. Drawn with shapes in a 64x64 space, and sampled
# several times per pixel at whatever size is asked for.
# ---------------------------------------------------------------------------

ICON_SIZE = 64
THEME_ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
APP_ID = "org.brenvale.Brenvale"

DISC_BLUE = (24, 78, 140)
DISC_RIM = (14, 50, 96)
ARROW_WHITE = (255, 255, 255)
NOTE_ORANGE = (255, 146, 28)

CX, CY = 32.0, 32.0


def in_ellipse(x, y, cx, cy, a, b, angle_deg):
    t = math.radians(angle_deg)
    dx, dy = x - cx, y - cy
    u = dx * math.cos(t) + dy * math.sin(t)
    v = -dx * math.sin(t) + dy * math.cos(t)
    return (u / a) ** 2 + (v / b) ** 2 <= 1.0


def in_triangle(x, y, p0, p1, p2):
    def side(a, b):
        return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0])
    s0, s1, s2 = side(p0, p1), side(p1, p2), side(p2, p0)
    return (s0 >= 0 and s1 >= 0 and s2 >= 0) or (s0 <= 0 and s1 <= 0 and s2 <= 0)


# Circular arrow: a band around the centre, open near the top, running
# clockwise from its tail (upper right) to an arrowhead (top, pointing right).
RING_RADIUS = 22.0
RING_HALF_WIDTH = 3.0
ARC_TAIL = math.radians(-42.0)            # screen angles: y grows downwards
ARC_HEAD = math.radians(-100.0 + 360.0)
HEAD_HALF_WIDTH = 6.5
HEAD_SWEEP = 0.46                        # radians from head base to tip


def _arrowhead():
    base = (CX + RING_RADIUS * math.cos(ARC_HEAD), CY + RING_RADIUS * math.sin(ARC_HEAD))
    normal = (math.cos(ARC_HEAD), math.sin(ARC_HEAD))
    tip_angle = ARC_HEAD + HEAD_SWEEP
    tip = (CX + RING_RADIUS * math.cos(tip_angle), CY + RING_RADIUS * math.sin(tip_angle))
    return ((base[0] + normal[0] * HEAD_HALF_WIDTH, base[1] + normal[1] * HEAD_HALF_WIDTH),
            (base[0] - normal[0] * HEAD_HALF_WIDTH, base[1] - normal[1] * HEAD_HALF_WIDTH),
            tip)


ARROWHEAD = _arrowhead()


def in_arrow(x, y):
    if in_triangle(x, y, *ARROWHEAD):
        return True
    r = math.hypot(x - CX, y - CY)
    if abs(r - RING_RADIUS) > RING_HALF_WIDTH:
        return False
    angle = math.atan2(y - CY, x - CX)
    while angle < ARC_TAIL:
        angle += 2.0 * math.pi
    if angle <= ARC_HEAD:
        return True
    # Round cap at the tail end.
    tail = (CX + RING_RADIUS * math.cos(ARC_TAIL), CY + RING_RADIUS * math.sin(ARC_TAIL))
    return math.hypot(x - tail[0], y - tail[1]) <= RING_HALF_WIDTH


# Beamed pair of notes, drawn in its own coordinates and placed by NOTE_*.
NOTE_SCALE = 0.80
NOTE_ORIGIN = (32.0, 31.0)     # icon point where the note's (0, 0) lands


def in_note(x, y):
    u = (x - NOTE_ORIGIN[0]) / NOTE_SCALE
    v = (y - NOTE_ORIGIN[1]) / NOTE_SCALE
    # Note heads: tilted ellipses.
    if in_ellipse(u, v, -8.0, 10.5, 5.4, 3.9, -24.0):
        return True
    if in_ellipse(u, v, 9.0, 7.0, 5.4, 3.9, -24.0):
        return True
    # Stems on the right of each head.
    stem_w = 2.8
    if -3.7 - stem_w <= u <= -3.7 and -12.0 <= v <= 10.0:
        return True
    if 13.3 - stem_w <= u <= 13.3 and -15.5 <= v <= 6.5:
        return True
    # Beam: a slanted bar joining the stem tops.
    if -3.7 - stem_w <= u <= 13.3:
        t = (u - (-3.7 - stem_w)) / (13.3 - (-3.7 - stem_w))
        top = -13.5 + t * (-17.0 + 13.5)
        if top <= v <= top + 5.6:
            return True
    return False


def icon_sample(x, y):
    """Colour at a point of the icon, or None where it is transparent."""
    r = math.hypot(x - CX, y - CY)
    if r > 30.5:
        return None
    if in_note(x, y):
        return NOTE_ORANGE
    if in_arrow(x, y):
        return ARROW_WHITE
    if r > 28.7:
        return DISC_RIM
    return DISC_BLUE


def icon_samples_per_side(size):
    """8x8 samples per pixel up to 64 pixels; fewer for the large sizes,
    whose pixels each cover less of the drawing."""
    if size <= 64:
        return 8
    return 6 if size <= 128 else 4


def draw_icon(size=ICON_SIZE):
    n = icon_samples_per_side(size)
    scale = ICON_SIZE / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            covered = 0
            sr = sg = sb = 0
            for sy in range(n):
                for sx in range(n):
                    c = icon_sample((px + (sx + 0.5) / n) * scale, (py + (sy + 0.5) / n) * scale)
                    if c is not None:
                        covered += 1
                        sr += c[0]
                        sg += c[1]
                        sb += c[2]
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(((sr + covered // 2) // covered,
                            (sg + covered // 2) // covered,
                            (sb + covered // 2) // covered,
                            (255 * covered + n * n // 2) // (n * n)))
        rows.append(row)
    return rows


def _hex(colour):
    return "#%02x%02x%02x" % colour


def _num(value):
    text = "%.3f" % value
    return text.rstrip("0").rstrip(".") if "." in text else text


def _points(points):
    return " ".join("%s,%s" % (_num(x), _num(y)) for x, y in points)


def icon_svg():
    """The icon as SVG, built from the shapes that the pixel drawing samples."""
    tail = (CX + RING_RADIUS * math.cos(ARC_TAIL), CY + RING_RADIUS * math.sin(ARC_TAIL))
    head = (CX + RING_RADIUS * math.cos(ARC_HEAD), CY + RING_RADIUS * math.sin(ARC_HEAD))
    large_arc = 1 if ARC_HEAD - ARC_TAIL > math.pi else 0
    stem_w = 2.8
    beam_left, beam_right = -3.7 - stem_w, 13.3
    note = _hex(NOTE_ORANGE)
    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">',
        '  <title>Brenvale</title>',
        '  <circle cx="%s" cy="%s" r="30.5" fill="%s"/>' % (_num(CX), _num(CY), _hex(DISC_RIM)),
        '  <circle cx="%s" cy="%s" r="28.7" fill="%s"/>' % (_num(CX), _num(CY), _hex(DISC_BLUE)),
        '  <path d="M %s %s A %s %s 0 %d 1 %s %s" fill="none" stroke="%s" stroke-width="%s" '
        'stroke-linecap="round"/>' % (_num(tail[0]), _num(tail[1]), _num(RING_RADIUS), _num(RING_RADIUS),
                                      large_arc, _num(head[0]), _num(head[1]), _hex(ARROW_WHITE),
                                      _num(2 * RING_HALF_WIDTH)),
        '  <polygon points="%s" fill="%s"/>' % (_points(ARROWHEAD), _hex(ARROW_WHITE)),
        '  <g transform="translate(%s %s) scale(%s)" fill="%s">' % (
            _num(NOTE_ORIGIN[0]), _num(NOTE_ORIGIN[1]), _num(NOTE_SCALE), note),
        '    <ellipse cx="-8" cy="10.5" rx="5.4" ry="3.9" transform="rotate(-24 -8 10.5)"/>',
        '    <ellipse cx="9" cy="7" rx="5.4" ry="3.9" transform="rotate(-24 9 7)"/>',
        '    <rect x="%s" y="-12" width="%s" height="22"/>' % (_num(-3.7 - stem_w), _num(stem_w)),
        '    <rect x="%s" y="-15.5" width="%s" height="22"/>' % (_num(13.3 - stem_w), _num(stem_w)),
        '    <polygon points="%s"/>' % _points(((beam_left, -13.5), (beam_right, -17.0),
                                                 (beam_right, -17.0 + 5.6), (beam_left, -13.5 + 5.6))),
        '  </g>',
        '</svg>',
    ]
    return ("\n".join(lines) + "\n").encode("ascii")


# ---------------------------------------------------------------------------
# Cursors: pixel drawings, one character per pixel.
#   .  transparent   X  black   o  white   g  grey
# ---------------------------------------------------------------------------

PALETTE = {
    ".": (0, 0, 0, 0),
    "X": (0, 0, 0, 255),
    "o": (255, 255, 255, 255),
    "g": (150, 150, 150, 255),
}

# Pointing hand, index finger up. The hotspot is the top of the fingertip.
HAND = [
    "......XXX.......................",
    ".....XoooX......................",
    ".....XoooX......................",
    ".....XoooX......................",
    ".....XoooX......................",
    ".....XoooX......................",
    ".....XoooX......................",
    ".....XoooXXXX...................",
    ".....XoooXoooXXXX...............",
    ".....XoooXoooXoooX..............",
    ".....XoooXoooXoooXXX............",
    ".XX..XoooXoooXoooXooX...........",
    "XooX.XoooXoooXoooXooX...........",
    "XoooXXoooXoooXoooXooX...........",
    ".XoooXoooooooooooooooX..........",
    "..XoooXooooooooooooooX..........",
    "...XoooooooooooooooooX..........",
    "....XooooooooooooooooX..........",
    ".....XoooooooooooooooX..........",
    ".....XooooooooooooooX...........",
    "......XoooooooooooooX...........",
    "......XoooooooooooooX...........",
    "......XoooooooooooooX...........",
    "......XXXXXXXXXXXXXXX...........",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
]
HAND_HOTSPOT = (7, 0)

# Arrow pointer with a small page below and to the right of it.
DRAG = [
    "X...............................",
    "XX..............................",
    "XoX.............................",
    "XooX............................",
    "XoooX...........................",
    "XooooX..........................",
    "XoooooX.........................",
    "XooooooX........................",
    "XoooooooX.......................",
    "XooooooooX......................",
    "XoooooooooX.....................",
    "XooooooooooX....................",
    "XoooooooXXXXX...................",
    "XoooXooX........................",
    "XooX.XooX.......................",
    "XoX..XooX.......................",
    "XX....XooX......................",
    "X.....XooX......................",
    ".......XooX.....................",
    ".......XooX.....................",
    "........XX......................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
]


def _place(canvas, drawing, left, top):
    for dy, line in enumerate(drawing):
        for dx, ch in enumerate(line):
            if ch != " ":
                canvas[top + dy][left + dx] = ch


DRAG_PAGE = [
    "XXXXXXXXX...",
    "XoooooooXX..",
    "XoooooooXoX.",
    "XoooooooXooX",
    "XoooooooXXXX",
    "XooooooooooX",
    "XoggggggggoX",
    "XooooooooooX",
    "XoggggggggoX",
    "XooooooooooX",
    "XoggggggggoX",
    "XooooooooooX",
    "XogggggooooX",
    "XooooooooooX",
    "XXXXXXXXXXXX",
]


def pixel_rows(drawing):
    assert len(drawing) == 32 and all(len(line) == 32 for line in drawing)
    return [[PALETTE[ch] for ch in line] for line in drawing]


def drag_drawing():
    canvas = [list(line) for line in DRAG]
    _place(canvas, DRAG_PAGE, 15, 15)
    return ["".join(line) for line in canvas]


# ---------------------------------------------------------------------------


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (path, len(data)))


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    write(os.path.join(root, "resources", "icons", "brenvale.png"),
          png_bytes(ICON_SIZE, ICON_SIZE, draw_icon()))
    write(os.path.join(root, "resources", "program", "HAND-M.CUR"),
          icon_bytes(2, 32, pixel_rows(HAND), HAND_HOTSPOT))
    write(os.path.join(root, "resources", "program", "drag.ico"),
          icon_bytes(1, 32, pixel_rows(drag_drawing())))
    for size in THEME_ICON_SIZES:
        write(os.path.join(root, "desktop", "icons", "%dx%d" % (size, size), APP_ID + ".png"),
              png_bytes(size, size, draw_icon(size)))
    write(os.path.join(root, "desktop", "icons", "scalable", APP_ID + ".svg"), icon_svg())


if __name__ == "__main__":
    main()
