// The display command table as a plain-text listing for `vexac --commands`
// and the language reference generated from it.
#pragma once

#include <string>

namespace vexa::command {

// One line per command, sorted by name, three columns separated by at least
// two blanks (no column holds two blanks in a row, so the columns can be cut
// apart again): the command as written after '#', its parameters as the
// encoder checks them, and the models that accept it.
std::string command_list();

}  // namespace vexa::command
