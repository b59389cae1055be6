// The layout that turns the DATA-FLASH work areas, macro tables and resource
// directories into one image with tables of contents and checksums, written
// as upload file (.DF) and object file (.DFO), and the memory overview.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "command/work_areas.h"

namespace vexa::command {
struct Context;
}

namespace vexa::driver {

// Computes the tables of contents' size and the payload, and checks it.
void layout_image(command::Context& ctx);
// Completes the image and writes the object file (when asked) and the upload file.
void write_outputs(command::Context& ctx);
void print_memory_overview(command::Context& ctx);

}  // namespace vexa::driver
