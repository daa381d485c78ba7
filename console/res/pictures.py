#!/usr/bin/python3
"""Draws the console's pictures and writes them as PNG files beside this script:

  bitmap130.png    the image list: twenty 16 x 15 pictures side by side (indices 0-19)
  toolbar128.png   the tool bar: Go On-line, Go Off-line, On-line options, Save changes
  wardenhall.png   the console's own picture, 32 x 32 (window icon and About box)

Pure green (0, 255, 0) is the transparent colour of every picture. Run it again after changing
a picture; the build embeds the PNG files, not this script. Python standard library only."""

import math
import os
import struct
import zlib

PALETTE = {
    ".": (0, 255, 0),        # transparent
    "k": (0, 0, 0),
    "w": (255, 255, 255),
    "g": (200, 200, 200),
    "d": (128, 128, 128),
    "D": (80, 80, 80),
    "b": (32, 64, 176),
    "B": (112, 160, 240),
    "r": (208, 32, 32),
    "G": (16, 150, 48),
    "L": (120, 220, 120),
    "y": (250, 210, 40),
    "Y": (255, 244, 170),
    "s": (244, 200, 160),
    "n": (150, 96, 48),
    "o": (240, 140, 20),
    "p": (150, 70, 190),
}

W, H = 16, 15


def grid(rows):
    assert len(rows) == H, rows
    for row in rows:
        assert len(row) == W, row
    return [list(row) for row in rows]


def blank():
    return [["."] * W for _ in range(H)]


def person(shirt, skin="s"):
    rows = [
        "................",
        "......kkkk......",
        ".....kSSSSk.....",
        "....kSSSSSSk....",
        "....kSSSSSSk....",
        "....kSSSSSSk....",
        ".....kSSSSk.....",
        "......kkkk......",
        "....kkTTTTkk....",
        "...kTTTTTTTTk...",
        "..kTTTTTTTTTTk..",
        "..kTTTTTTTTTTk..",
        "..kTTTTTTTTTTk..",
        "..kkkkkkkkkkkk..",
        "................",
    ]
    return grid([r.replace("S", skin).replace("T", shirt) for r in rows])


def disc(image, cx, cy, radius, fill, outline="k"):
    for y in range(H):
        for x in range(W):
            d = math.hypot(x - cx, y - cy)
            if d <= radius - 1:
                image[y][x] = fill
            elif d <= radius:
                image[y][x] = outline


