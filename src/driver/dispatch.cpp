#include "driver/dispatch.h"

#include <cctype>
#include <string>
#include <string_view>

#include "base/format.h"
#include "base/models.h"
#include "base/paths.h"
#include "command/constants.h"
#include "command/context.h"
#include "command/definitions.h"
#include "command/encoder.h"
#include "command/expression.h"
#include "command/macros.h"
#include "command/parameters.h"
#include "command/source.h"
#include "resources/compilers.h"
#include "resources/inline_picture.h"

namespace vexa::driver {

namespace {

using command::evaluate_expression;
using command::MacroType;

// prefix: the word starts with the row's first `prefix` characters;
// port: as prefix, and a digit follows them (COM1: the port is part of the word);
// whole_word: the word is the row's word; line_start: the line starts with it.
enum class Match { prefix, port, whole_word, line_start };

// How a numeric setting checks its value.
enum class Check { none, range, colour_depth };

struct Keyword;
using Handler = void (*)(command::Context& ctx, const Keyword& row);

// A numeric setting: the field it sets, its check and its messages.
struct Range {
  int command::Settings::*field = nullptr;
  Check check = Check::none;
  int min = 0;
  int max = 0;
  const char* wrong = nullptr;  // for a value the check refuses
  const char* missing = "missing parameter";
};

struct Keyword {
  std::string_view word;
  int prefix;  // characters compared; 0 with Match::whole_word
  Match match;
  Handler handler;
  Range range{};
  command::MacroType macro = MacroType::macro;  // of the macro header rows
  int (*compile)(command::Context&) = nullptr;           // compiler of the resource rows
  command::Gate gate = command::Gate::all;  // models on which the word is a directive
};

// numeric-parameter -> separator expression
// Moves to the next separator; false (after reporting missing) at the end of the line.
bool numeric_parameter(command::Context& ctx, const char* missing, std::int32_t& value) {
  command::Source& src = ctx.source;
  command::to_separator(src);
  if (command::at_line_end(src)) {
    if (missing != nullptr) report_error(ctx, missing);
    return false;
  }
  ++src.pos;
  value = evaluate_expression(ctx);
  return true;
}

bool baud_supported(long rate) { return base::baud_index(rate) >= 0; }

void set_numeric(command::Context& ctx, const Keyword& row) {
  std::int32_t value;
  if (!numeric_parameter(ctx, row.range.missing, value)) return;
  bool ok = true;
  switch (row.range.check) {
    case Check::none: break;
    case Check::range: ok = value >= row.range.min && value <= row.range.max; break;
    case Check::colour_depth: ok = value == 1 || value == 4 || value == 8 || value == 16; break;
  }
  if (!ok) {
    report_error(ctx, row.range.wrong);
    return;
  }
  ctx.settings.*row.range.field = value;
}

bool same_start(std::string_view text, std::string_view keyword, std::size_t count) {
  if (text.size() < count) return false;
  for (std::size_t i = 0; i < count; ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) != keyword[i]) return false;
  return true;
}

void model_line(command::Context& ctx, const Keyword&) {
  command::Settings& s = ctx.settings;
  command::Source& src = ctx.source;
  std::string_view start(src.line.c_str() + src.line_start, src.line.size() - src.line_start);
  int found = base::find_model(start);
  if (found >= 0) {
    s.model = found;
    s.max_width = base::models[static_cast<std::size_t>(found)].width;
    s.max_height = base::models[static_cast<std::size_t>(found)].height;
    s.region1_size = base::region1_size(found);
  } else {
    // Only names that start like a model line can be chosen by one.
    std::string names;
    for (const base::Model& m : base::models)
      if (same_start(m.name, "VEXA", 4)) names += (names.empty() ? "" : ", ") + std::string(m.name);
    std::size_t word = std::min(start.find_first_of(" \t<'\";"), start.size());
    report_warning(ctx, base::format("%.*s names no model, so none is chosen (models: %s)", static_cast<int>(word),
                               start.data(), names.c_str()));
  }
  command::to_separator(src);
  read_project_name(ctx, s.project_name);
}

void disable_big_images(command::Context& ctx, const Keyword&) {
  std::int32_t value;
  if (!numeric_parameter(ctx, "missing parameter", value)) return;
  ctx.settings.big_limit = static_cast<int>(static_cast<std::uint32_t>(value) * 1024u);
  ctx.settings.big_kinds = "FPBAI";
  skip_blanks(ctx.source);
  if (!at_line_end(ctx.source)) read_quoted_text(ctx, ctx.settings.big_kinds);
}

void resource_directive(command::Context& ctx, const Keyword& row) {
  command::close_macro(ctx);
  row.compile(ctx);
}

void destination(command::Context& ctx, const Keyword&) {
  command::close_macro(ctx);
  // Without a file name the upload file name is left empty, so that the
  // upload file cannot be written and the run ends with an error.
  if (!read_file_name(ctx, ctx.settings.upload_file)) ctx.settings.upload_file.clear();
}

void object_file(command::Context& ctx, const Keyword&) { ctx.settings.write_object = true; }
void verify(command::Context& ctx, const Keyword&) { ctx.settings.verify = true; }
void path(command::Context& ctx, const Keyword&) { set_path(ctx); }
// include -> INCLUDE '<' name '>' [ ',' repeat ]
void include(command::Context& ctx, const Keyword&) {
  command::Source& src = ctx.source;
  std::string name;
  if (!read_file_name(ctx, name)) return;
  if (current_char(src) == '>') ++src.pos;
  skip_blanks(src);
  if (current_char(src) == ',') {
    ++src.pos;
    skip_blanks(src);
  }
  int repeat = at_line_end(src) ? 1 : evaluate_expression(ctx);
  open_source(ctx, name, repeat);
}

void max_size(command::Context& ctx, const Keyword&) {
  command::Settings& s = ctx.settings;
  std::int32_t width, height;
  if (!numeric_parameter(ctx, "missing maxX,maxY values", width)) return;
  if (!numeric_parameter(ctx, "missing maxY value", height)) return;
  if (s.model < 0) {
    report_error(ctx, "no vexa defined !");
    return;
  }
  int display = base::models[static_cast<std::size_t>(s.model)].width;
  if (width < 1 || width > display || height < 1 || height > display) {
    report_error(ctx, base::format("wrong values (allowed 1..%d) !", display));
    return;
  }
  s.max_width = width;
  s.max_height = height;
  s.resize = 1;
  std::int32_t keep;
  if (numeric_parameter(ctx, nullptr, keep) && keep == 0) s.resize = 0;
}

void instrument_param(command::Context& ctx, const Keyword&) {
  command::Source& src = ctx.source;
  command::to_separator(src);
  for (int i = 0; i < 4 && !command::at_line_end(src); ++i) {
    ++src.pos;
    ctx.settings.instrument[static_cast<std::size_t>(i)] = evaluate_expression(ctx);
    to_separator(src);
  }
}

void export_macro(command::Context& ctx, const Keyword&) { command::export_macro_directive(ctx); }

// A fixed macro's number is its place among the macro types.
void fixed_macro(command::Context& ctx, const Keyword& row) {
  command::close_macro(ctx);
  command::open_macro(ctx, row.macro, static_cast<int>(row.macro));
}

void numbered_macro(command::Context& ctx, const Keyword& row) {
  command::close_macro(ctx);
  command::open_macro_header(ctx, row.macro, base::limits::numbers - 1);
}

void simulation(command::Context& ctx, const Keyword&) {
  command::Settings& s = ctx.settings;
  command::Source& src = ctx.source;
  if (src.line.find('<', src.pos) == std::string::npos) {
    // The simulator is named after the model; without a model line there is
    // no name to form.
    if (s.model < 0) {
      report_error(ctx, "no vexa defined !");
      return;
    }
    s.simulator = base::executable_directory() + std::string(base::models[static_cast<std::size_t>(s.model)].name) + ".EXE";
    return;
  }
  std::string name;
  if (!read_file_name(ctx, name)) return;
  s.simulator = name.find('/') == std::string::npos ? base::executable_directory() + name : name;
}

void rs485(command::Context& ctx, const Keyword&) {
  std::int32_t value;
  if (!numeric_parameter(ctx, "there is no RS485 address !", value)) return;
  if (value < 0 || value > 255) {
    report_error(ctx, "wrong RS485 address (allowed 0..255) !");
    return;
  }
  ctx.settings.rs485_address = value;
}

// A baud rate given by a directive: accepted only from the rate table, and
// only while no rate is set (the command line and earlier lines win).
void directive_baud(command::Context& ctx, std::int32_t value) {
  if (value <= 0) return;
  if (!baud_supported(value)) {
    report_error(ctx, base::format("baudrate %ld is not supported !", static_cast<long>(value)));
    return;
  }
  if (ctx.settings.baud == 0) ctx.settings.baud = value;
}

void usb(command::Context& ctx, const Keyword&) {
  command::Source& src = ctx.source;
  command::Settings& s = ctx.settings;
  if (!command::at_line_end(src)) ++src.pos;
  command::skip_blanks(src);
  char c = command::current_char(src);
  if (c != '\'' && c != '"') directive_baud(ctx, evaluate_expression(ctx));
  if (!read_quoted_text(ctx, s.usb_name)) report_error(ctx, "Cannot found a USB/COM name !");
  if (s.baud == 0) s.baud = s.autoscan ? 230400 : 115200;
}

void com(command::Context& ctx, const Keyword&) {
  command::Settings& s = ctx.settings;
  command::Source& src = ctx.source;
  if (s.com_port == 0 && s.com_device.empty()) {
    long port = 0;
    for (std::size_t i = 3; i < ctx.source.word.size() && std::isdigit(static_cast<unsigned char>(ctx.source.word[i])); ++i)
      port = std::min(port * 10 + (ctx.source.word[i] - '0'), 1000000L);
    s.com_port = static_cast<int>(port);
  }
  if (s.baud != 0) return;
  command::to_separator(src);
  if (command::at_line_end(src)) return;
  ++src.pos;
  directive_baud(ctx, evaluate_expression(ctx));
}

// ORDER: rows are tried top to bottom; the first that matches is executed.
const Keyword keywords[] = {
    {"VEXA", 4, Match::line_start, model_line},
    {"DISABLEBIGIMAGES", 0, Match::whole_word, disable_big_images},
    {"STRING", 0, Match::whole_word, resource_directive, {}, {}, resources::compile_string},
    {"DESTINATION", 4, Match::prefix, destination},
    {"OBJECTFILE", 6, Match::prefix, object_file},
    {"VERIFY", 6, Match::prefix, verify},
    {"PATH", 4, Match::prefix, path},
    {"INCLUDE", 7, Match::prefix, include},
    {"MAXSIZE", 7, Match::prefix, max_size},
    {"MAXCOLORDEPTH", 8, Match::prefix, set_numeric,
     {&command::Settings::max_colour_depth, Check::colour_depth, 1, 16, "wrong parameter (allowed 1,4,8,16) !"}},
    {"MAKETRANSPARENT", 9, Match::prefix, set_numeric,
     {&command::Settings::make_transparent, Check::range, 0, 9, "wrong parameter (allowed 0..9) !"}},
    {"COMPRESS", 8, Match::prefix, set_numeric, {&command::Settings::compress}},
    {"CODETABLE", 9, Match::prefix, set_numeric,
     {&command::Settings::code_table, Check::range, 0, 255, "wrong parameter (allowed 0..255) !"}},
    {"DITHERING", 9, Match::prefix, set_numeric,
     {&command::Settings::dithering, Check::range, 0, 3, "wrong parameter (allowed: 0..3) !"}},
    {"DORLE", 5, Match::prefix, set_numeric,
     {&command::Settings::rle_mode, Check::range, 0, 2,
      "wrong parameter (allowed: 0=RLE off; 1=RLE always on; 2=RLE automatic if smaller) !"}},
    {"DOGAMMA", 7, Match::prefix, set_numeric,
     {&command::Settings::gamma, Check::range, 0, 1, "wrong parameter (allowed: 0=off; 1=on) !"}},
    {"ALPHATHRESHOLD", 14, Match::prefix, set_numeric,
     {&command::Settings::alpha_threshold, Check::range, 0, 255, "wrong parameter (allowed: 0..255) !"}},
    {"REMOVEBORDER", 12, Match::prefix, set_numeric,
     {&command::Settings::remove_border, Check::range, 0, 4, "wrong parameter (allowed: 0..4) !"}},
    {"EXPORTOVERVIEW", 14, Match::prefix, set_numeric, {&command::Settings::export_overview}},
    {"EXPORTWINFONT", 13, Match::prefix, set_numeric,
     {&command::Settings::export_winfont, Check::range, 0, 1, "wrong parameter (allowed 0 or 1) !"}},
    {"LOGFONTWIDTH", 7, Match::prefix, set_numeric, {&command::Settings::font_width}},
    {"WINFONT", 7, Match::prefix, resource_directive, {}, {}, resources::compile_winfont},
    {"FONT", 4, Match::prefix, resource_directive, {}, {}, resources::compile_font},
    {"PATTERN", 7, Match::prefix, resource_directive, {}, {}, resources::compile_pattern},
    {"BORDER", 6, Match::prefix, resource_directive, {}, {}, resources::compile_border},
    {"BUTTON", 6, Match::prefix, resource_directive, {}, {}, resources::compile_button},
    {"ANIMATION", 6, Match::prefix, resource_directive, {}, {}, resources::compile_animation},
    {"PICTURE", 7, Match::prefix, resource_directive, {}, {}, resources::compile_picture},
    {"INSTRUMENT", 0, Match::whole_word, resource_directive, {}, {}, resources::compile_instrument},
    {"INSTRUMENTPARAM", 0, Match::whole_word, instrument_param},
    {"EXPORTMACRO", 8, Match::prefix, export_macro},
    {"POWERONMAKRO", 7, Match::prefix, fixed_macro, {}, MacroType::power_on},
    {"RESETMAKRO", 5, Match::prefix, fixed_macro, {}, MacroType::reset},
    {"WATCHDOGMAKRO", 8, Match::prefix, fixed_macro, {}, MacroType::watchdog},
    {"BROWNOUTMAKRO", 8, Match::prefix, fixed_macro, {}, MacroType::brown_out},
    {"MAKRO", 4, Match::prefix, numbered_macro, {}, MacroType::macro},
    {"MACRO", 4, Match::prefix, numbered_macro, {}, MacroType::macro},
    {"TOUCHMAKRO", 5, Match::prefix, numbered_macro, {}, MacroType::touch},
    {"MENUMAKRO", 4, Match::prefix, numbered_macro, {}, MacroType::menu, nullptr, command::Gate::g78},
    {"PORTMAKRO", 4, Match::prefix, numbered_macro, {}, MacroType::port},
    {"BITMAKRO", 3, Match::prefix, numbered_macro, {}, MacroType::bit},
    {"MATRIXMAKRO", 6, Match::prefix, numbered_macro, {}, MacroType::matrix},
    {"ANALOGMAKRO", 6, Match::prefix, numbered_macro, {}, MacroType::analogue},
    {"PROZESSMAKRO", 6, Match::prefix, numbered_macro, {}, MacroType::process},
    {"PROCESSMACRO", 6, Match::prefix, numbered_macro, {}, MacroType::process},
    {"SIMULATION", 7, Match::line_start, simulation},
    {"RS485ADR", 8, Match::prefix, rs485},
    {"AUTOSCAN", 8, Match::prefix, set_numeric,
     {&command::Settings::autoscan, Check::range, 0, 1, "wrong parameter (allowed: 0=off; 1=on) !"}},
    {"CHECKWRITEPROTECT", 17, Match::prefix, set_numeric,
     {&command::Settings::check_write_protect, Check::range, 0, 1, "wrong parameter (allowed: 0=off; 1=on) !"}},
    {"USB", 3, Match::prefix, usb},
    {"COM", 3, Match::port, com},
};

// The INFO directive: prints the items of the rest of the line as one line.
void info_line(command::Context& ctx) {
  command::Source& src = ctx.source;
  // info -> { quoted-text | ',' | !string-constant! | expression } [';' comment]
  while (true) {
    command::skip_blanks(src);
    char c = command::current_char(src);
    if (c == ';' || c == '\0') break;
    if (c == '\'' || c == '"') {
      std::string text;
      ++src.pos;
      while (!command::at_line_end(src) && current_char(src) != c) {
        if (current_char(src) == '\\' && command::char_at(src, src.pos + 1) == 'n') {
          text += "\r\n";
          src.pos += 2;
        } else {
          text += current_char(src);
          ++src.pos;
        }
      }
      if (current_char(src) == c) ++src.pos;
      report_text(ctx.out, text_bytes(ctx, text), base::to_all);
    } else if (c == ',') {
      ++src.pos;
      report_text(ctx.out, " ", base::to_all);
    } else if (c == '!') {
      std::string text;
      if (command::expand_string_constant(ctx, text)) report_text(ctx.out, text, base::to_all);
    } else {
      std::size_t before = src.pos;
      std::int32_t value = command::evaluate_expression(ctx);
      report_text(ctx.out, base::format("%d", value), base::to_all);
      // An expression that consumed nothing would loop for ever.
      if (src.pos == before) ++src.pos;
    }
  }
  report_text(ctx.out, "\r\n", base::to_all);
}

bool matches(const command::Context& ctx, const Keyword& row, std::string_view word, std::string_view line_start) {
  // A word gated to some models goes on to the next rows elsewhere.
  if (!command::gate_admits(row.gate, ctx.settings.model)) return false;
  const auto prefix = static_cast<std::size_t>(row.prefix);
  switch (row.match) {
    case Match::whole_word: return word.size() == row.word.size() && same_start(word, row.word, word.size());
    case Match::line_start: return same_start(line_start, row.word, prefix);
    case Match::prefix: return same_start(word, row.word, prefix);
    case Match::port:
      return same_start(word, row.word, prefix) && word.size() > prefix &&
             std::isdigit(static_cast<unsigned char>(word[prefix]));
  }
  return false;
}

bool is_word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Cuts the line at its first ';' for the rest of the dispatch; the error
// reporter still shows the line as it was read.
void cut_comment(command::Source& src) {
  std::size_t semicolon = src.line.find(';', src.pos);
  if (semicolon == std::string::npos) return;
  src.shown_line = src.line;
  src.line.resize(semicolon);
}

}  // namespace

