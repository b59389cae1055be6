// The BORDER and PATTERN directives. Both store small records of their own
// rather than bitmap blocks: a count or nothing, the palette entry count, the
// transparency of the block, the 5-6-5 palette, then one palette index per
// pixel (a border as nine 8 x 8 tiles per image, a pattern as its 8 x 8
// pixels).
#include <array>
#include <vector>

#include "command/context.h"
#include "command/source.h"
#include "command/work_areas.h"
#include "imagefiles/colour.h"
#include "resources/bitmap.h"
#include "resources/borders.h"
#include "resources/colour.h"
#include "resources/compilers.h"
#include "resources/import.h"
#include "resources/store.h"

namespace vexa::resources {

namespace {

constexpr NumberRule border_rule{"Border", command::kind_borders, 1, 255};
constexpr NumberRule pattern_rule{"Pattern", command::kind_patterns, 1, 255};
constexpr const char* cannot_convert = "cannot convert picture !";

constexpr int border_side = 24;
constexpr int tile_side = 8;
constexpr int pattern_side = 8;

bool has_size(const imagefiles::Image* image, int side) {
  return image != nullptr && imagefiles::image_width(*image) == side && imagefiles::image_height(*image) == side;
}

// Brings the set to 8 bits per pixel with one palette and encodes it without
// run-length coding, so that every image's indices lie in the block row by
// row. Images of more than 4 bits first drop to the colours they use.
bool encode_indices(command::Context& ctx, imagefiles::ImageSet& set, BitmapBlock& block, bool whole_set) {
  imagefiles::Image* first = set_first_image(set);
  if (first == nullptr) return false;
  const int depth = bit_count(*first);
  if (depth > 4) {
    base::ReportLines lines;
    bool analysed = true;
    if (whole_set)
      analysed = analyse_set_colours(set, depth, lines);
    else
      analyse_colours(*first, depth, set.transparent != 0, lines);
    base::report_lines(ctx.out, lines, base::to_all);
    if (!analysed) return false;
  }
  return convert_set_depth(set, 8, 0) && encode_bitmap(set, block, 0, ctx.settings.dithering) &&
         block_header(block).depth == 8;
}

// Data of frame i of an encoded block, or null for a gap in the numbers.
const std::uint8_t* frame_data(const BitmapBlock& block, int i) {
  imagefiles::FrameEntry entry;
  if (!imagefiles::read_frame_entry(block_bytes(block), block_header(block), i, entry) || entry.width == 0) return nullptr;
  return block.block.data() + entry.offset;
}

// The head of both records: entry count E, transparency flag and index,
// then the palette of E 5-6-5 words. E is the count as the block stores it,
// where 256 entries are a count of 0: such a record carries no palette.
void put_palette_head(std::vector<std::uint8_t>& record, const BitmapBlock& block) {
  const imagefiles::BlockHeader h = block_header(block);
  const int entries = h.palette_entries % 256;
  record.push_back(static_cast<std::uint8_t>(entries));
  record.push_back(static_cast<std::uint8_t>(h.transparent));
  record.push_back(static_cast<std::uint8_t>(h.key));
  const auto palette = block.block.begin() + imagefiles::block_layout(h).palette;
  record.insert(record.end(), palette, palette + 2 * entries);
}

}  // namespace

// border -> BORDER number [ '[' page ']' ] '<' file '>' [ '<' file '>' ]
int compile_border(command::Context& ctx) {
  ReleaseSets release(ctx);
  int number = 0, page = 0;
  if (!read_resource_number(ctx, border_rule, number, page)) return 0;
  if (!import_images(ctx, "Border", 2)) return 0;
  imagefiles::ImageSet& set = ctx.work_set;
  const imagefiles::Image* last = nullptr;
  for (int s = set.first_number; s < set.first_number + set.count && s < base::limits::image_slots; ++s)
    if (!is_empty(set.images[static_cast<std::size_t>(s)])) last = &set.images[static_cast<std::size_t>(s)];
  if (!has_size(set_first_image(set), border_side) || !has_size(last, border_side)) {
    command::report_error(ctx, "only 24x24 Border are supported !");
    return 0;
  }
  BitmapBlock block;
  if (!encode_indices(ctx, set, block, true)) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  const imagefiles::BlockHeader h = block_header(block);
  const int images = h.first == h.last ? 1 : 2;
  if (images == 2 && frame_data(block, 1) == nullptr) {
    command::report_error(ctx, "only 24x24 Border are supported !");
    return 0;
  }
  std::vector<std::uint8_t> record;
  record.push_back(static_cast<std::uint8_t>(images));
  put_palette_head(record, block);
  // Nine tiles, row by row of tiles, each its 8 rows of 8 indices.
  for (int i = 0; i < images; ++i) {
    const std::uint8_t* data = frame_data(block, i);
    for (int tile = 0; tile < 9; ++tile) {
      const int top = (tile / 3) * tile_side;
      const int left = (tile % 3) * tile_side;
      for (int row = 0; row < tile_side; ++row) {
        const std::uint8_t* from = data + (top + row) * border_side + left;
        record.insert(record.end(), from, from + tile_side);
      }
    }
  }
  return store_resource(ctx, command::kind_borders, page, number, record.data(), record.size());
}

// pattern -> PATTERN number [ '[' page ']' ] '<' file '>'
int compile_pattern(command::Context& ctx) {
  ReleaseSets release(ctx);
  int number = 0, page = 0;
  if (!read_resource_number(ctx, pattern_rule, number, page)) return 0;
  if (!import_images(ctx, "Pattern", 1)) return 0;
  imagefiles::ImageSet& set = ctx.work_set;
  if (!has_size(set_first_image(set), pattern_side)) {
    command::report_error(ctx, "only 8x8 pattern are supported !");
    return 0;
  }
  BitmapBlock block;
  if (!encode_indices(ctx, set, block, false)) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  std::vector<std::uint8_t> record;
  put_palette_head(record, block);
  const std::uint8_t* data = frame_data(block, 0);
  record.insert(record.end(), data, data + pattern_side * pattern_side);
  return store_resource(ctx, command::kind_patterns, page, number, record.data(), record.size());
}

// record -> [ images ] entries transparent key palette(2 * entries) indices
bool expand_border_record(base::Bytes record, bool border, imagefiles::ImageSet& set) {
  clear_set(set);
  auto fail = [&set]() {
    clear_set(set);
    return false;
  };
  base::ByteCursor in{record};
  std::uint8_t images = 1, entries = 0, transparent = 0, key = 0;
  if ((border && !in.u8(images)) || !in.u8(entries) || !in.u8(transparent) || !in.u8(key)) return false;
  if (images < 1 || images > 2 || entries == 0 || key >= entries) return false;
  std::array<imagefiles::Bgr, 256> palette{};
  for (int i = 0; i < entries; ++i) {
    std::uint16_t word = 0;
    if (!in.u16(word)) return false;
    palette[static_cast<std::size_t>(i)] = imagefiles::unpack_565(word);
  }
  const int side = border ? border_side : pattern_side;
  for (int n = 1; n <= images; ++n) {
    imagefiles::Image& image = set.images[static_cast<std::size_t>(n)];
    if (!imagefiles::create_dib(image, side, side, 8, entries, entries)) return fail();
    for (int i = 0; i < entries; ++i) imagefiles::set_colour_entry(image, i, palette[static_cast<std::size_t>(i)]);
    // A border holds its nine tiles row by row of tiles, a pattern its rows.
    const int tiles = border ? 9 : 1, tile = border ? tile_side : pattern_side;
    for (int t = 0; t < tiles; ++t) {
      for (int row = 0; row < tile; ++row) {
        base::Bytes from;
        if (!in.take(static_cast<std::uint64_t>(tile), from)) return fail();
        std::uint8_t* to = imagefiles::row_pointer(image, (t / 3) * tile + row) + (t % 3) * tile;
        for (int x = 0; x < tile; ++x) {
          if (from[static_cast<std::size_t>(x)] >= entries) return fail();
          to[x] = from[static_cast<std::size_t>(x)];
        }
      }
    }
  }
  set.first_number = 1;
  set.count = images;
  set.transparent = transparent;
  set.transparent_colour = palette[key];
  return true;
}

}  // namespace vexa::resources
