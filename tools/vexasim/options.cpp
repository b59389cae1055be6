#include "options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "base/models.h"

namespace vexa::sim {

const char* const usage_text =
    "usage: vexasim [options]\n"
    "A display module at the far end of a pseudo-terminal. Prints the terminal's\n"
    "path, then answers on it until standard input ends (Ctrl-D) or it is\n"
    "interrupted; then writes the files asked for below.\n"
    "\n"
    "module:\n"
    "  --model NAME|ROW       answer as this model (default VexaG6)\n"
    "  --geometry W,H,T,C,S   another module: width, height, type letter,\n"
    "                         colours, series letter (e.g. 320,240,H,2,A)\n"
    "  --swapped              mounted the other way: width and height exchanged\n"
    "  --answer short|long    form of the identification answer (default: the\n"
    "                         short one when it can describe the module)\n"
    "  --framed               speak Duzedadoridido (default: plain bytes)\n"
    "  --rate BAUD            line rate at start (default 115200)\n"
    "  --flash-kb N           DATA-FLASH size in kB, 0 to 65535 (default 1024)\n"
    "  --no-size              do not answer the flash size query\n"
    "  --write-protected      writes do not change the flash\n"
    "  --address N            RS-485 address 0 to 255; packets count only once\n"
    "                         the module is selected\n"
    "  --throttle             take the byte time of the rate for every byte\n"
    "  --any-rate             take bytes whatever rate the other side uses\n"
    "                         (otherwise bytes sent at another rate are lost)\n"
    "  --gap-ms N             a packet silent this long is dropped (default 20)\n"
    "\n"
    "faults (N counts from 1; may be given several times):\n"
    "  --fault drop-byte:N    the Nth byte received is lost\n"
    "  --fault corrupt-byte:N the Nth byte received is changed\n"
    "  --fault drop:N         the last byte of the Nth operation is lost\n"
    "  --fault corrupt:N      the last byte of the Nth operation is changed\n"
    "                         (operation: a packet in Duzedadoridido mode, an\n"
    "                         ESC command in plain mode)\n"
    "  --fault noack:N        the Nth ACK is not sent\n"
    "  --fault bad-answer:N   the Nth answer goes out with its last byte changed\n"
    "  --fault lose-answer:N  the Nth answer is not sent\n"
    "  --fault error:N        the Nth write command (plain) is not stored and\n"
    "                         answered with E; the Nth DC1 packet (framed) is\n"
    "                         refused with E\n"
    "  --fault stop:N         from the Nth operation on, answer nothing\n"
    "  --fault stop-write:N   from the Nth write command on, answer nothing\n"
    "  --fault hang:N         from the Nth operation on, read nothing\n"
    "  --fault unplug:N       at the Nth operation, close the line\n"
    "\n"
    "results:\n"
    "  --dump FILE            the flash, byte for byte\n"
    "  --status FILE          the counters, one 'name value' a line\n"
    "  --log FILE             one line per command or packet handled\n"
    "  --trace FILE           every byte received, as it came\n"
    "  --help                 this text\n";

namespace {

// ORDER: as FaultKind.
constexpr std::array<std::string_view, 12> fault_names = {
    "drop-byte", "corrupt-byte", "drop", "corrupt", "noack", "bad-answer", "lose-answer",
    "error",     "stop",         "stop-write", "hang", "unplug"};
static_assert(static_cast<std::size_t>(FaultKind::unplug) + 1 == fault_names.size());

// A whole decimal number from min to max; anything else is refused.
bool parse_number(std::string_view text, long min, long max, long& value) {
  std::string copy(text);
  if (copy.empty() || copy.size() > 18) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(copy.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  value = v;
  return true;
}

// NAME|ROW: a model of the table, by its name (as the compiler's model line
// reads it) or by its row.
bool set_model(std::string_view text, Options& o) {
  long row = -1;
  if (!parse_number(text, 0, static_cast<long>(base::models.size()) - 1, row)) row = base::find_model(text);
  if (row < 0) return false;
  const base::Model& m = base::models[static_cast<std::size_t>(row)];
  o.width = m.width;
  o.height = m.height;
  o.type = m.type;
  o.colours = m.colours;
  o.series = m.series;
  return true;
}

// W,H,T,C,S -> number ',' number ',' letter ',' number ',' letter
bool set_geometry(std::string_view text, Options& o) {
  std::array<std::string_view, 5> parts;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::size_t comma = i + 1 < parts.size() ? text.find(',') : text.size();
    if (comma == std::string_view::npos) return false;
    parts[i] = text.substr(0, comma);
    text.remove_prefix(std::min(comma + 1, text.size()));
  }
  long w = 0, h = 0, colours = 0;
  if (!parse_number(parts[0], 1, 65535, w) || !parse_number(parts[1], 1, 65535, h) ||
      !parse_number(parts[3], 2, 1L << 30, colours) || parts[2].size() != 1 || parts[4].size() != 1)
    return false;
  o.width = static_cast<int>(w);
  o.height = static_cast<int>(h);
  o.type = static_cast<unsigned char>(parts[2][0]);
  o.colours = static_cast<int>(colours);
  o.series = static_cast<unsigned char>(parts[4][0]);
  return true;
}

// KIND:N
bool add_fault(std::string_view text, Options& o) {
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  long n = 0;
  if (!parse_number(text.substr(colon + 1), 1, 1L << 40, n)) return false;
  for (std::size_t k = 0; k < fault_names.size(); ++k) {
    if (fault_names[k] != text.substr(0, colon)) continue;
    o.faults.push_back(Fault{static_cast<FaultKind>(k), n});
    return true;
  }
  return false;
}

// Options without a value set a switch; the result files take a name.
struct Switch {
  std::string_view name;
  bool Options::*field;
  bool value;
};
constexpr Switch switches[] = {
    {"--swapped", &Options::swapped, true},   {"--framed", &Options::framed, true},
    {"--no-size", &Options::size_answer, false}, {"--write-protected", &Options::write_protected, true},
    {"--throttle", &Options::throttle, true}, {"--any-rate", &Options::any_rate, true},
};

struct FileOption {
  std::string_view name;
  std::string Options::*field;
};
constexpr FileOption file_options[] = {
    {"--dump", &Options::dump}, {"--status", &Options::status}, {"--log", &Options::log}, {"--trace", &Options::trace}};

// Sets the option arg that takes a value; false when it is none of them or
// the value is wrong for it (known then says which).
bool set_value(std::string_view arg, std::string_view value, Options& o, bool& known) {
  known = true;
  for (const FileOption& f : file_options)
    if (arg == f.name) {
      o.*f.field = value;
      return !value.empty();
    }
  long n = 0;
  if (arg == "--model") return set_model(value, o);
  if (arg == "--geometry") return set_geometry(value, o);
  if (arg == "--fault") return add_fault(value, o);
  if (arg == "--answer") {
    o.answer = value == "short" ? AnswerForm::short_form : AnswerForm::long_form;
    return value == "short" || value == "long";
  }
  if (arg == "--rate") return parse_number(value, 1, 1000000, o.rate) && base::baud_index(o.rate) >= 0;
  if (arg == "--flash-kb") return parse_number(value, 0, 65535, o.flash_kb);
  if (arg == "--address") {
    if (!parse_number(value, 0, 255, n)) return false;
    o.address = static_cast<int>(n);
    return true;
  }
  if (arg == "--gap-ms") {
    if (!parse_number(value, 1, 60000, n)) return false;
    o.gap_ms = static_cast<int>(n);
    return true;
  }
  known = false;
  return false;
}

}  // namespace

ParseResult parse_options(int argc, char** argv, Options& o, std::string& message) {
  set_model("VexaG6", o);
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help") return ParseResult::help;
    const Switch* s = std::find_if(std::begin(switches), std::end(switches), [&](const Switch& w) { return w.name == arg; });
    if (s != std::end(switches)) {
      o.*(s->field) = s->value;
      continue;
    }
    std::string_view value = i + 1 < argc ? std::string_view(argv[i + 1]) : std::string_view();
    bool known = false;
    if (set_value(arg, value, o, known) && i + 1 < argc) {
      ++i;
      continue;
    }
    if (!known)
      message = "unknown option '" + std::string(arg) + "'";
    else if (i + 1 >= argc)
      message = "option " + std::string(arg) + " needs a value";
    else
      message = "bad value '" + std::string(value) + "' for " + std::string(arg);
    return ParseResult::error;
  }
  return ParseResult::run;
}

}  // namespace vexa::sim
