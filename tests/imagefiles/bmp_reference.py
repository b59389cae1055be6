"""Reference decoder for the BMP reader tests (needs python3-pil).

For every BMP (or other picture) named on the command line, writes one line
"<width> <height>\n" followed by width * height * 3 bytes (red, green, blue,
top row first), or the line "error\n" when the file cannot be decoded.

The compiler's reader follows two rules of its own that a standard decoder
does not: the pixel rows start right after the colour table (or after the
three bit-field masks of a 40-byte header), whatever the file header's pixel
offset says; and a 32-bit pixel is read as the bytes alpha, blue, green, red.
Before decoding, a copy of the file is rewritten so that the standard decoder
reads it under those rules: the pixel offset is set to where the compiler
takes the rows from, and a 32-bit file gets bit-field masks that place red,
green and blue in bytes 3, 2 and 1 of each pixel.
"""

import io
import struct
import sys

from PIL import Image


def compiler_layout(data):
    """The file rewritten so that a standard decoder sees what the compiler reads."""
    header_size, width, height, _planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    clr_used = struct.unpack_from("<I", data, 14 + 32)[0]
    if bits <= 8:
        table = (clr_used or (1 << bits)) * 4
        offset = 14 + header_size + table
    elif header_size == 40 and compression == 3:
        offset = 14 + 52
    else:
        offset = 14 + header_size
    if bits == 32:
        stride = width * 4
        rows = data[offset:offset + stride * abs(height)]
        info = bytearray(data[14:14 + 40])
        struct.pack_into("<I", info, 0, 40)
        struct.pack_into("<I", info, 16, 3)
        masks = struct.pack("<III", 0xFF000000, 0x00FF0000, 0x0000FF00)
        body = bytes(info) + masks + rows
        return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, 14 + 52) + body
    patched = bytearray(data)
    struct.pack_into("<I", patched, 10, offset)
    return bytes(patched)


def main():
    out = sys.stdout.buffer
    for name in sys.argv[1:]:
        try:
            with open(name, "rb") as f:
                data = f.read()
            if data[:2] == b"BM":
                data = compiler_layout(data)
            image = Image.open(io.BytesIO(data))
            rgb = image.convert("RGB")
            pixels = rgb.tobytes()
            out.write(b"%d %d\n" % rgb.size)
            out.write(pixels)
        except Exception:  # any file the reference cannot decode
            out.write(b"error\n")
    out.flush()


if __name__ == "__main__":
    main()
