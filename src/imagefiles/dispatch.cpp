#include "imagefiles/dispatch.h"

#include "driver/paths.h"

namespace vexa::imagefiles {

bool read_whole_file(const std::string& file_name, std::string& bytes) {
  return driver::read_whole_file(file_name, bytes);
}

}  // namespace vexa::imagefiles
