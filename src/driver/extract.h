// vexac --extract FILE DIR: everything an upload file (.DF) or object file
// (.DFO) holds, decoded back into files a macro file can name again.
//
// Images become BMP files named by kind, page, number and image:
//   <kind>-p<page>-<number>.bmp            picture, pattern (one image)
//   <kind>-p<page>-<number>-f<frame>.bmp   button, border, animation,
//                                          instrument (frame 0 is its dial)
//   font-p<page>-<number>-c<code>.bmp      one file per glyph
// with kind in lower case, number, frame and code three digits. Strings
// become string-p<page>-<number>.txt (the stored bytes without their end
// byte); every macro goes into macros.txt, its bytes in hexadecimal, one
// command (from its ESC on) a line.
#pragma once

#include <string>
#include <vector>

namespace vexa::driver {

// args are the words after --extract: the file and the folder, which is
// created when missing. Files of the same names are replaced whole; nothing
// outside the folder is written. Names every file written on standard
// output. Returns 0; 2 after a message on standard error when the file
// cannot be read or is damaged, or a file cannot be written. A resource
// whose block is damaged is named and skipped, and the run returns 2 at its
// end.
int extract_command(const std::vector<std::string>& args);

}  // namespace vexa::driver
