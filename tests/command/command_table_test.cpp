// Every row of the display command table, written out here in its own
// notation (mnemonics, parameter segments, models) and checked command by
// command: the bytes of a command with sample values, the model gates, and
// the string limits.
#include <gtest/gtest.h>

#include "link/models.h"
#include "test_support.h"

namespace vexa::command {
namespace {

struct Row {
  const char* commands;
  const char* params;
  const char* models;
};

const Row rows[] = {
    {"A+, AA, AB, AF, AG, AI, AN, AQ, AR, AS, AW, AX, BB, BE, BF, BM, BN, BS, BW, DF, DR, GM, IF, IN, IW, KA, "
     "MB, MC, MK, MN, MP, MS, MT, MV, MX, ST, TC, UT, UW, UX, VA, VD, VR, VS, VT, WL, WN, WP, WT, WW, WX, Y+, "
     "YA, YB, YH, YI, YL, YR, YS, YZ, ZF, ZJ, ZW", "1b", "all"},
    {"A*, CT, CU, EB, EE, EF, EG, EH, EA, KD, MM, NF, NM, NT, NW", "1b", "VexaG7, VexaG8"},
    {"A-, ET, FN, FQ", "3b", "VexaG7, VexaG8"},
    {"A@, DI, DL, DS, MR, MW, SI, SJ, SV, TA, TE, TI, TJ, TQ, TR, TS, TV, UR, Y@, YN, YP", "none", "all"},
    {"AC, FC, FP, VK", "4b", "all"},
    {"AD", "4w, 2b", "all"},
    {"AE, AL, AO, AP, AY, AZ, BA, BD, BY, BZ, FA, FD, FG, FI, FM, FT, FU, FW, FX, FZ, GZ, IA, ID, IY, IZ, MG, "
     "MZ, RE, TP, UZ, V+, VB, VF, VM, VW, WC, WF, WM, WY, WZ, YW, YX, ZY, ZZ", "2b", "all"},
    {"AH, GD, GR, RI, RL, RR, RS, UH", "4w", "all"},
    {"AJ, AU", "2w, 2b, s≤M", "all"},
    {"AK, AT", "4w, 2b, s≤M", "all"},
    {"AM", "4w, 3b, s≤M", "VexaG7, VexaG8"},
    {"AV, UI", "2w, 1b", "all"},
    {"BL, BO, BR, BU", "1b, 4w, 3b", "all"},
    {"BX, IX", "1b, 2w, s of at most 21 bytes", "all"},
    {"CA, CC, CP", "6w", "VexaG7, VexaG8"},
    {"CB, CR, NA, NN, NP, NS", "none", "VexaG7, VexaG8"},
    {"CF", "2w, 2b", "VexaG7, VexaG8"},
    {"CI", "2w, 1b", "VexaG7, VexaG8"},
    {"CK", "2w", "VexaG7, VexaG8"},
    {"CS", "4w", "VexaG7, VexaG8"},
    {"CW, ED, EP, FF, FY, KE, KH, KM, KO, KS, NY, NZ, Y-", "2b", "VexaG7, VexaG8"},
    {"DO", "1b", "VexaG6"},
    {"DT", "2b", "VexaG6"},
    {"EC, EL, ER", "2b, 4w, s of at most 99 bytes", "VexaG7, VexaG8"},
    {"EO, FH, KF, YV", "4b", "VexaG7, VexaG8"},
    {"ES", "s of at most 99 bytes", "VexaG7, VexaG8"},
    {"FB, FR, FV, MA, ME, MJ, ML, MU, VY, VZ, YD, YE, YM", "3b", "all"},
    {"FE", "6b", "all"},
    {"FK, FS", "6b", "VexaG7, VexaG8"},
    {"GP, GS, GW", "2w", "all"},
    {"IP", "1b, 2w, 4b", "all"},
    {"KB, KL", "1b, s≤M", "VexaG7, VexaG8"},
    {"KP", "4w, 1b", "VexaG7, VexaG8"},
    {"MD, TW", "5b", "all"},
    {"ND", "2w, 1b, s≤M", "VexaG7, VexaG8"},
    {"RC", "6w", "all"},
    {"RF, RM, RO", "4w, 1b", "all"},
    {"V@", "1b, 1w", "all"},
    {"VE", "1b, s of at most 25 bytes", "all"},
    {"VG", "1b, 2w", "all"},
    {"WD", "1b, 2w, 3b", "all"},
    {"WI", "2w, 2b", "all"},
    {"YT", "s≤M", "VexaG7, VexaG8"},
    {"ZB", "4w, 1b, s≤M", "all"},
    {"ZC, ZL, ZR", "2w, s≤M", "all"},
};

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + separator.size();
  }
}

