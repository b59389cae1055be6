// vexac --list FILE: what an upload file (.DF) or object file (.DFO) holds,
// read back with the code that writes it: model, project, the regions, both
// checksums recomputed, and the tables of contents, every resource and
// every macro on a line of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/upload_file.h"

namespace vexa::driver {

// One used entry of a table of contents.
struct Entry {
  std::string_view kind;  // the directive that makes it (FONT ... STRING) or the macro kind
  int page = -1;          // -1 for the fixed macros, which have neither page nor number
  int number = -1;
  long address = 0;
  long size = 0;
};

// "PICTURE 3 of page 1", or the kind alone for a fixed macro.
std::string entry_name(const Entry& e);

// A name ending in .DFO (any case) names an object file.
bool is_object_file_name(const std::string& name);

// Reads the file into bytes and, by its name, as object or upload file into
// file. False with error naming what is wrong: a file that cannot be read,
// one the upload reader refuses, or an image too short for its tables of
// contents. Checksums are not judged here.
bool read_flash_file(const std::string& name, std::string& bytes, link::FlashFile& file, std::string& error);

// Collects the used entries of the fixed macros and of every kind's entry
// tables, in the order of the layout, and gives each resource its size: the
// resource blocks lie one after the other, so each runs to the next one and
// the last to the end of the image. Returns "" or the damage found.
std::string read_contents(const std::vector<std::uint8_t>& image, std::vector<Entry>& resources,
                          std::vector<Entry>& macros);

// args are the words after --list: the file name. A name ending in .DFO
// (any case) is read as an object file, any other as an upload file.
// Prints the listing on standard output; returns 0 when the file is whole
// and both checksums match its bytes. A file that cannot be read, is
// truncated or damaged ends the listing with a message naming what is wrong
// on standard error and returns 2; so does a checksum that does not match,
// after the whole listing.
int list_command(const std::vector<std::string>& args);

}  // namespace vexa::driver
