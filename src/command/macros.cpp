#include "command/macros.h"

#include <cctype>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/format.h"
#include "base/paths.h"
#include "command/context.h"
#include "command/expression.h"

namespace vexa::command {

namespace {

using command::current_char;
using command::report_error;

struct MacroKindRow {
  std::string_view name;  // used in messages and file names
  int table;              // macro kind index, or -1 for the shared table of the fixed macros
};

// ORDER: the fixed kinds first, numbered 0 to 3 in the shared table; then the
// numbered kinds in the order of their macro tables.
constexpr MacroKindRow macro_kinds[] = {
    {"PowerOnMacro", -1},        {"ResetMacro", -1},         {"WatchdogMacro", -1},
    {"BrownOutMacro", -1},       {"Macro", command::kind_macro}, {"TouchMacro", command::kind_touch},
    {"MenuMacro", command::kind_menu}, {"PortMacro", command::kind_port}, {"BitMacro", command::kind_bit},
    {"MatrixMacro", command::kind_matrix}, {"AnalogueMacro", command::kind_analogue},
    {"ProcessMacro", command::kind_process},
};
static_assert(sizeof(macro_kinds) / sizeof(macro_kinds[0]) == fixed_macros + base::limits::macro_kinds);

std::vector<std::uint8_t>& table_of(Context& ctx, int kind) {
  int t = macro_kinds[kind].table;
  return t < 0 ? ctx.flash.system_macros : ctx.flash.macro_tables[static_cast<std::size_t>(t)];
}

command::KindStats& stats_of(Context& ctx, int kind) {
  int t = macro_kinds[kind].table;
  return t < 0 ? ctx.flash.system_stats : ctx.flash.macro_stats[static_cast<std::size_t>(t)];
}

bool write_export(const std::string& path, const std::string& bytes) {
  return base::write_file_atomically(path, bytes);
}

// Writes the macro's bytes as a C include file and/or a raw binary file.
void export_macro(Context& ctx, int start, int length) {
  const OpenMacro& m = ctx.macro;
  const command::Settings& s = ctx.settings;
  std::string kind_name(macro_kinds[m.kind].name);
  std::string name = s.export_name;
  if (name.empty())
    name = m.page == 0 ? vexa::base::format("%s_%d", kind_name.c_str(), m.number)
                       : vexa::base::format("%s_%d_page_%d", kind_name.c_str(), m.number, m.page);
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
    if (!write_export(include_path, text))
      report_error(ctx, vexa::base::format("Cannot write File %s !", include_path.c_str()));
  }
  if (s.export_mode & 2) {
    std::string binary_path = directory + name + ".bin";
    if (!write_export(binary_path, std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length))))
      report_error(ctx, vexa::base::format("Cannot write File %s !", binary_path.c_str()));
  }
}

}  // namespace

std::string_view macro_kind_name(int kind) { return macro_kinds[kind].name; }

int parse_page_number(Context& ctx) {
  command::Source& src = ctx.source;
  command::skip_blanks(src);
  if (current_char(src) != '[') return 0;
  ++src.pos;
  command::skip_blanks(src);
  std::int32_t page = evaluate_expression(ctx);
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
void open_macro_header(Context& ctx, int kind, int max_number) {
  command::Source& src = ctx.source;
  ctx.macro.number = -1;  // a failed header leaves no macro open
  command::to_separator(src);
  if (command::at_line_end(src)) {
    report_error(ctx, "there is no Macronumber !");
    return;
  }
  ++src.pos;
  src.header_mode = true;
  std::int32_t number = evaluate_expression(ctx);
  int page = parse_page_number(ctx);
  src.header_mode = false;
  ctx.macro.page = page;
  if (number < 0 || number > max_number) {
    report_error(ctx, vexa::base::format("Macronumber %d is wrong, (allowed: 0..%d) !", number, max_number));
    return;
  }
  open_macro(ctx, kind, number);
}

void open_macro(Context& ctx, int kind, int number) {
  OpenMacro& m = ctx.macro;
  m.kind = kind;
  if (macro_kinds[kind].table < 0) m.page = 0;  // the fixed macros live on page 0
  m.commands = 0;
  m.bytes = 0;
  m.start = ctx.flash.image_pos;
  m.number = number;
  const std::uint8_t* entry = table_of(ctx, kind).data() + command::macro_entry(m.page, number);
  // A macro entry is free while its length bytes are all 255.
  if (command::entry_used(entry + 3)) {
    report_error(ctx, m.page == 0
                          ? vexa::base::format("Macronumber %d already exists !", number)
                          : vexa::base::format("Macronumber %d in Page %d already exists !", number, m.page));
    m.number = -1;
  }
}

void close_macro(Context& ctx) {
  OpenMacro& m = ctx.macro;
  // An empty macro is not recorded; its number stays open for '#' lines
  // that follow before the next header.
  if (m.number < 0 || m.bytes == 0) {
    m.page = 0;
    return;
  }
  const char* name = macro_kinds[m.kind].name.data();
  std::string summary = m.page == 0
                            ? vexa::base::format("%s: %3d, %3d commands,%6d bytes\r\n", name, m.number, m.commands, m.bytes)
                            : vexa::base::format("%s: %3d[%d], %3d commands,%6d bytes\r\n", name, m.number, m.page,
                                             m.commands, m.bytes);
  base::report_text(ctx.out, summary, base::to_all);
  command::KindStats& stats = stats_of(ctx, m.kind);
  ++stats.count;
  stats.bytes += m.bytes;
  std::uint8_t* entry = table_of(ctx, m.kind).data() + command::macro_entry(m.page, m.number);
  base::put_u24(entry, static_cast<std::uint32_t>(m.start));
  base::put_u24(entry + 3, static_cast<std::uint32_t>(m.bytes));
  if (ctx.settings.export_mode != 0) export_macro(ctx, m.start, m.bytes);
  m.number = -1;
  m.page = 0;
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
