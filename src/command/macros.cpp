#include "command/macros.h"

#include <cctype>
#include <string>
#include <string_view>

#include "command/expression.h"
#include "driver/context.h"
#include "driver/format.h"
#include "driver/paths.h"

namespace vexa::command {

namespace {

using driver::current_char;
using driver::report_error;

struct MacroKindRow {
  std::string_view name;  // used in messages and file names
  int table;              // macro kind index, or -1 for the shared table of the fixed macros
};

// ORDER: the fixed kinds first, numbered 0 to 3 in the shared table; then the
// numbered kinds in the order of their macro tables.
constexpr MacroKindRow macro_kinds[] = {
    {"PowerOnMacro", -1},        {"ResetMacro", -1},         {"WatchdogMacro", -1},
    {"BrownOutMacro", -1},       {"Macro", driver::kind_macro}, {"TouchMacro", driver::kind_touch},
    {"MenuMacro", driver::kind_menu}, {"PortMacro", driver::kind_port}, {"BitMacro", driver::kind_bit},
    {"MatrixMacro", driver::kind_matrix}, {"AnalogueMacro", driver::kind_analogue},
    {"ProcessMacro", driver::kind_process},
};
static_assert(sizeof(macro_kinds) / sizeof(macro_kinds[0]) == 12);

std::vector<std::uint8_t>& table_of(Context& ctx, int kind) {
  int t = macro_kinds[kind].table;
  return t < 0 ? ctx.flash.system_macros : ctx.flash.macro_tables[static_cast<std::size_t>(t)];
}

driver::KindStats& stats_of(Context& ctx, int kind) {
  int t = macro_kinds[kind].table;
  return t < 0 ? ctx.flash.system_stats : ctx.flash.macro_stats[static_cast<std::size_t>(t)];
}

bool write_export(const Context& ctx, const std::string& path, const std::string& bytes) {
  const std::string target = driver::confined_path(ctx.settings.root_folder, path);
  return !target.empty() && driver::write_file_atomically(target, bytes);
}

// Writes the macro's bytes as a C include file and/or a raw binary file.
void export_macro(Context& ctx, int start, int length) {
  const OpenMacro& m = ctx.macro;
  const driver::Settings& s = ctx.settings;
  std::string kind_name(macro_kinds[m.kind].name);
  std::string name = s.export_name;
  if (name.empty())
    name = m.page == 0 ? vexa::format("%s_%d", kind_name.c_str(), m.number)
                       : vexa::format("%s_%d_page_%d", kind_name.c_str(), m.number, m.page);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.resize(dot);
  const std::string& directory = s.macro_directory;
  const std::uint8_t* bytes = ctx.flash.image.data() + start;

  if (s.export_mode & 1) {
    std::string include_path = directory + name + ".h";
    for (char& c : name) c = c == ' ' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string type = s.export_type.empty() ? "unsigned char" : s.export_type;
    std::string text = vexa::format("/* %s %d as include */\n", kind_name.c_str(), m.number);
    text += vexa::format("\n#define %s_LEN  %ld\n", name.c_str(), static_cast<long>(length));
    text += vexa::format("\n%s %s[%s_LEN] =", type.c_str(), name.c_str(), name.c_str());
    text += "\n{";
    for (int i = 0; i < length; ++i)
      text += vexa::format(i == 0 ? "\n  %3d" : (i % 20 == 0 ? ",\n  %3d" : ",%3d"), bytes[i]);
    text += "\n};\n";
    if (!write_export(ctx, include_path, text))
      report_error(ctx, vexa::format("Cannot write File %s !", include_path.c_str()));
  }
  if (s.export_mode & 2) {
    std::string binary_path = directory + name + ".bin";
    if (!write_export(ctx, binary_path, std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length))))
      report_error(ctx, vexa::format("Cannot write File %s !", binary_path.c_str()));
  }
}

}  // namespace

int parse_page_number(Context& ctx) {
  driver::Source& src = ctx.source;
  driver::skip_blanks(src);
  if (current_char(src) != '[') return 0;
  ++src.pos;
  driver::skip_blanks(src);
  std::int32_t page = evaluate_expression(ctx);
  driver::skip_blanks(src);
  if (current_char(src) != ']') {
    report_error(ctx, "missing ']'!");
    return 0;
  }
  ++src.pos;
  if (page < 0 || page >= limits::pages) {
    report_error(ctx, vexa::format("Pagenumber %d is wrong, (allowed: 0..15) !", page));
    return 0;
  }
  return page;
}

// macro-header -> KEYWORD separator number [ '[' page ']' ]
void open_macro_header(Context& ctx, int kind, int max_number) {
  driver::Source& src = ctx.source;
  ctx.macro.number = -1;  // a failed header leaves no macro open
  driver::to_separator(src);
  if (driver::at_line_end(src)) {
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
    report_error(ctx, vexa::format("Macronumber %d is wrong, (allowed: 0..%d) !", number, max_number));
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
  const std::uint8_t* entry = table_of(ctx, kind).data() + driver::macro_entry(m.page, number);
  // A macro entry is free while its length bytes are all 255.
  if (driver::entry_used(entry + 3)) {
    report_error(ctx, m.page == 0
                          ? vexa::format("Macronumber %d already exists !", number)
                          : vexa::format("Macronumber %d in Page %d already exists !", number, m.page));
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
                            ? vexa::format("%s: %3d, %3d commands,%6d bytes\r\n", name, m.number, m.commands, m.bytes)
                            : vexa::format("%s: %3d[%d], %3d commands,%6d bytes\r\n", name, m.number, m.page,
                                             m.commands, m.bytes);
  driver::report_text(ctx.out, summary, driver::to_all);
  driver::KindStats& stats = stats_of(ctx, m.kind);
  ++stats.count;
  stats.bytes += m.bytes;
  std::uint8_t* entry = table_of(ctx, m.kind).data() + driver::macro_entry(m.page, m.number);
  driver::put_u24(entry, static_cast<std::uint32_t>(m.start));
  driver::put_u24(entry + 3, static_cast<std::uint32_t>(m.bytes));
  if (ctx.settings.export_mode != 0) export_macro(ctx, m.start, m.bytes);
  m.number = -1;
  m.page = 0;
}

// export-directive -> EXPORTMACRO mode [ '"' element-type '"' ] [ '<' base-name '>' ]
void export_macro_directive(Context& ctx) {
  driver::Source& src = ctx.source;
  close_macro(ctx);
  driver::to_separator(src);
  if (driver::at_line_end(src)) {
    report_error(ctx, "missing parameter");
  } else {
    ++src.pos;
    std::int32_t mode = evaluate_expression(ctx);
    if (mode < 0 || mode > 3)
      report_error(ctx, "wrong parameter (allowed 0..3) !");
    else
      ctx.settings.export_mode = mode;
  }
  driver::read_quoted_text(ctx, ctx.settings.export_type);
  driver::read_bracket_name(ctx, ctx.settings.export_name);
  ctx.settings.export_name = driver::to_slashes(ctx.settings.export_name);
  if (ctx.settings.export_name.size() > limits::name_length) ctx.settings.export_name.resize(limits::name_length);
}

}  // namespace vexa::command
