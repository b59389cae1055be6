// Pictures and buttons: images brought to the module's size and colour
// depth and stored as bitmap blocks. The preparation of a picture is shared
// with the display commands that carry a picture inside a macro.
#pragma once

#include "imagefiles/image.h"

namespace vexa::command {
struct Context;
}

namespace vexa::resources {

// Brings a one-picture set into the form the module shows, with the current
// settings: fitted to MAXSIZE (with the border removal of an oversized
// picture), plain borders removed by REMOVEBORDER, the depth limited by
// MAXCOLORDEPTH and DITHERING, then the smallest lossless depth. Writes the
// information lines of each step. Returns 1; 0 after "cannot resize picture !"
// was reported; -1 when memory ran out (the caller reports its conversion
// message).
int prepare_picture(command::Context& ctx, imagefiles::ImageSet& set);

}  // namespace vexa::resources
