// Placeholders for resources that are too big for the module: every image of
// a set is redrawn at its own size as a 1-bit line drawing with a caption
// naming the resource, in the two colours of its kind.
#pragma once

#include "imagefiles/image.h"

namespace vexa::command {
struct Context;
}

namespace vexa::resources {

// Replaces every image of the set by the placeholder of the kind letter
// (P picture, A animation, B button, I instrument, F font) for resource
// number, and clears the set's transparency. Returns 1; 0 after reporting
// when the caption font cannot be found or memory runs out (the set may then
// be partly replaced).
int make_dummy_images(command::Context& ctx, imagefiles::ImageSet& set, char letter, int number);

}  // namespace vexa::resources
