#include "command/constants.h"

#include "driver/context.h"

namespace vexa::command {

Constants::Constants() {
  // The letters A to Z stand for their character codes until redefined.
  for (char c = 'A'; c <= 'Z'; ++c) {
    values.push_back({std::string(1, c), c});
    value_index[std::string(1, c)] = c - 'A';
  }
}

}  // namespace vexa::command
