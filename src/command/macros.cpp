#include "command/macros.h"

#include <cctype>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/format.h"
#include "base/paths.h"
#include "command/expression.h"
#include "command/source.h"
#include "command/work_areas.h"

namespace vexa::command {

namespace {

// ORDER: as MacroType; used in messages and file names.
constexpr std::string_view macro_names[] = {
    "PowerOnMacro", "ResetMacro", "WatchdogMacro", "BrownOutMacro", "Macro",         "TouchMacro",
    "MenuMacro",    "PortMacro",  "BitMacro",      "MatrixMacro",   "AnalogueMacro", "ProcessMacro",
};
static_assert(std::size(macro_names) == macro_types);
// The numbered types are the macro kinds of the image's tables, in their order.
static_assert(macro_types - fixed_macro_types == base::limits::macro_kinds);
static_assert(static_cast<int>(MacroType::macro) - fixed_macro_types == kind_macro &&
              static_cast<int>(MacroType::menu) - fixed_macro_types == kind_menu &&
              static_cast<int>(MacroType::process) - fixed_macro_types == kind_process);

// The macro table of a numbered type, -1 for the fixed ones.
int table_index(MacroType type) { return static_cast<int>(type) - fixed_macro_types; }

std::vector<std::uint8_t>& table_of(Context& ctx, MacroType type) {
  int t = table_index(type);
  return t < 0 ? ctx.flash.system_macros : made_table(ctx.flash.macro_tables[static_cast<std::size_t>(t)], macro_table_bytes);
}

KindStats& stats_of(Context& ctx, MacroType type) {
  int t = table_index(type);
  return t < 0 ? ctx.flash.system_stats : ctx.flash.macro_stats[static_cast<std::size_t>(t)];
}

std::string_view name_of(MacroType type) { return macro_names[static_cast<int>(type)]; }

bool write_export(const Context& ctx, const std::string& path, const std::string& bytes) {
  const std::string target = base::confined_path(ctx.settings.root_folder, path);
  return !target.empty() && base::write_file_atomically(target, bytes);
}

// Writes the macro's bytes as a C include file and/or a raw binary file.
void export_macro(Context& ctx, int start, int length) {
  const OpenMacro& m = ctx.macro;
  const command::Settings& s = ctx.settings;
  std::string kind_name(name_of(m.kind));
  std::string name = s.export_name;
  if (name.empty())
    name = ctx.page == 0 ? vexa::base::format("%s_%d", kind_name.c_str(), m.number)
                         : vexa::base::format("%s_%d_page_%d", kind_name.c_str(), m.number, ctx.page);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.resize(dot);
  const std::string& directory = s.macro_directory;
  const std::uint8_t* bytes = ctx.flash.image.data() + start;

  if (s.export_mode & 1) {
    std::string include_path = directory + name + ".h";
    for (char& c : name) c = c == ' ' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string type = s.export_type.empty() ? "unsigned char" : s.export_type;
    std::string text = vexa::base::format("/* %s %d as include */\n", kind_name.c_str(), m.number);
    text += vexa::base::format("\n#define %s_LEN  %ld\n", name.c_str(), static_cast<long>(length));
    text += vexa::base::format("\n%s %s[%s_LEN] =", type.c_str(), name.c_str(), name.c_str());
    text += "\n{";
    for (int i = 0; i < length; ++i)
      text += vexa::base::format(i == 0 ? "\n  %3d" : (i % 20 == 0 ? ",\n  %3d" : ",%3d"), bytes[i]);
    text += "\n};\n";
    if (!write_export(ctx, include_path, text))
      report_error(ctx, vexa::base::format("Cannot write File %s !", include_path.c_str()));
  }
  if (s.export_mode & 2) {
    std::string binary_path = directory + name + ".bin";
    const std::string binary(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    if (!write_export(ctx, binary_path, binary))
      report_error(ctx, vexa::base::format("Cannot write File %s !", binary_path.c_str()));
  }
}

}  // namespace

std::string_view macro_kind_name(MacroType type) { return name_of(type); }

int parse_page_number(Context& ctx) {
  command::Source& src = ctx.source;
  command::skip_blanks(src);
  if (current_char(src) != '[') return 0;
  ++src.pos;
  command::skip_blanks(src);
  std::int32_t page = evaluate_expression(ctx, Place::header);
  command::skip_blanks(src);
  if (current_char(src) != ']') {
    report_error(ctx, "missing ']'!");
    return 0;
  }
  ++src.pos;
  if (page < 0 || page >= base::limits::pages) {
    report_error(ctx, vexa::base::format("Pagenumber %d is wrong, (allowed: 0..15) !", page));
    return 0;
  }
  return page;
}

// macro-header -> KEYWORD separator number [ '[' page ']' ]
void open_macro_header(Context& ctx, MacroType type, int max_number) {
  command::Source& src = ctx.source;
  ctx.macro.number = -1;  // a failed header leaves no macro open
  command::to_separator(src);
  if (command::at_line_end(src)) {
    report_error(ctx, "there is no Macronumber !");
    return;
  }
  ++src.pos;
  std::int32_t number = evaluate_expression(ctx, Place::header);
  ctx.page = parse_page_number(ctx);
  if (number < 0 || number > max_number) {
    report_error(ctx, vexa::base::format("Macronumber %d is wrong, (allowed: 0..%d) !", number, max_number));
    return;
  }
  open_macro(ctx, type, number);
}

void open_macro(Context& ctx, MacroType type, int number) {
  OpenMacro& m = ctx.macro;
  m.kind = type;
  if (table_index(type) < 0) ctx.page = 0;  // the fixed macros live on page 0
  m.commands = 0;
  m.bytes = 0;
  m.start = ctx.flash.image_pos;
  m.number = number;
  const std::uint8_t* entry = table_of(ctx, type).data() + command::macro_entry(ctx.page, number);
  // A macro entry is free while its length bytes are all 255.
  if (command::entry_used(entry + 3)) {
    report_error(ctx, ctx.page == 0
                          ? vexa::base::format("Macronumber %d already exists !", number)
                          : vexa::base::format("Macronumber %d in Page %d already exists !", number, ctx.page));
    m.number = -1;
  }
}

void close_macro(Context& ctx) {
  OpenMacro& m = ctx.macro;
  // An empty macro is not recorded; its number stays open for '#' lines
  // that follow before the next header.
  if (m.number < 0 || m.bytes == 0) {
    ctx.page = 0;
    return;
  }
  const char* name = name_of(m.kind).data();
  std::string summary = ctx.page == 0
                            ? vexa::base::format("%s: %3d, %3d commands,%6d bytes\r\n", name, m.number, m.commands, m.bytes)
                            : vexa::base::format("%s: %3d[%d], %3d commands,%6d bytes\r\n", name, m.number, ctx.page,
                                             m.commands, m.bytes);
  base::report_text(ctx.out, summary, base::to_all);
  KindStats& stats = stats_of(ctx, m.kind);
  ++stats.count;
  stats.bytes += m.bytes;
  std::uint8_t* entry = table_of(ctx, m.kind).data() + command::macro_entry(ctx.page, m.number);
  base::put_u24(entry, static_cast<std::uint32_t>(m.start));
  base::put_u24(entry + 3, static_cast<std::uint32_t>(m.bytes));
  if (ctx.settings.export_mode != 0) export_macro(ctx, m.start, m.bytes);
  m.number = -1;
  ctx.page = 0;
}

// export-directive -> EXPORTMACRO mode [ '"' element-type '"' ] [ '<' base-name '>' ]
void export_macro_directive(Context& ctx) {
  command::Source& src = ctx.source;
  close_macro(ctx);
  command::to_separator(src);
  if (command::at_line_end(src)) {
    report_error(ctx, "missing parameter");
  } else {
    ++src.pos;
    std::int32_t mode = evaluate_expression(ctx);
    if (mode < 0 || mode > 3)
      report_error(ctx, "wrong parameter (allowed 0..3) !");
    else
      ctx.settings.export_mode = mode;
  }
  command::read_quoted_text(ctx, ctx.settings.export_type);
  command::read_bracket_name(ctx, ctx.settings.export_name);
  ctx.settings.export_name = base::to_slashes(ctx.settings.export_name);
  if (ctx.settings.export_name.size() > base::limits::name_length) ctx.settings.export_name.resize(base::limits::name_length);
}

}  // namespace vexa::command
