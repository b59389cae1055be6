// State of the serial link to a module for one programming run.
#pragma once

namespace vexa::link {

struct LinkState {
  int port_fd = -1;
};

}  // namespace vexa::link
