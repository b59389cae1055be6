#include "resources/import.h"

#include <cstring>
#include <string>

#include "base/format.h"
#include "command/context.h"
#include "command/macros.h"
#include "command/parameters.h"
#include "command/source.h"
#include "imagefiles/colour.h"
#include "imagefiles/dispatch.h"
#include "resources/colour.h"
#include "resources/dummy.h"
#include "resources/resize.h"
#include "resources/store.h"

namespace vexa::resources {

namespace {

constexpr const char* indent_15 = "               ";

// The names of one '<...>' item of an import list: the name itself, or the
// files its '?' wildcards found (in sorted order).
struct NameQueue {
  std::string name;
  command::FileList list;
  std::size_t next = 0;
  bool pending() const { return next < list.names.size(); }
  std::string take() { return list.directory + list.names[next++]; }
};

// Reads the next '<...>' item into the queue and returns its first file. A
// wildcard that found nothing leaves the name as written, whose loading then
// fails with the kind's load message.
bool read_item(command::Context& ctx, NameQueue& queue, std::string& file) {
  if (!command::read_file_name(ctx, queue.name)) return false;
  queue.list = ctx.source.file_list;
  queue.next = 0;
  file = queue.pending() ? queue.take() : queue.name;
  return true;
}

}  // namespace

ReleaseSets::~ReleaseSets() {
  clear_set(ctx.work_set);
  clear_set(ctx.second_set);
}

void report_info(command::Context& ctx, const char* indent, const char* text) {
  base::report_text(ctx.out, std::string(indent) + text, base::to_all);
}

int read_resource_number(command::Context& ctx, const NumberRule& rule, int& number, int& page, bool single_number) {
  int value = 0;
  const int count = command::parse_header_number(ctx, single_number ? 1 : base::limits::list_unlimited, value);
  page = command::parse_page_number(ctx);
  ctx.page = page;
  if (count == 0) {
    command::report_error(ctx, vexa::base::format("no %snumber !", rule.noun));
    return 0;
  }
  if (count > 1) {
    command::report_error(ctx, "too many parameters !");
    return 0;
  }
  number = value;
  if (value < rule.min || value > rule.max) {
    command::report_error(ctx, vexa::base::format("%snumber %d is wrong, (allowed: %d..%d) !", rule.noun, value, rule.min,
                                           rule.max));
    return 0;
  }
  if (!resource_free(ctx, rule.kind, page, number)) {
    command::report_error(ctx, vexa::base::format("%snumber %d already exists !", rule.noun, number));
    return 0;
  }
  return 1;
}

int peek_import_name(command::Context& ctx, std::string& name, std::string& first_file, int& first_number) {
  command::Source& src = ctx.source;
  const std::size_t start = src.pos;
  NameQueue queue;
  if (!read_item(ctx, queue, first_file)) return 0;
  name = queue.name;
  first_number = ctx.source.file_list.first_number;
  src.pos = start;
  return 1;
}

int set_image_count(const imagefiles::ImageSet& set) {
  int n = 0;
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s) n += is_empty(set.images[static_cast<std::size_t>(s)]) ? 0 : 1;
  return n;
}

imagefiles::Image* set_first_image(imagefiles::ImageSet& set) {
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s)
    if (!is_empty(set.images[static_cast<std::size_t>(s)])) return &set.images[static_cast<std::size_t>(s)];
  return nullptr;
}

void pick_transparent_colour(imagefiles::ImageSet& set, int n) {
  if (n < 1 || n > 9) return;
  const imagefiles::Image* image = set_first_image(set);
  if (image == nullptr || bit_count(*image) <= 1) return;
  const int w = imagefiles::image_width(*image);
  const int h = imagefiles::image_height(*image);
  // n counts the nine points row by row: 1 2 3 along the top, 4 5 6 through
  // the middle, 7 8 9 along the bottom.
  const int column = (n - 1) % 3;
  const int row = (n - 1) / 3;
  const int x = column == 0 ? 0 : (column == 1 ? (w - 1) / 2 : w - 1);
  const int y = row == 0 ? 0 : (row == 1 ? (h - 1) / 2 : h - 1);
  set.transparent_colour = imagefiles::pixel_colour(*image, x, y);
  set.transparent = 1;
}

