#include "base/models.h"

#include <cctype>

namespace vexa::base {

int baud_index(long rate) {
  for (std::size_t i = 0; i < baud_rates.size(); ++i)
    if (baud_rates[i] == rate) return static_cast<int>(i);
  return -1;
}

int find_model(std::string_view text) {
  int found = -1;
  for (std::size_t row = 0; row < models.size(); ++row) {
    std::string_view name = models[row].name;
    if (text.size() < name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(text[i])) ==
             std::toupper(static_cast<unsigned char>(name[i]));
    if (same) found = static_cast<int>(row);
  }
  return found;
}

int select_model(int selected, std::string_view text) {
  int found = find_model(text);
  return found >= 0 ? found : selected;
}

}  // namespace vexa::base
