// Every row of the display command table, written out here in its own
// notation (mnemonics, parameter segments, models) and checked command by
// command: the bytes of a command with sample values, the model gates, and
// the string limits.
#include <gtest/gtest.h>

#include <sstream>

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
    {"A+, AA, AB, AF, AG, AI, AN, AQ, AR, AS, AW, AX", "1b", "all"},
    {"A*", "1b", "VexaG7, VexaG8"},
    {"A-", "3b", "VexaG7, VexaG8"},
    {"A@", "none", "all"},
    {"AC", "4b", "all"},
    {"AD", "4w, 2b", "all"},
    {"AE, AL, AO, AP, AY, AZ", "2b", "all"},
    {"AH", "4w", "all"},
    {"AJ, AU", "2w, 2b, s≤M", "all"},
    {"AK, AT", "4w, 2b, s≤M", "all"},
    {"AM", "4w, 3b, s≤M", "VexaG7, VexaG8"},
    {"AV", "2w, 1b", "all"},
    {"BA, BD, BY, BZ", "2b", "all"},
    {"BB, BE, BF, BM, BN, BS, BW", "1b", "all"},
    {"BL, BO, BR, BU", "1b, 4w, 3b", "all"},
    {"BX", "1b, 2w, s of at most 21 bytes", "all"},
    {"CA, CC, CP", "6w", "VexaG7, VexaG8"},
    {"CB, CR", "none", "VexaG7, VexaG8"},
    {"CF", "2w, 2b", "VexaG7, VexaG8"},
    {"CI", "2w, 1b", "VexaG7, VexaG8"},
    {"CK", "2w", "VexaG7, VexaG8"},
    {"CL", "2w, then a picture file (self-appending)", "VexaG7, VexaG8"},
    {"CS", "4w", "VexaG7, VexaG8"},
    {"CT, CU", "1b", "VexaG7, VexaG8"},
    {"CW", "2b", "VexaG7, VexaG8"},
    {"DF, DR", "1b", "all"},
    {"DI, DL, DS", "none", "all"},
    {"DO", "1b", "VexaG6"},
    {"DT", "2b", "VexaG6"},
    {"EB, EE, EF, EG, EH, and E followed by A", "1b", "VexaG7, VexaG8"},
    {"EC, EL, ER", "2b, 4w, s of at most 99 bytes", "VexaG7, VexaG8"},
    {"ED, EP", "2b", "VexaG7, VexaG8"},
    {"EO", "4b", "VexaG7, VexaG8"},
    {"ES", "s of at most 99 bytes", "VexaG7, VexaG8"},
    {"ET", "3b", "VexaG7, VexaG8"},
    {"FA, FD, FG, FI, FM, FT, FU, FW, FX, FZ", "2b", "all"},
    {"FB, FR, FV", "3b", "all"},
    {"FC, FP", "4b", "all"},
    {"FE", "6b", "all"},
    {"FF, FY", "2b", "VexaG7, VexaG8"},
    {"FH", "4b", "VexaG7, VexaG8"},
    {"FK, FS", "6b", "VexaG7, VexaG8"},
    {"FN, FQ", "3b", "VexaG7, VexaG8"},
    {"GD, GR", "4w", "all"},
    {"GM", "1b", "all"},
    {"GP, GS, GW", "2w", "all"},
    {"GX, GY", "1b, counted word block of 1 to 255 words (self-appending)", "all"},
    {"GZ", "2b", "all"},
    {"IA, ID, IY, IZ", "2b", "all"},
    {"IF, IN, IW", "1b", "all"},
    {"IP", "1b, 2w, 4b", "all"},
    {"IX", "1b, 2w, s of at most 21 bytes", "all"},
    {"KA", "1b", "all"},
    {"KB, KL", "1b, s≤M", "VexaG7, VexaG8"},
    {"KD", "1b", "VexaG7, VexaG8"},
    {"KE, KH, KM, KO, KS", "2b", "VexaG7, VexaG8"},
    {"KF", "4b", "VexaG7, VexaG8"},
    {"KP", "4w, 1b", "VexaG7, VexaG8"},
    {"MA, ME, MJ, ML, MU", "3b", "all"},
    {"MB, MC, MK, MN, MP, MS, MT, MV, MX", "1b", "all"},
    {"MD", "5b", "all"},
    {"MG, MZ", "2b", "all"},
    {"MM", "1b", "VexaG7, VexaG8"},
    {"MR, MW", "none", "all"},
    {"NA, NN, NP, NS", "none", "VexaG7, VexaG8"},
    {"ND", "2w, 1b, s≤M", "VexaG7, VexaG8"},
    {"NF, NM, NT, NW", "1b", "VexaG7, VexaG8"},
    {"NY, NZ", "2b", "VexaG7, VexaG8"},
    {"RC", "6w", "all"},
    {"RE", "2b", "all"},
    {"RF, RM, RO", "4w, 1b", "all"},
    {"RI, RL, RR, RS", "4w", "all"},
    {"SB", "counted byte block and/or a file (self-appending)", "all"},
    {"SI, SJ, SV", "none", "all"},
    {"ST", "1b", "all"},
    {"TA, TE, TI, TJ, TQ, TR, TS, TV", "none", "all"},
    {"TC", "1b", "all"},
    {"TP", "2b", "all"},
    {"TW", "5b", "all"},
    {"UH", "4w", "all"},
    {"UI", "2w, 1b", "all"},
    {"UL", "2w, then a picture file (self-appending)", "all"},
    {"UR", "none", "all"},
    {"UT, UW, UX", "1b", "all"},
    {"UZ", "2b", "all"},
    {"V+", "2b", "all"},
    {"V@", "1b, 1w", "all"},
    {"VA, VD, VR, VS, VT", "1b", "all"},
    {"VB, VF, VM, VW", "2b", "all"},
    {"VE", "1b, s of at most 25 bytes", "all"},
    {"VG", "1b, 2w", "all"},
    {"VK", "4b", "all"},
    {"VY, VZ", "3b", "all"},
    {"WC, WF, WM, WY, WZ", "2b", "all"},
    {"WD", "1b, 2w, 3b", "all"},
    {"WI", "2w, 2b", "all"},
    {"WL, WN, WP, WT, WW, WX", "1b", "all"},
    {"Y+", "1b", "all"},
    {"Y-", "2b", "VexaG7, VexaG8"},
    {"Y@, YN, YP", "none", "all"},
    {"YA, YB, YH, YI, YL, YR, YS, YZ", "1b", "all"},
    {"YD, YE, YM", "3b", "all"},
    {"YQ", "byte list of at most 42 bytes, zero-terminated (see below)", "VexaG7, VexaG8"},
    {"YT", "s≤M", "VexaG7, VexaG8"},
    {"YV", "4b", "VexaG7, VexaG8"},
    {"YW, YX", "2b", "all"},
    {"ZB", "4w, 1b, s≤M", "all"},
    {"ZC, ZL, ZR", "2w, s≤M", "all"},
    {"ZF, ZJ, ZW", "1b", "all"},
    {"ZT", "any number of bytes, including none; never rejected", "all"},
    {"ZY, ZZ", "2b", "all"},
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

