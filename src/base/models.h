// The display module models the compiler knows, and the baud rates of the
// serial link. Both tables are fixed; a model is referred to by its row.
#pragma once

#include <array>
#include <string_view>

namespace vexa::base {

struct Model {
  int width;
  int height;
  int type;    // the module's type answer: 'V', 'h' or 'H'
  int colours;
  int series;  // 'A' or 'B'
  std::string_view name;
  int max_string;  // bytes of a string parameter, terminator included
};

// ORDER: rows are referred to by index (Panel01 is row 0).
inline constexpr std::array<Model, 18> models = {{
    {120, 32, 'V', 2, 'A', "Panel01", 95},
    {122, 32, 'V', 2, 'A', "Panel02", 87},
    {128, 64, 'V', 2, 'A', "Panel03", 31},
    {128, 64, 'V', 2, 'A', "Panel04", 31},
    {160, 80, 'h', 2, 'A', "Panel05", 129},
    {160, 128, 'H', 2, 'A', "Panel06", 189},
    {240, 64, 'H', 2, 'A', "Panel07", 187},
    {240, 128, 'H', 2, 'A', "Panel08", 191},
    {320, 240, 'H', 2, 'A', "Panel09", 255},
    {320, 240, 'H', 16, 'A', "Panel10", 255},
    {128, 64, 'H', 2, 'B', "VexaG1", 255},
    {160, 104, 'H', 2, 'B', "VexaG2", 255},
    {240, 128, 'H', 2, 'B', "VexaG3", 255},
    {320, 240, 'H', 2, 'B', "VexaG4", 255},
    {320, 240, 'H', 65536, 'A', "VexaG5", 255},
    {480, 272, 'H', 65536, 'A', "VexaG6", 255},
    {640, 480, 'H', 65536, 'A', "VexaG7", 255},
    {800, 480, 'H', 65536, 'A', "VexaG8", 255},
}};

inline constexpr int model_vexag6 = 15;
inline constexpr int model_vexag7 = 16;
inline constexpr int model_vexag8 = 17;
static_assert(models[model_vexag6].name == "VexaG6");
static_assert(models[model_vexag7].name == "VexaG7");
static_assert(models[model_vexag8].name == "VexaG8");

// VexaG7 and VexaG8 have a smaller first flash region, a different upload
// header, menu macros and a set of commands of their own.
inline constexpr bool is_large_model(int model) { return model == model_vexag7 || model == model_vexag8; }

// Bytes of the first flash region of a model: the start of region 2 in its
// DATA-FLASH. 0 while no model is selected.
inline constexpr int region1_size(int model) { return model < 0 ? 0 : is_large_model(model) ? 16384 : 32768; }

inline constexpr std::array<int, 10> baud_rates = {1200,  2400,  4800,   9600,   19200,
                                                   38400, 57600, 115200, 230400, 460800};

// Index of rate in baud_rates, or -1.
int baud_index(long rate);

// Compares every row's full name with the start of text, without regard to
// case; the last row that matches is returned, or -1 when none does.
int find_model(std::string_view text);

// Selects the model named at the start of text; with no match the selection
// (selected) is left unchanged. Returns the selection.
int select_model(int selected, std::string_view text);

}  // namespace vexa::base
