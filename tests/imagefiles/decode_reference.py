#!/usr/bin/python3
"""Independent reference pictures for the image reader tests.

For every corpus file named, decodes the pictures the corpus gives as its
correct decoding and prints "none" (the corpus gives none), "error <reason>",
or "frames <n>" and per frame "<width> <height>" and a line of hex RGBA, top
row first. With "--gamma", samples pass through the PNG's gAMA correction.
16-bit samples keep their high byte, as the readers do; a tRNS grey or RGB
value gives alpha 0 where it matches. BMP files are rewritten to the
compiler's layout: rows right after the colour table (or the three masks of
a 40-byte header) whatever the pixel offset says.
"""
import configparser
import glob
import io
import os
import re
import struct
import sys

from PIL import Image, ImageSequence

# Files the library at hand decodes wrongly, or where a reader may choose
# (pixels that run-length data leave undefined are colour 0 here): the
# corpus's own rendering instead.
RENDERINGS = {"pal4rle.bmp": "../html/pal4.png", "testimgari.jpg": "ref/testimgint.ppm"}
RENDERINGS.update({f"pal{n}rle{what}.bmp": f"../html/pal{n}rle{what}-0.png" for n in (4, 8) for what in ("cut", "trns")})
# 32-bit files as ordinary tools write them (alpha in the fourth byte of a
# plain file, which the library ignores), and layouts the library does not
# take: the picture they encode.
RENDERINGS.update({"rgba-plain.bmp": "rgba.png", "rgba-v5.bmp": "rgba.png"})
RENDERINGS.update({f"{name}.bmp": f"../html/{picture}.png" for name, picture in (
    ("rgb32bf", "rgb24"), ("rgb32h52", "rgb24"), ("rgb32-7187", "rgb32-7187"), ("rgba32-2", "rgba32"),
    ("rgba32h56", "rgba32"), ("rgba32-61754", "rgba32-61754"), ("rgba32-81284", "rgba32-81284"))})


def references(path):
    """The reference frames of a corpus file: (picture file, width of a raw
    .rgba frame) pairs, or None where the corpus defines no picture."""
    folder, name = os.path.split(path)
    stem, ext = os.path.splitext(name)
    ext = ext.lower()
    if name in RENDERINGS:
        return [(os.path.join(folder, RENDERINGS[name]), None)]
    if ext in (".png", ".bmp"):
        return [(path, None)]
    if ext == ".tga":  # {size}_{mode}_{origin}_{coding}... shows {size}_{mode}.png
        base = re.sub(r"_[bt][lr]_r(aw|le).*$", "", stem) + ".png"
        found = [p for w in (".", "common", "../tga-pillow/common") for p in glob.glob(os.path.join(folder, w, base))]
        return [(found[0], None)] if found else None
    if ext == ".jpg":  # ref/ holds the decode of the name or of a shorter prefix
        found = []
        while stem and not found:
            found = glob.glob(os.path.join(folder, "ref", stem + ".p[gp]m"))
            stem = stem.rpartition("_")[0]
        return [(found[0], None)] if found else None
    conf = os.path.join(folder, stem + ".conf")
    if os.path.exists(conf):  # a suite of .conf files naming raw frames
        c = configparser.ConfigParser()
        c.read(conf)
        frames = [f for f in c["config"]["frames"].split(",") if f]
        width = c.getint("config", "width")
        return [(os.path.join(folder, c[f]["pixels"]), width) for f in frames] or None
    expected = sorted(glob.glob(os.path.join(folder, "frames", stem + "-*.png")),
                      key=lambda f: int(f.rsplit("-", 1)[1][:-4]))
    expected = expected or glob.glob(os.path.join(folder, "frames", stem + ".png"))
    expected = expected or glob.glob(os.path.join(folder, stem + ".png"))
    return [(f, None) for f in expected] or [(path, None)]


def compiler_layout(data):
    """The BMP rewritten so that a standard decoder sees what the compiler reads."""
    header_size, width, height, _planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    offset = 14 + header_size
    if bits <= 8:
        offset += (struct.unpack_from("<I", data, 46)[0] or (1 << bits)) * 4
    elif header_size == 40 and compression == 3:
        offset += 12
    patched = bytearray(data)
    struct.pack_into("<I", patched, 10, offset)
    return bytes(patched)


def rgba_of(image, depth):
    """One decoded frame as RGBA bytes."""
    trns = image.info.get("transparency")
    if image.mode == "P":
        palette = (image.getpalette() or []) + [0] * 768
        alpha = [255] * 256
        if isinstance(trns, bytes):
            alpha[:len(trns[:256])] = trns[:256]
        elif isinstance(trns, int):
            alpha[trns] = 0
        return bytearray(b for i in image.getdata() for b in (*palette[3 * i:3 * i + 3], alpha[i]))
    if image.mode in ("I", "I;16", "I;16B", "1", "L"):
        wide = image.mode.startswith("I")
        pixels = [(g, g, g) for g in ([v >> 8 & 255 for v in image.getdata()] if wide else image.convert("L").getdata())]
        key = None if trns is None else (trns >> 8 if depth == 16 else trns * 255 // ((1 << depth) - 1),) * 3
    elif image.mode == "RGB" and trns is not None:
        pixels, key = list(image.getdata()), tuple(v >> 8 if depth == 16 else v for v in trns)
    else:
        return bytearray(image.convert("RGBA").tobytes())
    return bytearray(b for p in pixels for b in (*p, 0 if p == key else 255))


def frames_of(picture, width):
    with open(picture, "rb") as f:
        data = f.read()
    if width is not None:  # raw RGBA rows
        return [(width, len(data) // 4 // width, data)]
    depth = data[24] if data[:8] == b"\x89PNG\r\n\x1a\n" else 8
    image = Image.open(io.BytesIO(compiler_layout(data)) if data[:2] == b"BM" else picture)
    return [(frame.size[0], frame.size[1], rgba_of(frame.copy(), depth)) for frame in ImageSequence.Iterator(image)]


def gamma_table(path):
    """A PNG's gAMA correction as the readers apply it when it is switched on."""
    g = round(Image.open(path).info.get("gamma", 1.0) * 100000)
    return [int(255 * (i / 255) ** (100000 / g) + 0.5) for i in range(256)]


def main():
    gamma = "--gamma" in sys.argv
    for path in (p for p in sys.argv[1:] if p != "--gamma"):
        pictures = references(path)
        if pictures is None:
            print("none")
            continue
        try:
            frames = [frame for picture, width in pictures for frame in frames_of(picture, width)]
            if gamma:
                table = gamma_table(path)
                frames = [(w, h, bytes(b if i % 4 == 3 else table[b] for i, b in enumerate(data)))
                          for w, h, data in frames]
        except Exception as error:  # noqa: BLE001 - any refusal is reported
            print("error", type(error).__name__)
            continue
        print("frames", len(frames))
        for width, height, data in frames:
            print(width, height)
            print(data.hex())


if __name__ == "__main__":
    main()
