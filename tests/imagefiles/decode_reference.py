#!/usr/bin/python3
"""Independent reference decoder for the image reader tests.

Prints, per file, "<width> <height>" and a line of hex RGBA (top row first),
or "error <reason>". 16-bit samples keep their high byte, as the readers do;
a single transparent grey or RGB value gives alpha 0 where it matches. BMP
files are first rewritten to the compiler's layout rules: rows start right
after the colour table (or the three masks of a 40-byte header) whatever the
pixel offset says.
"""
import io
import struct
import sys

from PIL import Image


def png_header(path):
    """Bit depth and colour type from a PNG's IHDR, or (8, None)."""
    with open(path, "rb") as f:
        head = f.read(29)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return 8, None
    return head[24], head[25]


def compiler_layout(data):
    """The BMP rewritten so that a standard decoder sees what the compiler reads."""
    header_size, width, height, _planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if bits <= 8:
        offset = 14 + header_size + (struct.unpack_from("<I", data, 46)[0] or (1 << bits)) * 4
    elif header_size == 40 and compression == 3:
        offset = 14 + 52
    else:
        offset = 14 + header_size
    patched = bytearray(data)
    struct.pack_into("<I", patched, 10, offset)
    return bytes(patched)


def rgba_of(path):
    with open(path, "rb") as f:
        data = f.read()
    image = Image.open(io.BytesIO(compiler_layout(data)) if data[:2] == b"BM" else path)
    image.load()
    depth, colour_type = png_header(path)
    mode = image.mode
    trns = image.info.get("transparency")
    width, height = image.size

    if mode == "P":
        palette = image.getpalette() or []
        alpha = [255] * 256
        if isinstance(trns, bytes):
            for i, a in enumerate(trns[:256]):
                alpha[i] = a
        elif isinstance(trns, int):
            alpha[trns] = 0
        out = bytearray()
        for index in image.getdata():
            r, g, b = palette[3 * index:3 * index + 3] if 3 * index + 2 < len(palette) else (0, 0, 0)
            out += bytes((r, g, b, alpha[index]))
        return width, height, out

    if mode in ("I", "I;16", "I;16B"):
        # 16-bit grey: keep the high byte; tRNS holds the full 16-bit value.
        key = None if trns is None else trns >> 8
        out = bytearray()
        for v in image.getdata():
            g = (v >> 8) & 0xFF
            out += bytes((g, g, g, 0 if key == g else 255))
        return width, height, out

    if mode in ("1", "L"):
        key = None
        if trns is not None:
            if depth == 16:
                key = trns >> 8
            elif depth < 8:
                key = trns * 255 // ((1 << depth) - 1)
            else:
                key = trns
        grey = image.convert("L")
        out = bytearray()
        for g in grey.getdata():
            out += bytes((g, g, g, 0 if key == g else 255))
        return width, height, out

    if mode == "RGB":
        key = None
        if trns is not None:
            key = tuple((v >> 8) if depth == 16 else v for v in trns)
        out = bytearray()
        for r, g, b in image.getdata():
            out += bytes((r, g, b, 0 if key == (r, g, b) else 255))
        return width, height, out

    rgba = image.convert("RGBA")
    return width, height, bytearray(rgba.tobytes())


def main():
    for path in sys.argv[1:]:
        try:
            width, height, data = rgba_of(path)
        except Exception as error:  # noqa: BLE001 - any refusal is reported
            print("error", type(error).__name__)
            continue
        print(width, height)
        print(data.hex())


if __name__ == "__main__":
    main()
