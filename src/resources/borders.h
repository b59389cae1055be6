// The records BORDER and PATTERN store (see borders.cpp for their layout),
// read back.
#pragma once

#include "base/bytes.h"
#include "imagefiles/image.h"

namespace vexa::resources {

// Decodes a border record (border true: one or two 24 x 24 images from
// their nine tiles) or a pattern record (one 8 x 8 image) into the set,
// cleared first, as 8-bit images from number 1 with the record's palette
// and transparency. Bytes after the record are ignored. False (set
// cleared) when the record is truncated, names no palette, or an index
// lies outside its palette.
bool expand_border_record(base::Bytes record, bool border, imagefiles::ImageSet& set);

}  // namespace vexa::resources
