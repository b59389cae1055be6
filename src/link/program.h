// Programming a module's DATA-FLASH from an upload file (.DF): the file is
// checked, the module identified, the rate raised where the protocol allows,
// the flash checked for write protection, the file streamed with a
// percentage display, and optionally the flash read back and its CRC
// compared with the one in the file's header.
#pragma once

#include <string>

namespace vexa::base {
struct Output;
}

namespace vexa::link {

struct LinkState;
struct LinkSettings;

// Programs s.upload_file into the module on the port of the settings,
// writing its progress and messages to out; s.model becomes the model the
// upload file names. Returns 1 when the file was programmed (and verified, with
// VERIFY on), 0 otherwise; every failure has printed its message.
int program_module(LinkSettings& s, LinkState& link, base::Output& out);
// The same with the file's bytes already read (messages still name
// s.upload_file).
int program_upload(LinkSettings& s, LinkState& link, base::Output& out, const std::string& file);

// Tries to invert the byte at address, waiting `wait` ticks for each
// answer. 0 when the byte could be changed (the inverted byte stays in the
// flash), 1 otherwise.
int flash_write_protected(LinkState& link, long address, int wait);

}  // namespace vexa::link
