// The display commands that carry a picture inside the macro (CL and UL): the
// command bytes are followed in the image by a complete bitmap block made
// from a picture file named on the same line.
#pragma once

namespace vexa::command {
struct Context;
}

namespace vexa::resources {

// Called by the dispatcher when the encoder answered picture_follows, with
// ESC and the command letters in the command buffer; first is 'C' or 'U'. Returns 1 when the command and its picture
// were appended.
int inline_picture(command::Context& ctx, char first);

}  // namespace vexa::resources
