// The golden project corpus: every folder of tests/projects is one run of
// build/vexac, compared byte for byte with what it printed and wrote before.
//
// A case folder holds the macro file and its inputs, `args` (the command line,
// words separated by blanks), optionally `stdin` and `env` (NAME=VALUE lines),
// and `expected/`: `exit_code`, `console.txt`, `stderr.txt` when anything went
// there, and every file the run created or changed, under its own name, or
// as `NAME.hex` (a hexadecimal listing) when it holds bytes that are not text.
// The run happens in a copy of the folder; its absolute path is written as
// `$CASE` in everything compared, so that the expectations hold anywhere.
//
// VEXA_UPDATE_GOLDEN=1 rewrites the expectations from the runs, so that a
// deliberate change of output is one reviewable diff.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;

const fs::path projects_root = fs::path(VEXA_SOURCE_DIR) / "tests" / "projects";

// Every case, or the one named by VEXA_GOLDEN_CASE (CTest runs each case as
// a test of its own that way).
std::vector<std::string> case_names() {
  if (const char* one = std::getenv("VEXA_GOLDEN_CASE"); one != nullptr && *one != '\0') return {one};
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(projects_root))
    if (entry.is_directory() && fs::exists(entry.path() / "args")) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Every regular file under root (outside expected/) by relative path.
std::map<std::string, std::string> files_under(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string relative = fs::relative(it->path(), root).generic_string();
    if (it->is_directory() && relative == "expected") {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file()) files[relative] = test::read_file(it->path());
  }
  return files;
}

bool is_text(const std::string& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 32 && u < 127) || u == '\r' || u == '\n' || u == '\t';
  });
}

// Sixteen bytes a line in hexadecimal and as characters; a run of equal lines
// is shown once followed by '*', and the last line gives the size.
std::string hex_listing(const std::string& bytes) {
  std::string out, previous;
  bool starred = false;
  char line[100];
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    std::string chunk = bytes.substr(at, 16);
    if (chunk == previous && chunk.size() == 16) {
      if (!starred) out += "*\n";
      starred = true;
      continue;
    }
    previous = chunk;
    starred = false;
    int n = std::snprintf(line, sizeof line, "%08zx ", at);
    std::string text = std::string(line, static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < 16; ++i) {
      if (i == 8) text += ' ';
      if (i < chunk.size()) {
        std::snprintf(line, sizeof line, " %02x", static_cast<unsigned char>(chunk[i]));
        text += line;
      } else {
        text += "   ";
      }
    }
    text += "  |";
    for (char c : chunk) text += (c >= 32 && c < 127) ? c : '.';
    out += text + "|\n";
  }
  std::snprintf(line, sizeof line, "%08zx\n", bytes.size());
  return out + line;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> result;
  for (std::string w; in >> w;) result.push_back(w);
  return result;
}

std::vector<std::string> lines(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> result;
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) result.push_back(l);
  return result;
}

// Empty when equal; otherwise the first line that differs, both ways.
std::string first_difference(const std::string& expected, const std::string& actual) {
  if (expected == actual) return {};
  std::istringstream e(expected), a(actual);
  std::string el, al;
  for (int number = 1;; ++number) {
    bool more_e = static_cast<bool>(std::getline(e, el)), more_a = static_cast<bool>(std::getline(a, al));
    if (!more_e && !more_a) return "differs in line ends";
    if (el != al || more_e != more_a)
      return "line " + std::to_string(number) + "\n  expected: " + (more_e ? el : "(end)") +
             "\n  actual:   " + (more_a ? al : "(end)");
  }
}

class Golden : public testing::TestWithParam<std::string> {};

TEST_P(Golden, OutputsMatch) {
  const fs::path source = projects_root / GetParam();
  ASSERT_TRUE(fs::exists(source / "args")) << source << " is not a case";
  test::TempDir work;
  fs::copy(source, work.path, fs::copy_options::recursive);
  fs::remove_all(fs::path(work.path) / "expected");
  const std::map<std::string, std::string> inputs = files_under(work.path);

  std::vector<std::string> env = {"VEXA_RANDOM_SEED=1", "NO_COLOR=1"};
  for (const std::string& line : lines(test::read_file(source / "env"))) env.push_back(line);
  std::string stdin_path = fs::exists(source / "stdin") ? (source / "stdin").string() : std::string();
  test::ProcessResult run =
      test::run_vexac(words(test::read_file(source / "args")), work.path, env, stdin_path);

  // What the run produced, named as it is kept in expected/.
  std::map<std::string, std::string> actual;
  auto keep = [&](const std::string& name, const std::string& bytes) {
    std::string stable = replace_all(bytes, work.path, "$CASE");
    if (is_text(stable))
      actual[name] = stable;
    else
      actual[name + ".hex"] = hex_listing(stable);
  };
  keep("exit_code", std::to_string(run.exit_code) + "\n");
  keep("console.txt", run.out);
  if (!run.err.empty()) keep("stderr.txt", run.err);
  for (const auto& [name, bytes] : files_under(work.path)) {
    auto input = inputs.find(name);
    if (input == inputs.end() || input->second != bytes) keep(name, bytes);
  }

  const fs::path expected_dir = source / "expected";
  if (std::getenv("VEXA_UPDATE_GOLDEN") != nullptr) {
    fs::remove_all(expected_dir);
    for (const auto& [name, bytes] : actual) {
      fs::create_directories((expected_dir / name).parent_path());
      test::write_file(expected_dir / name, bytes);
    }
    return;
  }
  ASSERT_TRUE(fs::exists(expected_dir)) << "no expectations: run with VEXA_UPDATE_GOLDEN=1";
  std::map<std::string, std::string> expected = files_under(expected_dir);
  for (const auto& [name, bytes] : expected) {
    auto it = actual.find(name);
    if (it == actual.end()) {
      ADD_FAILURE() << name << " was not written";
      continue;
    }
    std::string difference = first_difference(bytes, it->second);
    EXPECT_TRUE(difference.empty()) << name << ": " << difference;
  }
  for (const auto& [name, bytes] : actual)
    if (expected.find(name) == expected.end()) ADD_FAILURE() << name << " was written but is not expected";
}

INSTANTIATE_TEST_SUITE_P(Projects, Golden, testing::ValuesIn(case_names()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace vexa
