// The files the animation and instrument compilers export besides the
// stored resource (EXPORTOVERVIEW): a G16 file of all images, one BMP file
// per image, and overview sheets. Each writer reports its own failure, so a
// compiler can write them one after the other; a failed export never undoes
// the stored resource.
#pragma once

#include <string>

#include "imagefiles/image.h"

namespace vexa::command {
struct Context;
}

namespace vexa::resources {

// Bits of the EXPORTOVERVIEW value.
inline constexpr int export_fonts = 0x1;
inline constexpr int export_animations = 0x2;
inline constexpr int export_instruments = 0x4;
inline constexpr int export_g16_file = 0x100;
inline constexpr int export_bmp_files = 0x200;
inline constexpr int export_extra = 0x400;  // difference frames, cropped instrument frames

// The name exported files are derived from: the file's name without its
// directory, its last '.' replaced by '_' ("dir/needle.bmp" -> "needle_bmp").
std::string export_base_name(const std::string& file);

// Writes the set as one bitmap block (run-length coding where it pays): a
// name ending in ".G24" (any case) keeps 24-bit colour, any other name is
// written in the module's 5-6-5 colour. The set may be converted in place to
// the stored depth, as the encoder does; dithering is the DITHERING value
// used when true-colour pictures are lowered to 16 bits. Returns 1, or 0 when
// the set cannot be encoded or the file cannot be written (an older file of
// that name then stays as it was).
int write_g16(imagefiles::ImageSet& set, const std::string& file_name, int dithering = 0);

// Where an export named file_name is written: the name itself, or inside the
// root folder of a confined run; empty when the name leads out of that folder.
std::string export_path(const command::Context& ctx, const std::string& file_name);

// Writes the set as a G16 file (the set may be converted to the stored
// depth). Returns 1; 0 after the error "cannot export <%s> !".
int export_g16(command::Context& ctx, imagefiles::ImageSet& set, const std::string& file_name);

// Writes every image as "<base>_<nnn>.bmp" (nnn its slot number). Returns 1;
// 0 after the error "cannot export <%s> !" naming "<base>_nnn.bmp".
int export_single_bmps(command::Context& ctx, const imagefiles::ImageSet& set, const std::string& base);

// Writes "Export Overview <%s>" and the overview sheet of the set (cells of
// width x height, columns per grid row, the stretch mode of the frames).
// Returns 1; 0 after the error "cannot export overview <%s> !".
int export_sheet(command::Context& ctx, const std::string& file_name, imagefiles::ImageSet& set, int width, int height, int columns,
                 int stretch_mode);

}  // namespace vexa::resources
