"""The screenshot gallery (gallery.py) against a live engine on a virtual X display: every
window of the manifest captured, none showing a password or a cut text in a list or tree
(the main window at the size it opens with), each picture of a plausible size and
not blank; and the manifest names every dialog of the control inventory. The pictures stay in
NORVANE_SHOTS_DIR when it is set."""

import collections
import os
import struct
import zlib

import consoledriver
import gallery
import harness


def png_pixels(path):
    """(width, height, rows of pixel tuples) of an 8-bit, non-interlaced RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError("%s is no PNG" % path)
    pos, chunks = 8, collections.defaultdict(bytes)
    while pos < len(data):
        size, kind = struct.unpack_from(">I4s", data, pos)
        chunks[kind] += data[pos + 8:pos + 8 + size]
        pos += size + 12
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"])
    if depth != 8 or colour not in (2, 6) or interlace:
        raise AssertionError("%s: depth %d colour type %d interlace %d" % (path, depth, colour, interlace))
    step = 3 if colour == 2 else 4
    raw, stride, rows, previous = zlib.decompress(chunks[b"IDAT"]), width * step, [], bytearray(width * step)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            left = line[x - step] if x >= step else 0
            up, corner = previous[x], previous[x - step] if x >= step else 0
            if kind == 1:
                line[x] = (line[x] + left) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + up) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                near = min((abs(p - left), left), (abs(p - up), up), (abs(p - corner), corner), key=lambda c: c[0])
                line[x] = (line[x] + near[1]) & 0xFF
        rows.append([bytes(line[x:x + 3]) for x in range(0, stride, step)])
        previous = line
    return width, height, rows


class ConsoleGallery(harness.EngineTestCase):
    def test_the_manifest_names_every_dialog_of_the_control_inventory(self):
        listed = {dialog for _, dialogs in gallery.read_manifest() for dialog in dialogs}
        self.assertEqual(gallery.inventory_dialogs() - listed, set())

    def test_every_window_is_captured_masked_and_not_blank(self):
        consoledriver.require_console(self)
        run = gallery.Run(self, self.new_norvane())
        shots, missing, unmasked, cut = run.gallery()
        self.assertEqual((missing, unmasked, cut), ([], [], []), "\n".join(run.console.log))
        names = [name for name, _ in shots]
        for order, (window, _) in enumerate(gallery.read_manifest(), 1):
            prefix = "%02d-%s" % (order, window)
            self.assertTrue([n for n in names if n in (prefix + ".png",) or n.startswith(prefix + "-")],
                            "%s not captured" % window)
        with open(os.path.join(run.console.shots, "index.html")) as f:
            index = f.read()
        for name, title in shots:
            self.assertIn('src="%s"' % name, index)
            self.assertTrue(title, name)
            width, height, rows = png_pixels(os.path.join(run.console.shots, name))
            self.assertTrue(120 <= width <= 1280 and 60 <= height <= 1100, "%s is %dx%d" % (name, width, height))
            # Below the drawn title bar: more than a background and a frame.
            body = collections.Counter(pixel for row in rows[height // 5:] for pixel in row[::2])
            self.assertGreater(len(body), 3, "%s is blank" % name)
            self.assertLess(body.most_common(1)[0][1], 0.995 * sum(body.values()), "%s is blank" % name)
        self.assertEqual(run.console.quit(), 0)


if __name__ == "__main__":
    harness.main()