// line -> INFO... | '#' command | quote code-table | '!' string-constant
//       | [ '++' | '--' ] NAME ( '++' | '--' | op '=' expression | directive )
//       | anything else (a comment)
void dispatch_line(command::Context& ctx) {
  command::Source& src = ctx.source;
  src.pos = 0;
  src.shown_line.clear();
  command::skip_blanks(src);
  src.line_start = src.pos;
  char first = command::current_char(src);
  std::string_view start(src.line.c_str() + src.pos, src.line.size() - src.pos);

  if (same_start(start, "INFO", 4)) {
    src.pos += 4;
    info_line(ctx);
    return;
  }
  if (first == '#') {
    if (ctx.macro.number < 0) {
      report_error(ctx, "No Macronumber defined !");
      return;
    }
    ++src.pos;
    if (command::encode_command(ctx) == command::picture_follows)
      resources::inline_picture(ctx, static_cast<char>(ctx.command.bytes[1]));
    return;
  }
  if (first == '\'' || first == '"') {
    command::define_codes(ctx);
    return;
  }
  if (first == '!') {
    command::string_constant_line(ctx);
    return;
  }
  bool double_sign = (first == '-' || first == '+') && command::char_at(src, src.pos + 1) == first;
  if (!std::isalpha(static_cast<unsigned char>(first)) && first != '_' && !double_sign) return;

  int step = 0;
  if (double_sign) {
    step = first == '+' ? 1 : -1;
    src.pos += 2;
  }
  src.word.clear();
  while (is_word_char(current_char(src))) {
    if (src.word.size() < base::limits::name_length) src.word += current_char(src);
    ++src.pos;
  }
  std::size_t after_word = src.pos;
  bool is_string = src.word.size() == 6 && same_start(src.word, "STRING", 6);
  std::size_t equals = std::string::npos;
  if (!is_string) {
    cut_comment(src);
    equals = src.line.find('=', after_word);
  }

  char next = current_char(src);
  if (step == 0 && (next == '-' || next == '+') && char_at(src, src.pos + 1) == next) step = next == '+' ? 1 : -1;
  if (step != 0) {
    // A line of dashes steps the constant without a name, which is created
    // (with its message) the first time, like any other unknown name.
    command::step_constant(ctx, src.word, step);
    return;
  }
  if (equals != std::string::npos) {
    src.pos = equals + 1;
    std::int32_t value = evaluate_expression(ctx);
    char before = equals > 0 ? src.line[equals - 1] : ' ';
    if (command::is_blank(before) || is_word_char(before))
      command::define_constant(ctx.constants, src.word, value);
    else
      command::assign_constant(ctx, src.word, value, before);
    return;
  }

  std::string_view line_start(src.line.c_str() + src.line_start, src.line.size() - src.line_start);
  for (const Keyword& row : keywords) {
    if (!matches(ctx, row, src.word, line_start)) continue;
    row.handler(ctx, row);
    return;
  }
  report_error(ctx, "Unknown Command !");
}

}  // namespace vexa::driver