struct Sample {
  std::string source;                // the parameters as written
  std::vector<std::uint8_t> bytes;   // what they encode to
  int string_limit = 0;              // characters allowed in the string segment, 0: none
};

// Sample values for a parameter notation: bytes 10, 11 ..., words 300, 301 ...,
// and the string "ab".
bool sample(const std::string& params, Sample& s) {
  if (params == "none") return true;
  int byte_value = 10, word_value = 300;
  for (const std::string& segment : split(params, ", ")) {
    auto add = [&](const std::string& text) { s.source += (s.source.empty() ? "" : ",") + text; };
    if (segment.size() == 2 && (segment[1] == 'b' || segment[1] == 'w')) {
      for (int i = 0; i < segment[0] - '0'; ++i) {
        if (segment[1] == 'b') {
          add(std::to_string(byte_value));
          s.bytes.push_back(static_cast<std::uint8_t>(byte_value++));
        } else {
          add(std::to_string(word_value));
          s.bytes.push_back(static_cast<std::uint8_t>(word_value & 255));
          s.bytes.push_back(static_cast<std::uint8_t>(word_value++ >> 8));
        }
      }
    } else if (segment == "s≤M" || segment.rfind("s of at most ", 0) == 0) {
      add("\"ab\"");
      for (char b : {'a', 'b', '\0'}) s.bytes.push_back(static_cast<std::uint8_t>(b));
      if (segment != "s≤M") s.string_limit = std::stoi(segment.substr(13));
    } else {
      ADD_FAILURE() << "unknown segment " << segment;
      return false;
    }
  }
  return true;
}

struct Result {
  std::vector<std::uint8_t> bytes;
  std::string console;
};

Result compile(const std::string& line, int model) {
  test::CapturedContext c;
  c.ctx->settings.model = model;
  c.compile_lines("Macro 1\n" + line + "\n");
  return {test::macro_bytes(*c.ctx), c.console()};
}

TEST(CommandTable, EveryRowEncodesItsParametersAndKeepsItsGate) {
  int checked = 0;
  for (const Row& row : rows) {
    Sample s;
    ASSERT_TRUE(sample(row.params, s)) << row.params;
    std::string models = row.models;
    std::vector<int> accepted, refused;
    if (models == "all") {
      accepted = {link::model_vexag6, link::model_vexag7, 0};
    } else if (models == "VexaG7, VexaG8") {
      accepted = {link::model_vexag7, link::model_vexag8};
      refused = {link::model_vexag6, 0, -1};
    } else {
      ASSERT_EQ(models, "VexaG6");
      accepted = {link::model_vexag6};
      refused = {link::model_vexag7, -1};
    }
    for (const std::string& m : split(row.commands, ", ")) {
      ASSERT_EQ(m.size(), 2u) << row.commands;
      std::string line = "#" + m + " " + s.source + ";";
      std::vector<std::uint8_t> expected = {27, static_cast<std::uint8_t>(m[0]), static_cast<std::uint8_t>(m[1])};
      for (std::uint8_t b : s.bytes) expected.push_back(b);
      for (int model : accepted) EXPECT_EQ(compile(line, model).bytes, expected) << line << " model " << model;
      for (int model : refused) {
        Result r = compile(line, model);
        EXPECT_TRUE(r.bytes.empty()) << line << " model " << model;
        EXPECT_NE(r.console.find("not a valid command !"), std::string::npos) << line;
      }
      // One value too many fails the last segment.
      if (!s.source.empty() && s.string_limit == 0 && std::string(row.params).find('s') == std::string::npos) {
        Result r = compile("#" + m + " " + s.source + ",1;", accepted.front());
        EXPECT_TRUE(r.bytes.empty()) << m;
        EXPECT_NE(r.console.find("wrong number of parameters"), std::string::npos) << m;
      }
      if (s.string_limit > 0) {
        // The sample's string "ab" ends the parameters: swap it for one at and one over the limit.
        std::string head = "#" + m + " " + s.source.substr(0, s.source.size() - 4) + "\"";
        std::string at_limit(static_cast<std::size_t>(s.string_limit), 'x');
        EXPECT_FALSE(compile(head + at_limit + "\";", accepted.front()).bytes.empty()) << m;
        EXPECT_TRUE(compile(head + at_limit + "x\";", accepted.front()).bytes.empty()) << m;
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, 249);  // every mnemonic of the ordinary rows
}

}  // namespace
}  // namespace vexa::command
