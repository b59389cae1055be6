// The module's bitmap block: one header, a palette shared by all images (4
// and 8 bits only), a frame table with one entry per number from first to
// last, then the image data, each image's rows top row first, raw or
// run-length coded. Pictures, buttons, animations, font glyphs, the records
// of borders and patterns, and the G16/G24 files are all built on it;
// instruments use the same block with a longer header (pivot and angles)
// and longer frame entries (each frame's place in the background). Every
// number is little-endian. This file is the only place that knows where a
// field of the block stands.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "imagefiles/image.h"

namespace vexa::imagefiles {

// Byte 7: what the block holds.
inline constexpr char block_bitmap = 'G';      // pictures, fonts, animations, G16/G24 files
inline constexpr char block_instrument = 'I';  // an instrument: background and pointer positions

// Bytes 8-9: how palette entries and 16/24-bit pixels store a colour.
inline constexpr int colour_format_16 = 16;  // "16": 5-6-5 words
inline constexpr int colour_format_24 = 24;  // "24": blue, green, red

inline constexpr std::uint32_t bitmap_header_bytes = 22;
inline constexpr std::uint32_t instrument_header_bytes = 34;
inline constexpr std::uint32_t bitmap_entry_bytes = 8;
inline constexpr std::uint32_t instrument_entry_bytes = 12;

// Every header field, by meaning. Where the field stands is given in bytes
// from the block's start; three fields share bytes 12 to 14, which of them
// is there depends on the depth.
struct BlockHeader {
  bool signature = true;  // 0-2: ESC 'U' 'L', the module's image command (always written)
  // 3-4, 5-6: the 5-6-5 colours of a clear and a set bit of a 1-bit block
  // whose own_colours is set; zero otherwise.
  std::uint16_t colour_zero = 0;
  std::uint16_t colour_one = 0;
  char kind = block_bitmap;             // 7
  int colour_format = colour_format_16;  // 8-9: "16", or anything else read as "24"
  int depth = 0;                        // 10: bits per pixel of every image: 1, 4, 8, 16 or 24
  // 11: 1 when pixels of the key colour are not drawn. An animation of
  // difference frames keeps its own flag here.
  int transparent = 0;
  // 12-14, the key colour: a palette index (4 and 8 bits, byte 12), a 5-6-5
  // word (16 bits, 12-13), blue | green << 8 | red << 16 (24 bits, 12-14).
  std::uint32_t key = 0;
  int palette_entries = 0;   // 13, 4 and 8 bits: entries of the palette, 1 to 256 (256 is stored as 0)
  bool own_colours = false;  // 12, 1 bit: colour_zero and colour_one are drawn, not the module's
  bool same_width = false;   // 15 bit 0: every image is as wide as the first
  bool same_height = false;  // 15 bit 1: every image is as high as the first
  int first = 0;             // 16: number of the first frame entry
  int last = 0;              // 17: number of the last frame entry
  int width = 0;             // 18-19: the widest image (an instrument: its background)
  int height = 0;            // 20-21: the highest image
  // Instrument blocks only, 22-33: the pointer's pivot in the background,
  // the angle codes of its sweep, and two further fields kept as they came.
  int pivot_x = 0;
  int pivot_y = 0;
  int start_angle = 0;
  int end_angle = 0;
  std::array<std::uint16_t, 2> further{};
};

// Where the parts of a block stand, from its header.
struct BlockLayout {
  std::uint32_t header_bytes = bitmap_header_bytes;
  std::uint32_t palette = bitmap_header_bytes;  // offset of the palette
  std::uint32_t palette_bytes = 0;
  std::uint32_t frame_table = bitmap_header_bytes;
  std::uint32_t entry_bytes = bitmap_entry_bytes;
  int entries = 0;                                 // last - first + 1, or 0 when last lies below first
  std::uint64_t image_data = bitmap_header_bytes;  // end of the frame table
};

// One frame table entry. An entry of width 0 stands for a number without an
// image.
struct FrameEntry {
  int width = 0;             // 0-1
  int height = 0;            // 2-3
  std::uint32_t offset = 0;  // 4-6: the image data's offset from the block's start
  std::uint8_t delay = 0;    // 7, bits 0-6: display time of an animation frame
  bool coded = false;        // 7, bit 7: the rows are run-length coded
  int x = 0;                 // 8-9, instruments: the frame's place inside the background
  int y = 0;                 // 10-11
};

// What a whole-block check found.
struct BlockSummary {
  BlockHeader header;
  BlockLayout layout;
  std::uint32_t size = 0;         // bytes of the block
  int images = 0;                 // frame entries with an image
  int coded_images = 0;           // of them, run-length coded
  int width = 0;                  // the widest image of the frame table (the header's sides may lie)
  int height = 0;                 // the highest
  std::uint64_t pixel_bytes = 0;  // all images decoded, as bitmap rows padded to 4 bytes
};

// Reads the header at the start of block into header. Returns false (header
// reset) when the block is shorter than its header. The signature is read
// into header.signature and header.kind, not judged: validate_block does.
bool read_block_header(base::Bytes block, BlockHeader& header);
// Writes the header's bytes to the start of block; false when the block is
// shorter than the header.
bool write_block_header(const BlockHeader& header, std::span<std::uint8_t> block);
BlockLayout block_layout(const BlockHeader& header);

// Entry i (0 for number first) of the frame table; false when the entry
// does not lie inside the block.
bool read_frame_entry(base::Bytes block, const BlockHeader& header, int i, FrameEntry& entry);
bool write_frame_entry(std::span<std::uint8_t> block, const BlockHeader& header, int i, const FrameEntry& entry);

// The palette of a 4- or 8-bit block (empty for the other depths); false
// when the block ends inside it.
bool read_block_palette(base::Bytes block, const BlockHeader& header, std::vector<Bgr>& colours);
// Writes the colours as the palette of the header's colour format; false
// when they do not fit into the block.
bool write_block_palette(std::span<std::uint8_t> block, const BlockHeader& header, std::span<const Bgr> colours);

// Checks everything the header and the frame table promise: the signature,
// a depth of 1, 4, 8, 16 or 24 (16 for an instrument), last not below
// first, a palette and a frame table inside the block, a key index inside
// the palette, and for every image a height and data that start inside the
// block and leave room for at least its rows (raw, or one longest chunk per
// 128 units of every row when coded). Whether the data decode is left to
// decode_frame. Fills summary; false when the block is damaged.
bool validate_block(base::Bytes block, BlockSummary& summary);

// A line for people: kind, size, depth and colours, numbers, images and how
// many are run-length coded, the largest sides in the frame table, and
// whether the block is transparent.
std::string describe_block(const BlockSummary& summary);

// Decodes the data of frame entry into image (entry.width x entry.height at
// the header's depth, rows top first), or with image null only checks
// them. Raw rows must lie inside the block; coded rows must be filled
// exactly by their chunks: a chunk is a control byte c with (c AND 0x7F) + 1
// units, literal when bit 7 is clear, one unit repeated when it is set. The
// encoder never lets a chunk cross the end of a row, so a block where one
// does is damaged and refused. Returns false for such data.
bool decode_frame(base::Bytes block, const BlockHeader& header, const FrameEntry& entry, Image* image);

// Appends image (of the header's depth) as entry i of a block being built:
// its data at the block's end, its entry (delay and place taken from entry)
// in the frame table. rle_mode: 0 raw, 1 run-length coded, 2 coded when a
// row holds more than 2 units and the code saves more than a tenth. False
// when the data would start beyond what the 24-bit offset can say, or
// memory runs out.
bool append_frame(std::vector<std::uint8_t>& block, const BlockHeader& header, int i, const Image& image,
                  FrameEntry entry, int rle_mode);

}  // namespace vexa::imagefiles
