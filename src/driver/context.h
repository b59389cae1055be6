// The run's whole state. The driver creates one Context per run and passes it
// to every operation; nothing of the compiler lives in a global, so a test can
// build a fresh context in one line and run two compilations side by side.
#pragma once

#include "command/constants.h"
#include "command/encoder.h"
#include "command/expression.h"
#include "command/macros.h"
#include "driver/dataflash.h"
#include "base/output.h"
#include "driver/settings.h"
#include "driver/source.h"
#include "imagefiles/glyphs.h"
#include "link/link_state.h"
#include "resources/codetable.h"
#include "imagefiles/image.h"

namespace vexa {

struct Context {
  base::Output out;
  driver::Settings settings;
  driver::Source source;
  driver::DataFlash flash;
  command::Evaluator eval;
  command::CommandBuffer command;
  command::Constants constants;
  command::OpenMacro macro;
  resources::CodeTables code_tables;
  imagefiles::ImageSet work_set;    // each import is loaded and converted here
  imagefiles::ImageSet second_set;  // further files of an import list
  imagefiles::FontLibrary fonts;   // faces for the text the compiler draws itself
  link::LinkState link;
};

}  // namespace vexa
