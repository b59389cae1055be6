#include <gtest/gtest.h>

#include <array>

#include "imagefiles/dispatch.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::Bgr;
using resources::ImageSet;
using resources::rgb;
using test::ByteList;

// A TGA file from its header fields and the bytes that follow the header.
struct TestTga {
  int type = 2;
  int width = 1;
  int height = 1;
  int depth = 24;
  int descriptor = 0;
  int map_first = 0;
  int map_bits = 24;
  std::vector<std::uint8_t> id = {};
  std::vector<std::uint8_t> map = {};  // map_bits / 8 bytes per entry
  std::vector<std::uint8_t> data = {};

  std::vector<std::uint8_t> file() const {
    int entries = map.empty() ? 0 : static_cast<int>(map.size()) / (map_bits / 8);
    auto lo = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); };
    std::array<std::uint8_t, 18> header = {static_cast<std::uint8_t>(id.size()),
                                     static_cast<std::uint8_t>(map.empty() ? 0 : 1),
                                     static_cast<std::uint8_t>(type),
                                     lo(map_first), hi(map_first), lo(entries), hi(entries),
                                     static_cast<std::uint8_t>(map.empty() ? 0 : map_bits),
                                     0, 0, 0, 0,
                                     lo(width), hi(width), lo(height), hi(height),
                                     static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(descriptor)};
    std::vector<std::uint8_t> out;
    out.reserve(header.size() + id.size() + map.size() + data.size());
    out.assign(header.begin(), header.end());
    for (const auto* part : {&id, &map, &data})
      for (std::uint8_t byte : *part) out.push_back(byte);
    return out;
  }
};

int read(ImageSet& set, const std::vector<std::uint8_t>& bytes, int threshold = 128) {
  return test::read_with(read_tga, set, bytes, threshold);
}

std::vector<Bgr> picture(const ImageSet& set) { return test::colours_of(set.images[1]); }

const Bgr a = rgb(1, 2, 3), b = rgb(4, 5, 6), c = rgb(7, 8, 9), d = rgb(10, 11, 12);

TEST(TgaReader, RowOrderFollowsTheDescriptor) {
  // File order a b / c d; bottom-up files start with the bottom row; an
  // image ID is skipped.
  TestTga tga{.width = 2, .height = 2, .data = {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}};
  const std::pair<int, std::vector<Bgr>> orders[] = {
      {0x00, {c, d, a, b}}, {0x20, {a, b, c, d}}, {0x10, {d, c, b, a}}, {0x30, {b, a, d, c}}};
  ImageSet set;
  for (const auto& [descriptor, pixels] : orders)
    for (ByteList id : {ByteList{}, ByteList{'h', 'e', 'l', 'l', 'o'}}) {
      tga.descriptor = descriptor;
      tga.id = id;
      ASSERT_EQ(read(set, tga.file()), 1);
      EXPECT_EQ(picture(set), pixels) << descriptor << " " << id.size();
      EXPECT_EQ(resources::bit_count(set.images[1]), 24);
      EXPECT_EQ(set.transparent, 0);
    }
}

