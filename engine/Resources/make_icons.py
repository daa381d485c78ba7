#!/usr/bin/env python3
"""Writes the icons of the web proxy's FTP directory pages (Resources/*.gif).

The engine serves them on its internal host: a listing names Directory.gif for directories,
<extension>.gif for files whose extension has one, and Default.gif for the rest. Each icon is
drawn below as 16 rows of 16 characters; run this script to write them again after a change.
"""
import os
import struct

# Characters of the drawings and their colours; "." is transparent.
PALETTE = {
    ".": (255, 255, 255),
    "k": (0, 0, 0),
    "g": (128, 128, 128),
    "w": (255, 255, 255),
    "y": (255, 204, 51),
    "o": (204, 153, 0),
    "b": (0, 0, 204),
    "r": (204, 0, 0),
    "e": (0, 153, 0),
    "c": (102, 204, 255),
}

PAGE = [
    "..kkkkkkkkk.....",
    "..kwwwwwwwkk....",
    "..kwwwwwwwkwk...",
    "..kwwwwwwwkkkk..",
    "..kwwwwwwwwwwk..",
    "..kwwwwwwwwwwk..",
    "..kwwwwwwwwwwk..",
    "..kwwwwwwwwwwk..",
    "..kwwwwwwwwwwk..",
    "..kwwwwwwwwwwk..",
    "..kwwwwwwwwwwk..",
    "..kwwwwwwwwwwk..",
    "..kwwwwwwwwwwk..",
    "..kwwwwwwwwwwk..",
    "..kkkkkkkkkkkk..",
    "................",
]


def on_page(marks):
    """The blank page with `marks` (row -> (column, text)) drawn on it."""
    rows = [list(row) for row in PAGE]
    for row, (column, text) in marks.items():
        for i, ch in enumerate(text):
            rows[row][column + i] = ch
    return ["".join(row) for row in rows]


ICONS = {
    "Directory": [
        "................",
        "................",
        ".kkkkk..........",
        "kyyyyyk.........",
        "kyyyyyykkkkkkkk.",
        "kyyyyyyyyyyyyyok",
        "kyyyyyyyyyyyyyok",
        "kyyyyyyyyyyyyyok",
        "kyyyyyyyyyyyyyok",
        "kyyyyyyyyyyyyyok",
        "kyyyyyyyyyyyyyok",
        "kyyyyyyyyyyyyyok",
        "kooooooooooooook",
        ".kkkkkkkkkkkkkk.",
        "................",
        "................",
    ],
    "Default": PAGE,
    "text": on_page({5: (4, "gggggg"), 7: (4, "gggggggg"), 9: (4, "ggggg"), 11: (4, "ggggggg")}),
    "html": on_page({6: (4, "b....b"), 7: (4, ".b..b."), 8: (4, "..bb.."), 9: (4, ".b..b."),
                     10: (4, "b....b"), 12: (4, "gggggg")}),
    "image": on_page({5: (4, "cccccccc"), 6: (4, "cccyyccc"), 7: (4, "ccyyyycc"),
                      8: (4, "cccyyccc"), 9: (4, "ceeccccc"), 10: (4, "eeeeeccc"),
                      11: (4, "eeeeeeee")}),
    "archive": on_page({4: (7, "kg"), 5: (7, "gk"), 6: (7, "kg"), 7: (7, "gk"), 8: (7, "kg"),
                        9: (6, "kkkk"), 10: (6, "kwwk"), 11: (6, "kkkk")}),
    "program": on_page({5: (4, "bbbbbbbb"), 6: (4, "bwwwwwwb"), 7: (4, "bwwwwwwb"),
                        8: (4, "bwwwwwwb"), 9: (4, "bbbbbbbb"), 11: (4, "rr.ee")}),
}

# The files written, by the drawing they show.
FILES = {
    "Directory": "Directory",
    "Default": "Default",
    "txt": "text", "text": "text", "log": "text",
    "htm": "html", "html": "html",
    "gif": "image", "jpg": "image", "jpeg": "image", "png": "image", "bmp": "image",
    "tif": "image", "tiff": "image",
    "zip": "archive", "gz": "archive", "tgz": "archive", "tar": "archive", "bz2": "archive",
    "xz": "archive", "z": "archive",
    "exe": "program", "bin": "program",
}


def lzw(indices, min_code_size):
    """GIF LZW data that never grows the code table: a clear code before every few pixels."""
    clear = 1 << min_code_size
    end = clear + 1
    width = min_code_size + 1
    codes = []
    run = (1 << width) - clear - 3  # pixels per clear, so no entry needs a wider code
    for start in range(0, len(indices), run):
        codes.append(clear)
        codes.extend(indices[start:start + run])
    codes.append(end)
    bits = 0
    count = 0
    out = bytearray()
    for code in codes:
        bits |= code << count
        count += width
        while count >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            count -= 8
    if count:
        out.append(bits & 0xFF)
    return bytes(out)


def gif(rows):
    names = list(PALETTE)
    colours = [PALETTE[n] for n in names] + [(0, 0, 0)] * (16 - len(names))
    indices = [names.index(ch) for row in rows for ch in row]
    height, width = len(rows), len(rows[0])
    data = lzw(indices, 4)
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0xF3, 0, 0)  # global table of 16 colours
    for colour in colours:
        out += bytes(colour)
    out += b"\x21\xF9\x04\x01\x00\x00" + bytes([names.index(".")]) + b"\x00"  # transparency
    out += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    out.append(4)
    for start in range(0, len(data), 255):
        block = data[start:start + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3B"
    return bytes(out)


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    for name, drawing in FILES.items():
        rows = ICONS[drawing]
        assert len(rows) == 16 and all(len(row) == 16 for row in rows), name
        with open(os.path.join(folder, name + ".gif"), "wb") as out:
            out.write(gif(rows))


if __name__ == "__main__":
    main()
