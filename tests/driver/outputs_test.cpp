// Output files replace what they name atomically, and never replace what is
// not theirs to replace: a device, a FIFO, or the symbolic link in front of
// the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "base/paths.h"
#include "test_support.h"

namespace vexa::driver {
namespace {

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WriteFile, DevicesFifosAndLinksStayWhatTheyAre) {
  ASSERT_TRUE(base::write_file_atomically("/dev/null", "bytes for nobody"));
  struct stat st;
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "/dev/null was replaced";

  test::TempDir dir;
  const std::string fifo = dir.file("pipe.DF");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(base::write_file_atomically(fifo, "nobody reads")) << "a FIFO without a reader must not block";
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(base::write_file_atomically(fifo, "through the pipe"));
  char got[64] = {};
  EXPECT_EQ(::read(reader, got, sizeof got), 16);
  EXPECT_STREQ(got, "through the pipe");
  ::close(reader);
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // A link (relative, through a second link) keeps being a link; the file at
  // its end is replaced in its own folder, keeping its permissions.
  std::filesystem::create_directory(dir.file("real"));
  test::write_file(dir.file("real/panel.DF"), "old");
  ::chmod(dir.file("real/panel.DF").c_str(), 0640);
  std::filesystem::create_symlink("real/panel.DF", dir.file("hop.DF"));
  std::filesystem::create_symlink("hop.DF", dir.file("panel.DF"));
  EXPECT_TRUE(base::write_file_atomically(dir.file("panel.DF"), "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("panel.DF")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("hop.DF")));
  EXPECT_EQ(test::read_file(dir.file("real/panel.DF")), "new");
  ASSERT_EQ(::stat(dir.file("real/panel.DF").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(names_in(dir.file("real")), std::vector<std::string>{"panel.DF"});
  EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"hop.DF", "panel.DF", "pipe.DF", "real"}));
  // A dangling link gets its file created where it points.
  std::filesystem::create_symlink("real/later.DF", dir.file("later.DF"));
  EXPECT_TRUE(base::write_file_atomically(dir.file("later.DF"), "made"));
  EXPECT_EQ(test::read_file(dir.file("real/later.DF")), "made");
  EXPECT_FALSE(base::write_file_atomically(dir.path, "a folder is not a file"));
}

TEST(WriteFile, LongNamesAndWhatAKilledRunLeftBehind) {
  test::TempDir dir;
  // The temporary name is short: a name at the file system's limit works.
  const std::string longest = dir.file(std::string(252, 'p') + ".DF");
  EXPECT_TRUE(base::write_file_atomically(longest, "long"));
  EXPECT_EQ(test::read_file(longest), "long");

  // A temporary file of a process that has ended is removed by the next
  // write of the same output; one of a running process, or of another
  // output, stays.
  pid_t gone = ::fork();
  if (gone == 0) _exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string target = dir.file("demo.DF");
  const std::string stale = base::temporary_name(target, gone);
  const std::string running = base::temporary_name(target, ::getppid());
  const std::string other = base::temporary_name(dir.file("other.DF"), gone);
  for (const std::string& name : {stale, running, other}) test::write_file(name, "left behind");
  EXPECT_EQ(base::directory_of(stale), dir.path + "/");
  EXPECT_LT(base::file_name_of(stale).size(), 24u);
  EXPECT_TRUE(base::write_file_atomically(target, "demo"));
  EXPECT_FALSE(test::file_exists(stale));
  EXPECT_TRUE(test::file_exists(running));
  EXPECT_TRUE(test::file_exists(other));
  EXPECT_EQ(test::read_file(target), "demo");
}

TEST(WriteFile, FolderNamedInOtherLetterCases) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.file("out"));
  EXPECT_TRUE(base::write_file_atomically(dir.file("OUT/NAME.bin"), "upper"));
  EXPECT_EQ(test::read_file(dir.file("out/NAME.bin")), "upper");
  // A file of the name in other letter cases is the one replaced.
  EXPECT_TRUE(base::write_file_atomically(dir.file("Out/name.BIN"), "again"));
  EXPECT_EQ(names_in(dir.file("out")), std::vector<std::string>{"NAME.bin"});
  EXPECT_EQ(test::read_file(dir.file("out/NAME.bin")), "again");
  EXPECT_FALSE(base::write_file_atomically(dir.file("none/x.bin"), "no such folder"));
}

}  // namespace
}  // namespace vexa::driver
