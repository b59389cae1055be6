#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>

#include "driver/output.h"
#include "test_support.h"
#include "wire_helpers.h"

namespace vexa::driver {
namespace {

using test::CapturedContext;

using Record = test::WindowRecord;

std::string drain(int fd) {
  std::string bytes;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<std::size_t>(n));
  return bytes;
}

TEST(PostText, MessageRecords) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  post_text(fds[1], "AB", end_output_text);
  post_text(fds[1], "Hello, world!", end_upload_path);  // 13 bytes: pieces of 6, 6 and 1
  post_text(fds[1], "", end_output_text);
  ::close(fds[1]);
  std::vector<Record> r = test::window_records(drain(fds[0]));
  ::close(fds[0]);
  ASSERT_EQ(r.size(), 3u + 5u + 2u);
  EXPECT_EQ(r[0], (Record{1034, 0, 0}));
  EXPECT_EQ(r[1], (Record{1036, 'A', 'B'}));
  EXPECT_EQ(r[2], (Record{1034, 3, 0}));
  EXPECT_EQ(r[4], (Record{1040, 'H' + 256u * 'l', 'e' + 256u * 'l' + 65536u * 'o' + 16777216u * ','}));
  EXPECT_EQ(r[5], (Record{1040, ' ' + 256u * 'o', 'w' + 256u * 'r' + 65536u * 'l' + 16777216u * 'd'}));
  EXPECT_EQ(r[6], (Record{1035, '!', 0}));
  EXPECT_EQ(r[7], (Record{1034, 1, 0}));
  EXPECT_EQ(r[8], (Record{1034, 0, 0}));  // an empty text sends no piece
  EXPECT_EQ(r[9], (Record{1034, 3, 0}));
}

TEST(PostText, AClosedReaderIsNotAnError) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  std::signal(SIGPIPE, SIG_IGN);
  post_text(fds[1], "nobody listens", end_output_text);
  ::close(fds[1]);
  post_text(12345, "not a descriptor", end_output_text);
  SUCCEED();
}

TEST(ErrorReport, BlocksCountsAndChannels) {
  CapturedContext c;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  c.ctx->out.window_fd = fds[1];
  std::FILE* log = std::tmpfile();
  c.ctx->out.log = log;
  test::write_file(c.dir.file("inc.txt"), "BAD2\n");
  c.compile_lines("BAD1\nINCLUDE <./inc.txt>\nINFO \"ok\"\n", "main.txt");
  ::close(fds[1]);
  std::string main = c.dir.file("main.txt"), inc = c.dir.file("inc.txt");
  std::string block1 = "--->ERROR in file <" + main + ">\r\n--->LINE 1: Unknown Command !\r\n--->'BAD1'\r\n\r\n";
  std::string block2 = "--->ERROR in file <" + inc + ">\r\n--->LINE 1: Unknown Command !\r\n--->'BAD2'\r\n\r\n";
  std::string expected = "Open File <" + main + ">\r\n\r\n" + block1 + "Open File <" + inc + ">\r\n\r\n" + block2 +
                         "ok\r\n";
  EXPECT_EQ(c.console(), expected);
  std::fseek(log, 0, SEEK_SET);
  std::string logged;
  for (int ch; (ch = std::fgetc(log)) != EOF;) logged += static_cast<char>(ch);
  std::fclose(log);
  c.ctx->out.log = nullptr;
  EXPECT_EQ(logged, expected);
  // The window gets every text but the source line.
  std::string window_text;
  for (const auto& text : test::window_texts(drain(fds[0]))) window_text += text.first;
  ::close(fds[0]);
  EXPECT_EQ(window_text.find("--->'BAD1'"), std::string::npos);
  EXPECT_NE(window_text.find("--->LINE 1: Unknown Command !\r\n\r\n"), std::string::npos);
  EXPECT_EQ(c.errors(), 2);
}

TEST(ErrorReport, WithoutOpenFileNothingIsCounted) {
  CapturedContext c;
  report_error(*c.ctx, "lonely");
  report_error(*c.ctx, "again");
  report_text(c.ctx->out, "normal\r\n", to_all);
  EXPECT_EQ(c.console(), "\r\nlonelyagainnormal\r\n");
  EXPECT_EQ(c.errors(), 0);
}

TEST(ErrorReport, ColoursOnlyAroundErrorText) {
  CapturedContext c;
  c.ctx->out.ansi_colour = true;
  report_text(c.ctx->out, "a", to_console);
  report_error_text(c.ctx->out, "E", to_console);
  report_text(c.ctx->out, "b", to_console);
  EXPECT_EQ(c.console(), "a\r\n\x1b[91mE\x1b[39mb");
}

TEST(InfoLine, Items) {
  CapturedContext c;
  c.compile_lines("INFO \"A=\",A,\"\\n\"\nINFO \"x\";\"y\"\n!S!=\"str\"\nINFO !S!,1+1\nINFORMATION 'q'\n");
  std::string out = c.console();
  EXPECT_NE(out.find("A= 65 \r\n\r\nx\r\nstr 2\r\n"), std::string::npos) << out;
  // INFO is matched on its first four letters: the items start at RMATION.
  EXPECT_NE(out.find("--->LINE 5: Constant \"RMATION\" not defined !\r\n"), std::string::npos);
  EXPECT_NE(out.find("0q\r\n"), std::string::npos);
}

}  // namespace
}  // namespace vexa::driver
