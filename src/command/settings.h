// The run's settings: what the command line and the directives of the macro
// file set, each with its start value. A setting stays in force from the line
// that sets it to the end of the run.
#pragma once

#include <array>
#include <string>

#include "base/limits.h"

namespace vexa::command {

struct Settings {
  // Names of the run (command line, DESTINATION)
  std::string macro_file;
  std::string upload_file;
  std::string object_file;
  std::string log_file;
  std::string macro_directory;  // ends in '/', or empty
  bool write_object = false;    // -o, OBJECTFILE

  // Module link (command line, COM, USB, directives)
  int com_port = 0;         // 0: no port
  std::string com_device;   // a device path given with -c instead of a number
  int baud = 0;             // 0: automatic
  int send_block = 8;       // bytes per serial write
  int rs485_address = -1;   // RS485ADR, -1: none
  int autoscan = 1;         // AUTOSCAN
  int check_write_protect = 1;  // CHECKWRITEPROTECT
  bool verify = false;      // VERIFY
  std::string usb_name;     // USB
  std::string simulator;    // SIMULATION
  bool handoff_failed = false;

  // Model line, MAXSIZE
  int model = -1;  // row of the model table, -1: none
  int max_width = 480;
  int max_height = 480;
  int resize = 1;
  int region1_size = 0;  // 0 while no model is selected
  std::string project_name;

  // Picture and font settings
  int big_limit = 0;      // DISABLEBIGIMAGES, bytes
  std::string big_kinds;  // letters F P B A I
  int max_colour_depth = 16;
  int make_transparent = 0;
  int compress = 0;
  int code_table = 1;
  int dithering = 1;
  int rle_mode = 2;
  int gamma = 0;
  int alpha_threshold = 128;
  int remove_border = 4;
  int export_overview = 0;
  int export_winfont = 0;
  int font_width = 0;  // LOGFONTWIDTH
  std::array<int, 4> instrument = {-180, 180, 5, 123456};
  // Start and end angle of the last instrument built from images: a value of
  // INSTRUMENTPARAM outside -180..180 leaves these in force.
  std::array<int, 2> instrument_angles = {0, 0};

  // Bounds of the run's work: a fuzz run lowers them so that one input costs
  // milliseconds, where a user never comes near them.
  long long max_source_lines = base::limits::source_lines;
  // When set (a full path ending in '/'), the files the macro file names and
  // the exports lie in this folder: relative names are taken inside it, and
  // a name that leads outside it is refused. A fuzz run confines itself to
  // a temporary folder of its own; a compile leaves it empty (names are taken
  // as they are, relative ones in the current directory).
  std::string root_folder;

  // EXPORTMACRO
  int export_mode = 0;
  std::string export_type;
  std::string export_name;
};

}  // namespace vexa::command
