// Reading upload and object files back: the files of the list cases in
// tests/projects (a VexaG7 project with every kind of resource), whole, cut
// at every length and damaged in every part, each with the message it must
// give.
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "base/bytes.h"
#include "link/upload_file.h"
#include "test_support.h"

namespace vexa::link {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes& fixture(const std::string& name) {
  static std::map<std::string, Bytes> files;
  if (files.count(name) == 0) files[name] = test::read_bytes(VEXA_SOURCE_DIR "/tests/projects/" + name);
  return files[name];
}

std::string read_error(const Bytes& bytes, bool object) {
  FlashFile f;
  std::string error;
  int ok = object ? read_object_file(bytes, f, error) : read_upload_file(bytes, f, error);
  return ok ? "read" : error;
}

TEST(UploadFile, ReadsBackWhatItWrites) {
  const Bytes& df = fixture("list-df/panel.DF");
  const Bytes& dfo = fixture("list-dfo/panel.DFO");
  FlashFile up, obj;
  std::string error;
  ASSERT_TRUE(read_upload_file(df, up, error)) << error;
  ASSERT_TRUE(read_object_file(dfo, obj, error)) << error;
  // The upload file's records make the object file, byte for byte.
  EXPECT_EQ(up.image, dfo);
  EXPECT_EQ(up.records.size(), 4u);
  EXPECT_EQ(up.project, "List ##1");
  EXPECT_EQ(up.checksum1, up.stored_checksum1);
  EXPECT_EQ(up.checksum2, up.header.crc);
  EXPECT_EQ(obj.checksum2, up.checksum2);
  const std::string again = upload_file_bytes({up.image, up.regions, up.model, up.project, up.checksum2});
  EXPECT_EQ(again, std::string(df.begin(), df.end()));
}

TEST(UploadFile, EveryCutIsTruncated) {
  for (bool object : {false, true}) {
    const Bytes& whole = fixture(object ? "list-dfo/panel.DFO" : "list-df/panel.DF");
    for (std::size_t size = 0; size < whole.size(); ++size) {
      const std::string error = read_error(Bytes(whole.begin(), whole.begin() + static_cast<long>(size)), object);
      ASSERT_TRUE(error.starts_with("truncated ")) << size << ": " << error;
    }
  }
}

TEST(UploadFile, DamageIsNamed) {
  // Offsets in panel.DF: the header is 173 bytes; record 1 (region 1,
  // address 0, 1024 bytes) follows it, record 3 (region 2) starts at 1813.
  const std::size_t record1 = 173, record3 = 1813;
  struct Damage {
    const char* what;
    std::function<void(Bytes&)> change;
    const char* message;
  };
  auto set = [](std::size_t at, std::uint8_t value) { return [=](Bytes& b) { b[at] = value; }; };
  const Damage damages[] = {
      {"no model name", [](Bytes& b) { b[72] = 'X'; }, "damaged header: unknown model \"VexaX7\""},
      {"a digit of the region 1 length", [](Bytes& b) { b[91] = '8'; },
       "damaged record 3 at byte 1813: region letter X, not D"},
      {"region 2 start", [](Bytes& b) { b[97] = '1'; }, "damaged header: region 2 starts at 16385, not at 16384"},
      {"payload below region 1", [](Bytes& b) { b[102] = '0'; },
       "damaged header: region 1 of 1610 bytes and a payload of 759 bytes do not fit"},
      {"the checksum's hex digits", [](Bytes& b) { b[108] = 'G'; }, "damaged header: its text is not the one"},
      {"the bar width", [](Bytes& b) { b[137] = '7'; }, "damaged header: its text is not the one"},
      {"no record head", set(record1 + 1, 'C'), "damaged record 1 at byte 173: no record head there"},
      {"record number", set(record3 + 4, 9), "damaged record 3 at byte 1813: it is numbered 9"},
      {"record region", set(record3 + 7, 'D'), "damaged record 3 at byte 1813: region letter D, not X"},
      {"record address", set(record3 + 8, 1), "damaged record 3 at byte 1813: address 16385, not 16384"},
      {"record length", set(record3 + 12, 9), "damaged record 3 at byte 1813: 2304 bytes, but its region has 1149"},
      {"image region length", set(record1 + 15 + 2, 0), "damaged image: its region lengths 1536 and 1149"},
      {"trailer", [](Bytes& b) { b[b.size() - 2] = 1; }, "damaged file: no trailer at byte 2992"},
      {"a byte after the trailer", [](Bytes& b) { b.push_back(0); }, "damaged file: 1 bytes after the trailer"},
  };
  for (const Damage& d : damages) {
    Bytes bytes = fixture("list-df/panel.DF");
    d.change(bytes);
    EXPECT_TRUE(read_error(bytes, false).starts_with(d.message)) << d.what << ": " << read_error(bytes, false);
  }
  EXPECT_EQ(read_error(fixture("list-dfo/panel.DFO"), false), "not an upload file: no \"program \" in its header");
  Bytes object = fixture("list-dfo/panel.DFO");
  object[image_region2_length_at] ^= 1;
  EXPECT_EQ(read_error(object, true), "truncated or damaged file: 17533 bytes do not hold regions of 1610 and 1148 bytes");
}

}  // namespace
}  // namespace vexa::link
