#!/usr/bin/env python3
"""Draws Quillpost's icon, a 32x32 envelope with a quill stroke, and writes quillpost.ico
beside this script. Run it again after changing the drawing; the .ico is kept in the tree so
the build needs no Python."""
import os
import struct

SIZE = 32


def pixel(x, y):
    """Colour of one pixel as (b, g, r, a); y counts from the top."""
    # The quill: a dark diagonal stroke from the upper right towards the middle.
    if 14 <= x <= 30 and 1 <= y <= 17 and abs((30 - x) - (y - 1)) <= 1:
        return (40, 40, 120, 255)
    # The envelope's body, with a dark border and the flap's two diagonals.
    if 2 <= x <= 29 and 9 <= y <= 27:
        if x in (2, 29) or y in (9, 27):
            return (70, 50, 30, 255)
        flap = 9 + (x - 2) * 9 // 14 if x <= 15 else 9 + (29 - x) * 9 // 14
        if y == flap:
            return (70, 50, 30, 255)
        return (235, 245, 250, 255)
    return (0, 0, 0, 0)


def icon_bytes():
    rows = []
    for y in reversed(range(SIZE)):  # bitmap rows run bottom-up
        rows.append(b"".join(struct.pack("4B", *pixel(x, y)) for x in range(SIZE)))
    xor = b"".join(rows)
    mask = b"\x00" * (SIZE // 8 * SIZE)  # the alpha channel decides; nothing is masked
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "quillpost.ico")
    with open(out, "wb") as f:
        f.write(icon_bytes())
