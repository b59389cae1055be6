// Windows BMP files: the reader (read_bmp, declared with the other readers in
// dispatch.h), its run-length decoder, and the writer used for image dumps.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "imagefiles/dispatch.h"
#include "imagefiles/image.h"

namespace vexa::imagefiles {

// Replaces the block of an image whose header says RLE8 (compression 1, 8
// bits) or RLE4 (compression 2, 4 bits) by an uncompressed one. The coded
// data are the bytes from the image's pixel offset to the end of its block.
// Runs and deltas that leave a row or the picture write nothing outside it.
// Returns 1, or 0 (image unchanged) when the header is not a run-length one,
// the coded data end before the picture does, or memory runs out.
int decode_bmp_rle(Image& image);

inline constexpr std::size_t bmp_file_header_bytes = 14;

// The file header that makes the image's block a BMP file: "BM", the file
// size, two reserved words and the offset of the pixel rows.
std::array<std::uint8_t, bmp_file_header_bytes> bmp_file_header(const Image& image);
// The whole BMP file of the image, in memory: the file header and the block.
std::vector<std::uint8_t> bmp_file_bytes(const Image& image);

// Writes the image as a BMP file: the file header, then the block as it is.
// Returns 1, or 0 for an empty image or a failed write.
int write_bmp_file(const Image& image, const std::string& file_name);

// Writes every image of the set as "<base>_<nnn>.bmp" (nnn its slot number,
// three digits). Returns 0 at the first failed write, else 1.
int dump_images_as_bmp(const ImageSet& set, const std::string& base_name);

}  // namespace vexa::imagefiles
