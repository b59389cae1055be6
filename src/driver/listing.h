// vexac --list FILE: what an upload file (.DF) or object file (.DFO) holds,
// read back with the code that writes it: model, project, the regions, both
// checksums recomputed, and the tables of contents, every resource and
// every macro on a line of its own.
#pragma once

#include <string>
#include <vector>

namespace vexa::driver {

// args are the words after --list: the file name. A name ending in .DFO
// (any case) is read as an object file, any other as an upload file.
// Prints the listing on standard output; returns 0 when the file is whole
// and both checksums match its bytes. A file that cannot be read, is
// truncated or damaged ends the listing with a message naming what is wrong
// on standard error and returns 2; so does a checksum that does not match,
// after the whole listing.
int list_command(const std::vector<std::string>& args);

}  // namespace vexa::driver
