// The program as a user runs it: command line, console text, log file, output
// files and exit codes.
#include <gtest/gtest.h>

#include "test_support.h"
#include "wire_helpers.h"

namespace vexa {
namespace {

using test::run_vexac;
using test::TempDir;

const std::string banner = "vexac " VEXAC_VERSION " - macro compiler for Vexa display modules\r\n\r\n";

TEST(Run, SuccessfulCompileWritesUploadLogAndObject) {
  TempDir dir;
  test::write_file(dir.file("demo.txt"), "VexaG6\r\nMacro 1\r\n#TP 1,2;\r\n");
  auto r = run_vexac({"demo.txt", "-O"}, dir.path);
  EXPECT_EQ(r.exit_code, 0);
  std::string body = "Open File <demo.txt>\r\n"
                     "Macro:   1,   1 commands,     5 bytes\r\n"
                     "\r\nWrite DATA-FLASH Object-File demo.DFO\r\n"
                     "Write DATA-FLASH Upload File demo.DF\r\n"
                     "\r\nDATA-FLASH Memory overview:\r\n"
                     "     System:          1542 bytes\r\n";
  EXPECT_EQ(r.out.substr(0, banner.size() + body.size()), banner + body);
  EXPECT_TRUE(test::file_exists(dir.file("demo.DF")));
  EXPECT_EQ(test::read_bytes(dir.file("demo.DFO")).size(), 32768u);
  std::string log = test::read_file(dir.file("demo.log"));
  EXPECT_EQ(log.substr(0, banner.size() + body.size()), banner + body);
  EXPECT_NE(log.find("            sumary:   1547 bytes\r\n"), std::string::npos);
}

TEST(Run, ErrorsSuppressOutputsAndSetTheExitCode) {
  TempDir dir;
  test::write_file(dir.file("bad.txt"), "VexaG6\nMacro 1\n#TX;\nFOO\n");
  auto r = run_vexac({"bad.txt"}, dir.path);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_FALSE(test::file_exists(dir.file("bad.DF")));
  std::string tail = "\r\n---> found 2 Errors !\r\n---> see File <bad.log>\r\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  std::string log = test::read_file(dir.file("bad.log"));
  EXPECT_NE(log.find("--->ERROR in file <bad.txt>\r\n--->LINE 3: not a valid command !\r\n--->'#TX;'\r\n\r\n"),
            std::string::npos);
  std::string log_tail = "\r\n---> found 2 Errors !\r\n";  // "see File" goes to the console only
  EXPECT_EQ(log.substr(log.size() - log_tail.size()), log_tail);
}

TEST(Run, CommandLineOptions) {
  TempDir dir;
  test::write_file(dir.file("first.txt"), "FOO\n");
  test::write_file(dir.file("second.txt"), "VexaG6\n");
  auto r = run_vexac({"first.txt", "-B9600", "-b1000", "-cA", "-s1000", "-x", "second.txt"}, dir.path);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Baudrate 1000 is not supported !\n"), std::string::npos);
  EXPECT_NE(r.out.find("Comport -cA is not supported !\n"), std::string::npos);
  EXPECT_NE(r.out.find("Open File <second.txt>"), std::string::npos);
  EXPECT_TRUE(test::file_exists(dir.file("second.DF")));
  EXPECT_FALSE(test::file_exists(dir.file("second.DFO")));
  EXPECT_EQ(test::read_file(dir.file("second.log")).find("Baudrate"), std::string::npos);
}

TEST(Run, NoFileAndMissingFile) {
  TempDir dir;
  auto r = run_vexac({}, dir.path);  // standard input is empty
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, banner + "Filename: \r\nerror: no File!");
  auto m = run_vexac({"missing.txt"}, dir.path);
  EXPECT_EQ(m.exit_code, 2);
  EXPECT_EQ(m.out, banner + "\r\nCannot Open File <missing.txt> !");
  EXPECT_EQ(test::read_file(dir.file("missing.log")), banner + "\r\nCannot Open File <missing.txt> !");
}

TEST(Run, UploadFileWithoutPortDoesNothing) {
  TempDir dir;
  test::write_file(dir.file("demo.df"), "not really an upload file");
  auto r = run_vexac({"demo.df"}, dir.path);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, banner + "warning: demo.df is not programmed: no port given; name one with -c<n> (its\r\n"
                            "device set by VEXA_COM<n>) or -c/dev/ttyUSB0\r\n");
  EXPECT_FALSE(test::file_exists(dir.file("demo.log")));
}

TEST(Run, FrontEndDescriptorGetsTheTextsAndTheOutcome) {
  TempDir dir;
  test::write_file(dir.file("fe.txt"), "VexaG6\nFOO\n");
  test::write_file(dir.file("ok.txt"), "VexaG6\n");
  // Descriptor 2 is the standard error of the child: the records arrive there.
  for (bool good : {false, true}) {
    auto r = run_vexac({good ? "ok.txt" : "fe.txt", "-m2"}, dir.path);
    EXPECT_EQ(r.exit_code, good ? 0 : 1);
    EXPECT_EQ(r.out.find("<RETURN>"), std::string::npos);  // no waits with a front-end
    std::vector<std::pair<std::string, int>> texts = test::window_texts(r.err);
    ASSERT_GE(texts.size(), good ? 2u : 4u);
    EXPECT_EQ(texts.front().first, banner);
    EXPECT_EQ(texts.back().first, good ? "R E A D Y" : "E R R O R");
    if (good) continue;
    // The source line of an error is not sent to the window.
    std::string all;
    for (const auto& t : texts) all += t.first + "|";
    EXPECT_EQ(all.find("--->'FOO'"), std::string::npos);
    EXPECT_NE(all.find("|--->LINE 2: Unknown Command !\r\n|"), std::string::npos) << all;
  }
}

TEST(Run, HelpAndVersion) {
  TempDir dir;
  auto v = run_vexac({"--version"}, dir.path);
  EXPECT_EQ(v.exit_code, 0);
  EXPECT_EQ(v.out, "vexac " VEXAC_VERSION "\n");
  auto h = run_vexac({"--help"}, dir.path);
  EXPECT_EQ(h.exit_code, 0);
  EXPECT_NE(h.out.find("usage: vexac"), std::string::npos);
}

}  // namespace
}  // namespace vexa