def gear(light):
    cx, cy = 6.5, 6.5

    def inside(x, y):
        dx, dy = x - cx, y - cy
        r = math.hypot(dx, dy)
        outer = 6.0 if math.cos(8 * math.atan2(dy, dx)) > 0.2 else 4.6
        return 2.3 < r <= outer

    image = blank()
    for y in range(H):
        for x in range(W):
            if inside(x, y):
                image[y][x] = "g" if (x - cx) + (y - cy) < 1 else "d"
            elif any(inside(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                image[y][x] = "k"
    disc(image, 11.5, 10.5, 3.4, light)
    return image


def cylinder(body, top):
    image = blank()
    for y in range(1, 14):
        for x in range(2, 14):
            image[y][x] = body
    for x in range(2, 14):
        image[13][x] = "k"
    for y in range(1, 14):
        image[y][2] = "k"
        image[y][13] = "k"
    for y in range(0, 5):
        for x in range(2, 14):
            if ((x - 7.5) / 6.0) ** 2 + ((y - 2.5) / 2.2) ** 2 <= 1.0:
                image[y][x] = top
            elif ((x - 7.5) / 6.4) ** 2 + ((y - 2.5) / 2.7) ** 2 <= 1.0:
                image[y][x] = "k"
    for x in range(3, 13):
        for band in (7, 10):
            image[band][x] = "d"
    return image


def globe():
    image = blank()
    disc(image, 7.5, 7, 6.8, "B")
    land = ["......", ]
    spots = [(5, 4), (6, 4), (5, 5), (6, 5), (7, 5), (4, 6), (5, 6), (6, 6), (9, 8), (10, 8), (9, 9),
             (10, 9), (11, 9), (10, 10), (6, 10), (7, 11), (11, 5), (10, 4)]
    for x, y in spots:
        image[y][x] = "G"
    del land
    return image


def envelope(paper):
    rows = [
        "................",
        "................",
        ".kkkkkkkkkkkkkk.",
        ".kPkPPPPPPPPkPk.",
        ".kPPkPPPPPPkPPk.",
        ".kPPPkPPPPkPPPk.",
        ".kPPPPkPPkPPPPk.",
        ".kPPPPPkkPPPPPk.",
        ".kPPPPPPPPPPPPk.",
        ".kPPPPPPPPPPPPk.",
        ".kPPPPPPPPPPPPk.",
        ".kkkkkkkkkkkkkk.",
        "................",
        "................",
        "................",
    ]
    return grid([r.replace("P", paper) for r in rows])


IMAGES = [
    # 0 a machine (also a location)
    grid([
        "................",
        ".kkkkkkkkkkkkk..",
        ".kgggggggggggk..",
        ".kgbbbbbbbbbgk..",
        ".kgbBBbbbbbbgk..",
        ".kgbBbbbbbbbgk..",
        ".kgbbbbbbbbbgk..",
        ".kgbbbbbbbbbgk..",
        ".kgggggggggggk..",
        ".kkkkkkkkkkkkk..",
        "......kgk.......",
        "....kkkkkkk.....",
        "...kgggggggk....",
        "...kkkkkkkkk....",
        "................",
    ]),
    person("b"),          # 1 a user (authenticated)
    person("y"),          # 2 a user assumed from the address
    person("d", "g"),     # 3 an unknown user
    # 4 a group
    grid([
        "................",
        "...kkk..........",
        "..ksssk...kkk...",
        "..ksssk..ksssk..",
        "..ksssk..ksssk..",
        "...kkk...ksssk..",
        ".kkGGGkk..kkk...",
        "kGGGGGGGkkbbbkk.",
        "kGGGGGGkbbbbbbbk",
        "kGGGGGGkbbbbbbbk",
        "kGGGGGGkbbbbbbbk",
        "kGGGGGGkbbbbbbbk",
        "kkkkkkkkkkkkkkkk",
        "................",
        "................",
    ]),
    # 5 a policy (also a request filter)
    grid([
        "................",
        ".kkkkkkkkkkkkkk.",
        ".kYYYYYYYYYYYYk.",
        "..kyyyyyyyyyyk..",
        "...kyyyyyyyyk...",
        "....kyyyyyyk....",
        ".....kyyyyk.....",
        "......kyyk......",
        "......kyyk......",
        "......kyyk......",
        "......kyyk......",
        "......kyyk......",
        ".......kk.......",
        "................",
        "................",
    ]),
    # 6 a criterion
    grid([
        "................",
        "................",
        "................",
        ".......kk.......",
        "......krrk......",
        ".....krrrrk.....",
        "....krrwrrrk....",
        "...krrwrrrrrk...",
        "....krrrrrrk....",
        ".....krrrrk.....",
        "......krrk......",
        ".......kk.......",
        "................",
        "................",
        "................",
    ]),
    # 7 dialing
    grid([
        "................",
        "................",
        "...kkkkkkkkkk...",
        "..kDDDDDDDDDDk..",
        ".kDDkkkkkkkkDDk.",
        ".kDk........kDk.",
        ".kkk.kkkkkk.kkk.",
        "....kDDDDDDk....",
        "...kDDDDDDDDk...",
        "..kDDwDDwDDwDk..",
        "..kDDDDDDDDDDk..",
        "..kDDwDDwDDwDk..",
        "..kDDDDDDDDDDk..",
        "..kkkkkkkkkkkk..",
        "................",
    ]),
    # 8 a password
    grid([
        "................",
        "......kkkk......",
        ".....kddddk.....",
        "....kdk..kdk....",
        "....kdk..kdk....",
        "....kdk..kdk....",
        "..kkkkkkkkkkkk..",
        "..kYyyyyyyyyyk..",
        "..kyyyyykyyyyk..",
        "..kyyyykkkyyyk..",
        "..kyyyyykyyyyk..",
        "..kyyyyykyyyyk..",
        "..kyyyyyyyyyyk..",
        "..kkkkkkkkkkkk..",
        "................",
    ]),
    envelope("w"),        # 9 a message
    gear("L"),            # 10 a running service
    gear("r"),            # 11 a stopped service
    gear("y"),            # 12 a service changing state
    # 13 the engine's own session
    grid([
        "................",
        "..kkkkkkkkkkkk..",
        "..kbbbbbbbbbbk..",
        "..kbwbbbbbbwbk..",
        "..kbwwbbbbbwbk..",
        "..kbwbwbbbbwbk..",
        "..kbwbbwbbbwbk..",
        "..kbwbbbwbbwbk..",
        "..kbwbbbbwbwbk..",
        "...kbwbbbbwwk...",
        "....kbbbbbbk....",
        ".....kbbbbk.....",
        "......kbbk......",
        ".......kk.......",
        "................",
    ]),
    # 14 a session
    grid([
        "................",
        "................",
        ".........k......",
        ".........kk.....",
        "..kkkkkkkkLk....",
        "..kLLLLLLLLLk...",
        "..kGGGGGGGGGGk..",
        "..kkkkkkkkGGk...",
        ".....k...kGk....",
        "....kk...kk.....",
        "...kBkkkkkkkkk..",
        "..kBBBBBBBBBBk..",
        "...kbbkkkkkkkk..",
        "....kbk.........",
        ".....kk.........",
    ]),
    # 15 a web request handed over from SOCKS
    grid([
        "................",
        "................",
        "..kkkkk.........",
        "..kooook........",
        "..kookkk........",
        "..kok...........",
        "..kok.......k...",
        "..kok.......kk..",
        "..kokkkkkkkkkok.",
        "..kooooooooooook",
        "..kkkkkkkkkkkok.",
        "............kk..",
        "............k...",
        "................",
        "................",
    ]),
    cylinder("B", "Y"),   # 16 caching, and a request answered from the cache
    # 17 RealAudio
    grid([
        "................",
        "..........k.....",
        "......kk...k....",
        ".....krk.k..k...",
        "....krrk..k.k...",
        "kkkkkrrk..k..k..",
        "krrrrrrk.k.k.k..",
        "krrrrrrk.k.k.k..",
        "krrrrrrk.k.k.k..",
        "kkkkkrrk..k..k..",
        "....krrk..k.k...",
        ".....krk.k..k...",
        "......kk...k....",
        "..........k.....",
        "................",
    ]),
    envelope("Y"),        # 18 POP3
    globe(),              # 19 the web
]

TOOLBAR = [
    # Go On-line: the plug in its socket
    grid([
        "................",
        "................",
        "................",
        "................",
        "...kkkkkk.kkkkk.",
        "...kggggkkkLLLk.",
        "kkkkgggggkkGGGkk",
        "DDDkgggggkkGGGkD",
        "kkkkgggggkkGGGkk",
        "...kggggkkkGGGk.",
        "...kkkkkk.kkkkk.",
        "................",
        "................",
        "................",
        "................",
    ]),
    # Go Off-line: the plug pulled out
    grid([
        "................",
        "................",
        "................",
        "................",
        "kkkkkk.....kkkkk",
        "kggggkkk...krrrk",
        "gggggggkk..krrrk",
        "ggggggg....krrrk",
        "gggggggkk..krrrk",
        "kggggkkk...krrrk",
        "kkkkkk.....kkkkk",
        "................",
        "................",
        "................",
        "................",
    ]),
    # On-line options: a form with its fields
    grid([
        "................",
        ".kkkkkkkkkkkkkk.",
        ".kbbbbbbbbbbbbk.",
        ".kkkkkkkkkkkkkk.",
        ".kggggggggggggk.",
        ".kgdd.kkkkkkkgk.",
        ".kgggkwwwwwwkgk.",
        ".kgdd.kkkkkkkgk.",
        ".kgggkwwwwwwkgk.",
        ".kgdd.kkkkkkkgk.",
        ".kgggkwwwwwwkgk.",
        ".kggggggggggggk.",
        ".kkkkkkkkkkkkkk.",
        "................",
        "................",
    ]),
    # Save changes: a diskette
    grid([
        "................",
        ".kkkkkkkkkkkkk..",
        ".kbkwwwwwwwkbbk.",
        ".kbkwwwwwwwkbbk.",
        ".kbkwwwwwwwkbbk.",
        ".kbkkkkkkkkkbbk.",
        ".kbbbbbbbbbbbbk.",
        ".kbbkkkkkkkkbbk.",
        ".kbbkggggkkkbbk.",
        ".kbbkggggkkkbbk.",
        ".kbbkggggkkkbbk.",
        ".kkkkkkkkkkkkkk.",
        "................",
        "................",
        "................",
    ]),
]

# The console's own picture: a warden's tower, drawn at 16 x 16 and doubled.
TOWER = [
    "................",
    "..........kk....",
    "..........kyk...",
    "..........kyyk..",
    "..........k.....",
    "..kk.kk.kkkk.kk.",
    "..kgkkgkkgkkgk..",
    "..kggggggggggk..",
    "...kgggddgggk...",
    "...kggkBBkggk...",
    "...kggkBBkggk...",
    "...kgdgggggdk...",
    "...kggggggggk...",
    "...kggdkkdggk...",
    "..kgggkDDkgggk..",
    "..kkkkkkkkkkkk..",
]


def rgb_rows(pictures, scale=1):
    height = len(pictures[0])
    rows = []
    for y in range(height):
        for _ in range(scale):
            row = bytearray()
            for picture in pictures:
                for cell in picture[y]:
                    row.extend(bytes(PALETTE[cell]) * scale)
            rows.append(bytes(row))
    return rows


def write_png(path, rows):
    width = len(rows[0]) // 3
    raw = b"".join(b"\0" + row for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, len(rows), 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
                + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    assert len(IMAGES) == 20
    write_png(os.path.join(here, "bitmap130.png"), rgb_rows(IMAGES))
    write_png(os.path.join(here, "toolbar128.png"), rgb_rows(TOOLBAR))
    write_png(os.path.join(here, "wardenhall.png"), rgb_rows([[list(r) for r in TOWER]], scale=2))


if __name__ == "__main__":
    main()
