// The display command encoder: one '#' line of a macro becomes one escape
// sequence appended to the open macro.
#pragma once

#include <cstdint>

#include "command/command_table.h"
#include "command/context.h"

namespace vexa::command {

inline constexpr std::uint8_t esc = 27;

// Whether a command of this gate is accepted while model (a row of the model
// table, or -1 before any model line) is selected.
bool gate_admits(Gate gate, int model);

// Encodes the command at the parse position (just after '#'). Returns 1 when
// it was accepted, 0 after a reported error, picture_follows for a command
// that carries a picture file named on the rest of the line (CL, UL): the
// command bytes are in the buffer and the caller reads the picture, since
// pictures are read by the floor above the command language.
inline constexpr int picture_follows = 2;
int encode_command(Context& ctx);

// Appends the command buffer to the macro bytes. Returns 0 after reporting
// "DATA-FLASH memory overflow !" when it does not fit.
int flush_command(Context& ctx);

// Appends raw bytes behind the last command, counted as macro bytes of the
// open macro. Returns 0 after reporting an overflow.
int append_macro_bytes(Context& ctx, const std::uint8_t* bytes, int count);

}  // namespace vexa::command