int load_image_file(command::Context& ctx, imagefiles::ImageSet& set, const std::string& file_name) {
  const imagefiles::ReadOptions options{ctx.settings.alpha_threshold, ctx.settings.gamma};
  imagefiles::ReadNotes notes;
  int result = imagefiles::load_image_file(options, set, file_name, notes);
  for (const imagefiles::LineFault& fault : notes.faults)
    command::report_error_at(ctx, file_name, fault.line_number, fault.message);
  if (result < 1 || notes.colour_depth == 0) return result;
  base::ReportLines lines;
  const bool analysed = analyse_file_colours(set, notes.colour_depth, lines);
  base::report_lines(ctx.out, lines, base::to_all);
  if (!analysed) {
    clear_set(set);
    return 0;
  }
  return result;
}

int import_images(command::Context& ctx, const char* kind_word, int max_images) {
  command::Source& src = ctx.source;
  imagefiles::ImageSet& work = ctx.work_set;
  imagefiles::ImageSet& further = ctx.second_set;
  NameQueue queue;
  std::string file;
  if (!read_item(ctx, queue, file)) return 0;
  base::report_text(ctx.out, vexa::base::format("Import %s <%s>\r\n", kind_word, file.c_str()), base::to_all);
  if (load_image_file(ctx, work, file) == 0) {
    command::report_error(ctx, vexa::base::format("cannot load %s <%s> !", kind_word, file.c_str()));
    return 0;
  }
  if (work.count > max_images) {
    command::report_error(ctx, vexa::base::format("too much images in file (max %d)!", max_images));
    return 0;
  }
  // Further names stand under the first one: "Import " and the kind word
  // and a blank are as wide as the blanks in front of them.
  const std::string align(std::strlen(kind_word) + 8, ' ');
  while (true) {
    if (!queue.pending() && src.line.find('<', src.pos) == std::string::npos) break;
    if (queue.pending()) {
      file = queue.take();
    } else if (!read_item(ctx, queue, file)) {
      return 0;
    }
    base::report_text(ctx.out, align + "<" + file + ">\r\n", base::to_all);
    if (load_image_file(ctx, further, file) == 0) {
      command::report_error(ctx, vexa::base::format("cannot load %s <%s> !", kind_word, file.c_str()));
      return 0;
    }
    // Harmonising fails only when memory runs out or the two files together
    // use every candidate key colour; either way the images cannot be
    // converted together.
    if (!harmonise_sets(work, further)) {
      command::report_error(ctx, "cannot convert picture !");
      return 0;
    }
    imagefiles::append_set(work, further);
    if (work.count > max_images) {
      command::report_error(ctx, vexa::base::format("too much files (max %d)!", max_images));
      return 0;
    }
  }
  pick_transparent_colour(work, ctx.settings.make_transparent);
  return 1;
}

bool fit_to_max_size(command::Context& ctx, imagefiles::ImageSet& set) {
  const command::Settings& s = ctx.settings;
  base::ReportLines lines;
  const bool fitted = fit_set(set, s.max_width, s.max_height, s.resize != 0, s.remove_border, lines);
  base::report_lines(ctx.out, lines, base::to_all);
  if (!fitted) command::report_error(ctx, std::string(indent_15) + "cannot resize picture !");
  return fitted;
}

int remove_borders(command::Context& ctx, imagefiles::ImageSet& set, int* shift_x, int* shift_y) {
  base::ReportLines lines;
  const int removed = remove_set_borders(set, ctx.settings.remove_border, lines, shift_x, shift_y);
  base::report_lines(ctx.out, lines, base::to_all);
  return removed;
}

bool is_big_resource(const command::Context& ctx, char letter, std::uint32_t size) {
  return ctx.settings.big_kinds.find(letter) != std::string::npos &&
         static_cast<std::int64_t>(size) > static_cast<std::int64_t>(ctx.settings.big_limit);
}

int replace_big_resource(command::Context& ctx, imagefiles::ImageSet& set, BitmapBlock& block, char letter, int number,
                         const char* line_format, const char* failure_message,
                         void (*after_encode)(BitmapBlock&)) {
  if (!is_big_resource(ctx, letter, block.block_size)) return 1;
  if (!make_dummy_images(ctx, set, letter, number)) return 0;
  // The placeholders replace the resource whatever their size: they are
  // 1-bit line drawings, far below any limit that made the check fire.
  if (!encode_bitmap(set, block, 2, ctx.settings.dithering)) {
    command::report_error(ctx, failure_message);
    return 0;
  }
  if (after_encode != nullptr) after_encode(block);
  base::report_text(ctx.out,
                      std::string(indent_15) + vexa::base::format(line_format, ctx.settings.big_limit / 1024,
                                                            static_cast<int>(block.block_size)),
                      base::to_all);
  return 1;
}

}  // namespace vexa::resources