std::vector<std::string> mnemonics(const std::string& cell) {
  std::vector<std::string> result;
  for (std::string part : split(cell, ", ")) {
    if (part.rfind("and ", 0) == 0) part = part.substr(4);
    if (part == "E followed by A") part = "EA";
    result.push_back(part);
  }
  return result;
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
      return false;  // a special form, tested on its own
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
    if (!sample(row.params, s)) continue;
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
    for (const std::string& m : mnemonics(row.commands)) {
      ASSERT_EQ(m.size(), 2u) << row.commands;
      std::string line = "#" + m + " " + s.source + ";";
      std::vector<std::uint8_t> expected;
      expected.push_back(27);
      expected.push_back(static_cast<std::uint8_t>(m[0]));
      expected.push_back(static_cast<std::uint8_t>(m[1]));
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
        std::string at_limit = s.source.substr(0, s.source.rfind('"', s.source.size() - 2)) + "\"" +
                               std::string(static_cast<std::size_t>(s.string_limit), 'x') + "\"";
        std::string over = s.source.substr(0, s.source.rfind('"', s.source.size() - 2)) + "\"" +
                           std::string(static_cast<std::size_t>(s.string_limit) + 1, 'x') + "\"";
        EXPECT_FALSE(compile("#" + m + " " + at_limit + ";", accepted.front()).bytes.empty()) << m;
        EXPECT_TRUE(compile("#" + m + " " + over + ";", accepted.front()).bytes.empty()) << m;
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, 249);  // every mnemonic of the ordinary rows
}

}  // namespace
}  // namespace vexa::command
