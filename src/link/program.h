// Programming a module's DATA-FLASH from an upload file (.DF): the file is
// checked, the module identified, the rate raised where the protocol allows,
// the flash checked for write protection, the file streamed with a
// percentage display, and optionally the flash read back and its CRC
// compared with the one in the file's header.
#pragma once

#include <string>
#include <string_view>

namespace vexa {
struct Context;
}

namespace vexa::link {

struct LinkState;

// What a programming run takes from an upload file: the header text (its
// first 250 bytes) names the model after "program " and carries, after the
// first two "#TP", the region 1 length and region 2 start, the payload's
// length and CRC, and in "#BR1," the progress bar and the verify blocks; the
// file is complete when its last 10 bytes are the end-of-upload command.
struct UploadHeader {
  int model = -1;  // row of the model table
  long region1_length = 0;
  long region2_start = 0;  // S, as the compiler that wrote the file had it
  long total = 0;          // flash bytes of the payload
  long crc = 0;            // CRC of all of them
  long bar_left = 0, bar_top = 0, bar_right = 0, bar_bottom = 0;
  long verify_blocks = 0;
  bool complete = false;
};

// Reads the header and trailer of an upload file's bytes. The model is the
// one the header names, else `model` as given. Returns 1, or 0 when the
// header names no module ("program " is missing): not an upload file.
int read_upload_file(std::string_view file, int model, UploadHeader& header);

// Programs ctx.settings.upload_file into the module on the port of the
// settings. Returns 1 when the file was programmed (and verified, with
// VERIFY on), 0 otherwise; every failure has printed its message.
int program_module(Context& ctx);
// The same with the file's bytes already read (messages still name
// ctx.settings.upload_file).
int program_upload(Context& ctx, const std::string& file);

// Tries to invert the byte at address, waiting `wait` ticks for each
// answer. 0 when the byte could be changed (the inverted byte stays in the
// flash), 1 otherwise.
int flash_write_protected(LinkState& link, long address, int wait);

}  // namespace vexa::link
