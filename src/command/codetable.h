// Character code tables: 256 tables of 256 bytes that translate the
// characters of quoted text into the module's character codes.
#pragma once

#include <array>
#include <cstdint>

#include "base/limits.h"

namespace vexa::command {

struct Context;

struct CodeTables {
  CodeTables();
  std::array<std::array<std::uint8_t, 256>, base::limits::code_tables> tables;
  bool enabled = true;  // off while definition lines are read
};

// Translates c through the active table when translation is on.
std::uint8_t translate(const Context& ctx, std::uint8_t c);

// A code-table definition line ('a'=65 or 'abc'=$41,'BC').
void define_codes(Context& ctx);

}  // namespace vexa::command
