// vexac --dump-image FILE [BASE]: shows what the compiler reads from an image
// file. Every image is written as BASE_nnn.bmp and described in one line.
#pragma once

#include <string>
#include <vector>

namespace vexa::driver {

// args are the words after --dump-image. Prints one line per image:
//   "image NNN: W x H, B bit, C colors, delay D, transparent T, RGB=R,G,B"
// (NNN the slot number as in the file name, D in tenths of a second, T the
// set's transparency flag and R,G,B its transparent colour). Returns 0 when
// the file was loaded and dumped, 2 (the run could not do what was asked)
// after a message otherwise.
int dump_image_command(const std::vector<std::string>& args);

}  // namespace vexa::driver
