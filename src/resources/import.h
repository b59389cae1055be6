// The steps every image resource compiler shares: the resource number and
// page of the directive, the import list that loads one or more image files
// into the working set, the transparent colour picked from a pixel, and the
// replacement of resources above the DISABLEBIGIMAGES limit by placeholders.
#pragma once

#include <cstdint>
#include <string>

#include "imagefiles/dispatch.h"
#include "imagefiles/image.h"
#include "resources/bitmap.h"

namespace vexa::command {
struct Context;
}

namespace vexa::resources {

// How a kind numbers its resources: the noun of its messages ("Picture" gives
// "no Picturenumber !"), its directory and its range.
struct NumberRule {
  const char* noun;
  int kind;  // command::ResourceKind
  int min;
  int max;
};

// header -> number [ '[' page ']' ]
// Reads the resource number and the page at the parse position and makes the
// page current. Returns 1 with a number in range whose directory entry is
// free; 0 after reporting "no %snumber !", "too many parameters !",
// "%snumber %d is wrong, (allowed: %d..%d) !" or "%snumber %d already exists !".
// With single_number only the first number is read (a directive whose own
// parameters follow it), and the count is not checked.
int read_resource_number(command::Context& ctx, const NumberRule& rule, int& number, int& page, bool single_number = false);

// import-list -> '<' file '>' { '<' file '>' }, each name possibly a '?'
// sequence. Loads the files into ctx.work_set (further files through
// ctx.second_set, harmonised and appended), writing "Import %s <%s>" and the
// aligned lines of the further names, and applies MAKETRANSPARENT. Returns 1,
// or 0 after reporting.
int import_images(command::Context& ctx, const char* kind_word, int max_images);

// Reads the first '<...>' item of an import list the way import_images will
// and puts the parse position back in front of it, for compilers that must
// look at the name before they import (the I16 test of INSTRUMENT, the base
// name of exports). name is the full name as written; first_file the file
// import_images loads first (the first match of a '?' sequence, else name);
// first_number the number at the wildcard's place in that file's name, -1
// when there is none. Returns 1, or 0 after reporting "Cannot found a
// Filename !".
int peek_import_name(command::Context& ctx, std::string& name, std::string& first_file, int& first_number);

// MAKETRANSPARENT n (1 to 9; 0 does nothing): the colour of a corner, edge
// middle or centre pixel of the set's first image becomes the transparent
// colour. 1-bit images are left alone.
void pick_transparent_colour(imagefiles::ImageSet& set, int n);

// Number of slots of the set that hold an image.
int set_image_count(const imagefiles::ImageSet& set);
// The first image in the set's used range, or null.
imagefiles::Image* set_first_image(imagefiles::ImageSet& set);

// True when DISABLEBIGIMAGES names the kind letter and size exceeds its limit.
bool is_big_resource(const command::Context& ctx, char letter, std::uint32_t size);

// The big-resource check of pictures, buttons and animations: when the
// encoded block is too big for the kind, the set's images become placeholders
// (make_dummy_images), are encoded again with automatic run-length coding, and
// line_format (with the limit in kB and the new size) is written indented by
// 15 blanks. after_encode, when given, reworks the new block before its size
// is reported (fonts share the data of look-alike placeholders). Returns 1; 0
// after reporting failure_message when the placeholders cannot be drawn or
// encoded.
int replace_big_resource(command::Context& ctx, imagefiles::ImageSet& set, BitmapBlock& block, char letter, int number,
                         const char* line_format, const char* failure_message,
                         void (*after_encode)(BitmapBlock&) = nullptr);

// Loads a picture or font file into the set through the file readers, with
// the run's reader settings (ALPHATHRESHOLD, DOGAMMA). A reader's fault at a
// line of the file is reported as an error of the current macro line naming
// that file's line. Colours a reader left to be counted (a GIF's) are
// analysed here, with their information lines. Returns what the dispatcher
// returns: 0 on failure.
int load_image_file(command::Context& ctx, imagefiles::ImageSet& set, const std::string& file_name);

// MAXSIZE: fits the set to the largest allowed size (RESIZE keeps the
// aspect, REMOVEBORDER first cuts a lone picture's border) and writes what
// was cut and scaled. Returns false after reporting "cannot resize picture !"
// when a picture cannot be resized.
bool fit_to_max_size(command::Context& ctx, imagefiles::ImageSet& set);

// REMOVEBORDER: cuts one border off all images of the set (see
// remove_set_borders, which also moves shift_x and shift_y) and writes the
// line of the cut. Returns what remove_set_borders returns; -1 (out of
// memory) is the caller's to report.
int remove_borders(command::Context& ctx, imagefiles::ImageSet& set, int* shift_x = nullptr, int* shift_y = nullptr);

// Clears the working set and the second set when a compiler returns, so that
// no image outlives the directive that loaded it.
struct ReleaseSets {
  explicit ReleaseSets(command::Context& c) : ctx(c) {}
  ~ReleaseSets();
  ReleaseSets(const ReleaseSets&) = delete;
  ReleaseSets& operator=(const ReleaseSets&) = delete;
  command::Context& ctx;
};

// Writes an information line to every channel.
void report_info(command::Context& ctx, const char* indent, const char* text);

}  // namespace vexa::resources
