// Animations: a sequence of pictures the module shows one after the other,
// stored as one bitmap block. With COMPRESS the frames after the first are
// difference frames: a pixel the previous screen already shows is stored in
// the key colour, which the module leaves undrawn, so frames that change
// little compress well; such a block carries 2 in header byte 11.
#pragma once

#include "imagefiles/image.h"

namespace vexa::resources {

// Turns every image after the first (in slot order) into the difference to
// the screen the frames before it left: pixels equal to the screen become the
// key colour. The set becomes 24-bit; a set without transparency gets an
// unused colour as key and its transparent flag set. Returns false when
// memory or key colours run out (the set may then be 24-bit already).
bool make_difference_frames(imagefiles::ImageSet& set);

// The other way, for a set read from an animation's block: when its
// transparency field holds the difference flag, every frame after the first
// becomes the screen the module shows after drawing it (key-colour pixels
// show what the frames before left there), and the set 24-bit without
// transparency. Any other set is left as it is. Returns false when memory
// runs out.
bool compose_difference_frames(imagefiles::ImageSet& set);

}  // namespace vexa::resources
