// The compilation's whole state. The driver creates one Context per run and
// passes it to every operation of the compiler floors; nothing of the
// compiler lives in a global, so a test can build a fresh context in one line
// and run two compilations side by side. The link to a module is not part of
// it: the driver owns that.
#pragma once

#include "base/output.h"
#include "command/codetable.h"
#include "command/constants.h"
#include "command/encoder.h"
#include "command/expression.h"
#include "command/macros.h"
#include "command/settings.h"
#include "command/source.h"
#include "command/work_areas.h"
#include "imagefiles/glyphs.h"
#include "imagefiles/image.h"

namespace vexa::command {

struct Context {
  base::Output out;
  Settings settings;
  Source source;
  DataFlash flash;
  Evaluator eval;
  CommandBuffer command;
  Constants constants;
  OpenMacro macro;
  CodeTables code_tables;
  imagefiles::ImageSet work_set;    // each import is loaded and converted here
  imagefiles::ImageSet second_set;  // further files of an import list
  imagefiles::FontLibrary fonts;    // faces for the text the compiler draws itself
};

}  // namespace vexa::command