TEST(TgaReader, RunLengthPacketsRepeatOrCopyAndCarryOverRowEnds) {
  // 0x83: one value four times (running into the second row), then a
  // literal packet of two values.
  const ByteList packets = {0x83, 3, 2, 1, 0x01, 6, 5, 4, 9, 8, 7};
  TestTga tga{.type = 10, .width = 3, .height = 2, .descriptor = 0x20, .data = packets};
  ImageSet set;
  ASSERT_EQ(read(set, tga.file()), 1);
  EXPECT_EQ(picture(set), (std::vector<Bgr>{a, a, a, a, b, c}));
  // A packet longer than what is left of the picture stops at its end.
  tga.data = {0xFF, 3, 2, 1};
  ASSERT_EQ(read(set, tga.file()), 1);
  EXPECT_EQ(picture(set), (std::vector<Bgr>(6, a)));
  // Missing data fail, whether a packet header, a run value or literals,
  // and so do raw pixels cut short.
  for (std::size_t cut : {0, 2, 5, 9}) {
    tga.data.assign(packets.begin(), packets.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(read(set, tga.file()), 0) << cut;
    EXPECT_TRUE(resources::is_empty(set.images[1]));
  }
  EXPECT_EQ(read(set, TestTga{.width = 2, .data = {1, 2, 3, 4, 5}}.file()), 0);
}

TEST(TgaReader, SixteenBitPixelsAreFiveFiveFiveBitFields) {
  // 0xD41F: attribute 1, (21, 0, 31); 0x03EA: (0, 31, 10)
  ImageSet set;
  ASSERT_EQ(read(set, TestTga{.width = 2, .depth = 16, .data = {0x1F, 0xD4, 0xEA, 0x03}}.file()), 1);
  const auto& image = set.images[1];
  EXPECT_EQ(resources::bit_count(image), 16);
  EXPECT_EQ(resources::header_field(image, resources::dib::compression), 3u);
  EXPECT_EQ(ByteList(image.dib.begin() + 40, image.dib.begin() + 52),
            (ByteList{0x00, 0x7C, 0, 0, 0xE0, 0x03, 0, 0, 0x1F, 0, 0, 0}));  // the masks
  EXPECT_EQ(image.pixels, 52u);
  EXPECT_EQ(test::values_of(image), (std::vector<unsigned>{0x541F, 0x03EA}));  // the attribute bit is not kept
  EXPECT_EQ(resources::pixel_colour(image, 0, 0), rgb(173, 0, 255));
}

TEST(TgaReader, GreyAndColourMappedTables) {
  ImageSet set;
  ASSERT_EQ(read(set, TestTga{.type = 11, .width = 4, .depth = 8, .data = {0x81, 200, 0x01, 7, 255}}.file()), 1);
  EXPECT_EQ(resources::bit_count(set.images[1]), 8);
  EXPECT_EQ(set.images[1].colour_count, 256u);
  EXPECT_EQ(resources::header_field(set.images[1], resources::dib::clr_used), 0u);
  EXPECT_EQ(picture(set), (std::vector<Bgr>{rgb(200, 200, 200), rgb(200, 200, 200), rgb(7, 7, 7), rgb(255, 255, 255)}));

  // Map entries of blue, green, red. With first entry 2, pixel value v
  // shows map entry v - 2 and entries 0 and 1 are black; an index past the
  // map shows black and the table grows up to it.
  struct Case { int first; ByteList data; std::uint32_t colours; std::vector<Bgr> pixels; };
  for (const Case& k : {Case{0, {0, 2, 1}, 3, {a, c, b}}, Case{2, {2, 4, 3}, 5, {a, c, b}},
                        Case{0, {0, 9, 1}, 10, {a, rgb(0, 0, 0), b}}}) {
    TestTga mapped{.type = 1, .width = 3, .depth = 8, .map_first = k.first, .map = {3, 2, 1, 6, 5, 4, 9, 8, 7}, .data = k.data};
    ASSERT_EQ(read(set, mapped.file()), 1);
    EXPECT_EQ(set.images[1].colour_count, k.colours);
    EXPECT_EQ(resources::header_field(set.images[1], resources::dib::clr_used), k.colours);
    EXPECT_EQ(resources::colour_entry(set.images[1], 0), k.first == 2 ? rgb(0, 0, 0) : a);
    EXPECT_EQ(picture(set), k.pixels);
  }
}

TEST(TgaReader, UnsupportedLayoutsAreRejected) {
  const TestTga base{.type = 1, .depth = 8, .map = {1, 2, 3}, .data = {0}};
  ImageSet set;
  ASSERT_EQ(read(set, base.file()), 1);
  std::vector<std::pair<std::string, TestTga>> bad;
  auto add = [&](const std::string& what, auto change) {
    TestTga t = base;
    change(t);
    bad.emplace_back(what, t);
  };
  add("16-bit map entries", [](TestTga& t) { t.map_bits = 16; t.map = {1, 2}; });
  add("colour-mapped without a map", [](TestTga& t) { t.map.clear(); });
  add("16-bit indices", [](TestTga& t) { t.depth = 16; t.data = {0, 0}; });
  for (int type : {0, 4, 8, 12, 32}) add("type " + std::to_string(type), [&](TestTga& t) { t.type = type; });
  for (int bits : {0, 8, 15, 48})
    add("true colour depth " + std::to_string(bits), [&](TestTga& t) { t.type = 2; t.map.clear(); t.depth = bits; t.data.assign(8, 0); });
  add("width 0", [](TestTga& t) { t.width = 0; });
  add("height -3", [](TestTga& t) { t.height = -3; });
  for (const auto& [what, t] : bad) {
    EXPECT_EQ(read(set, t.file()), 0) << what;
    EXPECT_TRUE(resources::is_empty(set.images[1])) << what;
  }
  std::vector<std::uint8_t> header_only = base.file();
  header_only.resize(17);
  EXPECT_EQ(read(set, header_only), 0);
}

TEST(TgaReader, AlphaBelowTheThresholdBecomesTheKeyColour) {
  const TestTga tga{.width = 3, .depth = 32, .data = {30, 20, 10, 127, 60, 50, 40, 128, 0x5A, 0xFB, 0xAD, 0}};
  ImageSet set;
  ASSERT_EQ(read(set, tga.file()), 1);
  EXPECT_EQ(resources::bit_count(set.images[1]), 24);
  ASSERT_EQ(set.transparent, 1);
  // The first candidate colour is in use (by a transparent pixel), so the
  // key is the second.
  EXPECT_EQ(set.transparent_colour, rgb(0x73, 0xE3, 0x63));
  EXPECT_EQ(picture(set), (std::vector<Bgr>{set.transparent_colour, rgb(40, 50, 60), set.transparent_colour}));
  ASSERT_EQ(read(set, tga.file(), 0), 1);
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(picture(set), (std::vector<Bgr>{rgb(10, 20, 30), rgb(40, 50, 60), rgb(0xAD, 0xFB, 0x5A)}));
}

// --- public corpora ------------------------------------------------------------------

struct CorpusCase {
  std::string file;
  std::string reference;  // relative to the corpus root
  bool sixteen_bit;       // compare the top 5 bits of each channel
};

std::vector<CorpusCase> corpus_cases() {
  std::vector<CorpusCase> cases;
  const std::string common = "tga-pillow/common/", generated = "tga-generated/";
  for (const char* picture : {"1x1_l", "200x32_l", "200x32_p", "200x32_rgb", "200x32_rgba"})
    for (const char* order : {"_bl", "_tl"})
      for (const char* coding : {"_raw.tga", "_rle.tga"}) {
        cases.push_back({common + picture + order + coding, common + picture + ".png", false});
        if (std::string(picture) == "200x32_rgb")
          cases.push_back({generated + "200x32_rgb16" + order + coding, generated + "200x32_rgb16.png", true});
      }
  const std::pair<const char*, const char*> more[] = {
      {"tga-pillow/200x32_p_bl_raw_origin.tga", "200x32_p"},
      {"tga-pillow/cross_scan_line.tga", "tga-pillow/cross_scan_line.png"},
      {"tga-generated/200x32_rgb_br_raw.tga", "200x32_rgb"},
      {"tga-generated/200x32_rgb_tr_rle.tga", "200x32_rgb"},
      {"tga-generated/200x32_rgba_br_rle.tga", "200x32_rgba"},
      {"tga-generated/200x32_l_br_rle.tga", "200x32_l"},
      {"tga-generated/200x32_p_tr_rle.tga", "200x32_p"},
      {"tga-generated/200x32_rgb_bl_rle_crossrow.tga", "200x32_rgb"},
      {"tga-generated/200x32_l_tl_rle_crossrow.tga", "200x32_l"},
      {"tga-generated/200x32_p200_bl_raw_cmfirst0.tga", "tga-generated/200x32_p200.png"},
      {"tga-generated/200x32_p200_bl_raw_cmfirst16.tga", "tga-generated/200x32_p200.png"},
  };
  for (auto [file, reference] : more)
    cases.push_back({file, std::string(reference).starts_with("tga-") ? reference : common + reference + ".png", false});
  return cases;
}

// The colour a 5-5-5 pixel shows for an 8-bit reference colour: the top 5
// bits, repeated into the low bits.
Bgr as_555(Bgr c) {
  auto expand = [](std::uint8_t v) { return static_cast<std::uint8_t>((v & 0xF8) | (v >> 5)); };
  return Bgr{expand(c.blue), expand(c.green), expand(c.red)};
}

TEST(TgaCorpus, FilesMatchTheirReferencePictures) {
  if (test::testdata("tga-pillow").empty()) GTEST_SKIP() << "corpora not present";
  const std::vector<CorpusCase> cases = corpus_cases();
  ASSERT_EQ(cases.size(), 35u);
  std::vector<std::string> references;
  for (const auto& k : cases) references.push_back(test::testdata(k.reference));
  auto decoded = test::decode_reference(references);
  for (const auto& k : cases) {
    ImageSet set;
    ASSERT_EQ(read(set, test::read_bytes(test::testdata(k.file))), 1) << k.file;
    test::expect_consistent(set, k.file);
    const auto& reference = decoded[test::testdata(k.reference)];
    ASSERT_TRUE(reference.ok) << k.reference;
    EXPECT_EQ(test::compare_with_reference(set, reference, 128, k.sixteen_bit ? as_555 : test::same_colour, k.file), 0);
  }
}

TEST(TgaCorpus, ThresholdDecidesWhichAlphaValuesAreKeyed) {
  std::string path = test::testdata("tga-pillow/common/200x32_rgba_tl_rle.tga");
  if (path.empty()) GTEST_SKIP() << "corpora not present";
  auto decoded = test::decode_reference({test::testdata("tga-pillow/common/200x32_rgba.png")});
  const auto& reference = decoded.begin()->second;
  for (int threshold : {0, 1, 200, 255}) {
    ImageSet set;
    ASSERT_EQ(read(set, test::read_bytes(path), threshold), 1);
    EXPECT_EQ(test::compare_with_reference(set, reference, threshold, test::same_colour, path), 0) << threshold;
  }
}

TEST(TgaCorpus, SixteenBitAttributeFileAndRejectedFiles) {
  if (test::testdata("tga-pillow").empty()) GTEST_SKIP() << "corpora not present";
  ImageSet set;
  ASSERT_EQ(read(set, test::read_bytes(test::testdata("tga-pillow/rgba16.tga"))), 1);
  // (21, 0, 31) with the attribute bit set, then (0, 31, 10); the bit is not kept.
  EXPECT_EQ(test::values_of(set.images[1])[0], 0x541Fu);
  EXPECT_EQ(test::values_of(set.images[1])[1], 0x03EAu);
  for (const char* file : {"tga-pillow/p_16.tga", "tga-pillow/p_8.tga", "tga-generated/200x32_p_bl_raw_cmap32.tga",
                           "tga-pillow/cross_scan_line_truncated.tga"}) {
    ImageSet set;
    EXPECT_EQ(read(set, test::read_bytes(test::testdata(file))), 0) << file;
    EXPECT_TRUE(resources::is_empty(set.images[1])) << file;
  }
}

TEST(TgaCorpus, EveryFileAndDamagedCopiesStayInsideTheirBuffers) {
  std::vector<std::string> files = test::corpus_files("tga-pillow", ".tga");
  for (const std::string& f : test::corpus_files("tga-generated", ".tga")) files.push_back(f);
  if (files.empty()) GTEST_SKIP() << "corpora not present";
  EXPECT_EQ(files.size(), 31u + 15u);  // every TGA of both folders
  int loaded = 0;
  for (const std::string& path : files) {
    for (const auto& copy : test::damaged_copies(test::read_bytes(path), 32)) {
      ImageSet set;
      loaded += test::check_damaged_read(read(set, copy), set, path);
    }
  }
  EXPECT_GT(loaded, 0);
}

}  // namespace
}  // namespace vexa::imagefiles
