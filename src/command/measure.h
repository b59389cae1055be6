// Functions of the expression language that measure resources compiled
// earlier in the run: the size of a picture, animation, button or instrument,
// and the size of a text drawn in a compiled font. The expression evaluator
// calls them with the evaluated arguments, their count already checked.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "command/context.h"
#include "command/work_areas.h"

namespace vexa::command {

// STRING_P(zoomX, zoomY, addwidth, addheight, space, stringcode): the drawing
// parameters packed into the one value STRING_W and STRING_H take.
std::int32_t pack_text_parameters(std::span<const std::int32_t> a);

// STRING_W / STRING_H(string, parameters, font [, page]): the width of the
// widest line or the height of a text drawn in a compiled font.
std::int32_t text_size(Context& ctx, bool width, std::span<const std::int32_t> a);

// PICTURE_W(number [, page]) and its kin: the width or height of a compiled
// resource of a kind; 0 after reporting "<name> number %d is not available!"
// with the name as written, shortened by its last two characters.
std::int32_t resource_size(Context& ctx, ResourceKind kind, std::string_view name, bool width,
                           std::span<const std::int32_t> a);

}  // namespace vexa::command
