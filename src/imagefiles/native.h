// The display module family's own image files: BH7 pictures, BLH and BLV
// monochrome bitmaps (raw bitmaps as sent to the module, with or without the
// module's image command ESC U L in front), and G16/G24 files, which hold
// one bitmap block (one or many images). G16/G24 files are also written, as
// an export of the resource compilers. Every number in these files is
// little-endian.
#pragma once

#include <string>

#include "imagefiles/dispatch.h"
#include "imagefiles/image.h"

namespace vexa::imagefiles {

// Single-image readers: each fills slot 1 of the set from the file's bytes.
// The file length must match the header exactly. Return 1, or 0 (slot 1
// empty) for a wrong signature or length, a picture size outside the limits,
// or exhausted memory. Nothing is reported.
int read_bh7(ImageSet& set, Bytes file, const ReadOptions& options);
int read_blh(ImageSet& set, Bytes file, const ReadOptions& options);
int read_blv(ImageSet& set, Bytes file, const ReadOptions& options);

// Reads a G16 or G24 file (one bitmap block) into the whole set: first_number
// and count cover the block's number range, gaps included; transparency,
// delays and every image (raw or run-length coded). Returns 1, or 0 with the
// set cleared when the block is damaged anywhere (see native.cpp for what is
// refused). Nothing is reported.
int read_g16(ImageSet& set, Bytes file);

}  // namespace vexa::imagefiles
