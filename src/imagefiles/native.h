// The display module family's own image files: BH7 pictures, BLH and BLV
// monochrome bitmaps (raw bitmaps as sent to the module, with or without the
// module's image command ESC U L in front), and G16/G24 files, which hold
// one bitmap block (one or many images). G16/G24 files are also written, as
// an export of the resource compilers. Every number in these files is
// little-endian.
#pragma once

#include <string>

#include "imagefiles/dispatch.h"
#include "resources/image.h"

namespace vexa::imagefiles {

// Single-image readers: each fills slot 1 of the set from the file's bytes.
// The file length must match the header exactly. Return 1, or 0 (slot 1
// empty) for a wrong signature or length, a picture size outside the limits,
// or exhausted memory. Nothing is reported.
int read_bh7(resources::ImageSet& set, Bytes file, const ReadOptions& options);
int read_blh(resources::ImageSet& set, Bytes file, const ReadOptions& options);
int read_blv(resources::ImageSet& set, Bytes file, const ReadOptions& options);

// Reads a G16 or G24 file (one bitmap block) into the whole set: first_number
// and count cover the block's number range, gaps included; transparency,
// delays and every image (raw or run-length coded). Returns 1, or 0 with the
// set cleared when the block is damaged anywhere (see native.cpp for what is
// refused). Nothing is reported.
int read_g16(resources::ImageSet& set, Bytes file);

// Writes the set as one bitmap block (run-length coding where it pays): a
// name ending in ".G24" (any case) keeps 24-bit colour, any other name is
// written in the module's 5-6-5 colour. The set may be converted in place to
// the stored depth, as the encoder does; dithering is the DITHERING value
// used when true-colour pictures are lowered to 16 bits. Returns 1, or 0 when
// the set cannot be encoded or the file cannot be written (an older file of
// that name then stays as it was).
int write_g16(resources::ImageSet& set, const std::string& file_name, int dithering = 0);

}  // namespace vexa::imagefiles
