// JPEG reader internals that tests check directly. The reader itself,
// read_jpeg, is declared with the other readers in dispatch.h.
#pragma once

namespace vexa::imagefiles {

// Pixels per metre for a JFIF density: a density of 0 counts as 72; unit 1
// (dots per inch) converts with 2.54 cm per inch, rounded half up; unit 2
// (dots per centimetre) multiplies by 100; any other unit gives 72 dots per
// inch (2835) whatever the density.
int jpeg_pels_per_metre(int unit, int density);

}  // namespace vexa::imagefiles
