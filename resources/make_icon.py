"""Writes kelvane's icon from its text pixel map (icon.txt).

    make_icon.py icon.txt kelvane.ico [preview.png SCALE]

The .ico holds one 16 by 16 image, 4 bits per pixel, 296 bytes: a 40-byte
header (height 32 for the colour image and the mask), a 16-entry colour table,
the colour image and the 1-bit transparency mask, rows bottom-up.
"""
import struct
import sys
import zlib

# The 16 standard colours, in their usual order; the map names five of them.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
LETTERS = {"K": 0, "G": 7, "D": 8, "B": 12, "W": 15}
SIZE = 16


def read_map(path):
    rows = [line.rstrip("\n") for line in open(path, encoding="ascii")
            if line.strip() and not line.startswith("#")]
    if len(rows) != SIZE or any(len(row) != SIZE for row in rows):
        sys.exit(f"{path}: the map must be {SIZE} rows of {SIZE} letters")
    for row in rows:
        for letter in row:
            if letter != "." and letter not in LETTERS:
                sys.exit(f"{path}: unknown letter {letter!r}")
    return rows


def icon_image(rows):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, 0, 0, 0, 0, 0)
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    pixels = b""
    mask = b""
    for row in reversed(rows):
        indices = [LETTERS.get(letter, 0) for letter in row]
        pixels += bytes((indices[i] << 4) | indices[i + 1] for i in range(0, SIZE, 2))
        bits = 0
        for letter in row:
            bits = (bits << 1) | (letter == ".")
        mask += struct.pack(">H", bits) + b"\0\0"
    return header + colours + pixels + mask


def ico_file(image):
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def png_preview(rows, scale):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b""
    for row in rows:
        line = b"".join(bytes(PALETTE[LETTERS[c]]) + b"\xff" if c != "." else b"\0\0\0\0"
                        for c in row for _ in range(scale))
        raw += (b"\0" + line) * scale
    side = SIZE * scale
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    rows = read_map(sys.argv[1])
    image = icon_image(rows)
    assert len(image) == 296
    with open(sys.argv[2], "wb") as out:
        out.write(ico_file(image))
    if len(sys.argv) == 5:
        with open(sys.argv[3], "wb") as out:
            out.write(png_preview(rows, int(sys.argv[4])))


if __name__ == "__main__":
    main()
