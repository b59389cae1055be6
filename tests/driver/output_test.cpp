// The front-end records as the window messages pack them (a run with -m
// writes them too, but as bytes), and the terminal colours, which only a
// terminal gets.
#include <gtest/gtest.h>

#include <unistd.h>

#include "base/output.h"
#include "test_support.h"
#include "wire_helpers.h"

namespace vexa::driver {
namespace {

using Record = test::WindowRecord;

TEST(PostText, MessageRecords) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  base::post_text(fds[1], "AB", base::end_output_text);
  base::post_text(fds[1], "Hello, world!", base::end_upload_path);  // 13 bytes: pieces of 6, 6 and 1
  base::post_text(fds[1], "", base::end_output_text);
  ::close(fds[1]);
  std::string bytes;
  char chunk[4096];
  for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) bytes.append(chunk, static_cast<std::size_t>(n));
  ::close(fds[0]);
  EXPECT_EQ(test::window_records(bytes),
            (std::vector<Record>{{1034, 0, 0},
                                 {1036, 'A', 'B'},
                                 {1034, 3, 0},
                                 {1034, 0, 0},
                                 {1040, 'H' + 256u * 'l', 'e' + 256u * 'l' + 65536u * 'o' + 16777216u * ','},
                                 {1040, ' ' + 256u * 'o', 'w' + 256u * 'r' + 65536u * 'l' + 16777216u * 'd'},
                                 {1035, '!', 0},
                                 {1034, 1, 0},
                                 {1034, 0, 0},
                                 {1034, 3, 0}}));
}

TEST(ErrorReport, ColoursOnlyAroundErrorText) {
  test::CapturedContext c;
  c.ctx->out.ansi_colour = true;
  report_text(c.ctx->out, "a", base::to_console);
  report_error_text(c.ctx->out, "E", base::to_console);
  report_error_text(c.ctx->out, "F", base::to_console);
  report_text(c.ctx->out, "b", base::to_console);
  EXPECT_EQ(c.console(), "a\r\n\x1b[91mE\x1b[39m\x1b[91mF\x1b[39mb");
}

}  // namespace
}  // namespace vexa::driver
