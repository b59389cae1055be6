// Identification of the connected module: its baud rate and protocol mode
// (plain or Duzedadoridido), its geometry, colours and series compared with
// the selected model, and the size of its DATA-FLASH.
#pragma once

namespace vexa::base {
struct Output;
}

namespace vexa::link {

struct LinkState;
struct LinkSettings;

inline constexpr int no_module = -1;
inline constexpr int other_module = -11;  // answered, but not the selected model

// Finds the module on the open port, with the fixed rate of the settings
// (scan off and a rate set) or by scanning the rates from 230400 down.
// Returns the baud index (0 to 8) when the module matches the selected
// model; no_module when none answered; other_module when another or an
// unknown model answered (the message is printed). Sets link's protocol
// mode, baud index and highest DATA-FLASH address.
int identify_module(const LinkSettings& s, LinkState& link, base::Output& out);

// Asks the module for the size of its DATA-FLASH and sets
// link.highest_address (size - 1, or -1 when there is no answer).
void query_flash_size(LinkState& link);

}  // namespace vexa::link
