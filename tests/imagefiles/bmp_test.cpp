#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "imagefiles/bmp.h"
#include "imagefiles/dispatch.h"
#include "resources/image.h"
#include "bmp_files.h"
#include "test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::Bgr;
using resources::Image;
using resources::ImageSet;
using resources::rgb;
using test::bmp_file;
using test::BmpSpec;
using test::ByteList;
using test::put32;

int read(ImageSet& set, const ByteList& file, int threshold = 128) {
  ReadOptions options;
  options.alpha_threshold = threshold;
  return read_bmp(set, Bytes(file.data(), file.size()), options);
}

// The stored rows of an image (bottom row first), without their padding.
ByteList rows_of(const Image& image) {
  ByteList out;
  std::size_t row = (resources::image_width(image) * resources::bit_count(image) + 7) / 8;
  for (int y = resources::image_height(image) - 1; y >= 0; --y) {
    const std::uint8_t* p = resources::row_pointer(image, y);
    out.insert(out.end(), p, p + row);
  }
  return out;
}

TEST(ReadBmp, TrueColourFileIsTheBlockAsStored) {
  BmpSpec s;
  s.width = 3;
  s.height = 2;
  s.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};
  ByteList file = bmp_file(s);
  ImageSet set;
  ASSERT_EQ(read(set, file), 1);
  const Image& image = set.images[1];
  EXPECT_EQ(image.dib, ByteList(file.begin() + 14, file.end()));
  EXPECT_EQ(image.row_stride, 12u);
  EXPECT_EQ(resources::pixel_colour(image, 0, 1), rgb(3, 2, 1));  // bottom row comes first
  EXPECT_EQ(resources::pixel_colour(image, 2, 0), rgb(18, 17, 16));
  EXPECT_EQ(set.transparent, 0);
}

TEST(ReadBmp, RejectsWrongSignatureSizeAndShortFiles) {
  BmpSpec s;
  s.pixels = ByteList(4, 0);
  ByteList file = bmp_file(s);
  ImageSet set;
  ASSERT_EQ(read(set, file), 1);

  ByteList longer = file;
  longer.push_back(0);  // one byte more than the stored size says
  EXPECT_EQ(read(set, longer), 0);
  EXPECT_TRUE(resources::is_empty(set.images[1]));
  ByteList stored_larger = file;
  put32(stored_larger, 2, static_cast<std::uint32_t>(file.size() + 1));
  EXPECT_EQ(read(set, stored_larger), 0);
  ByteList signature = file;
  signature[1] = 'A';
  EXPECT_EQ(read(set, signature), 0);

  // Pixel rows that would end outside the file.
  s.height = 2;
  EXPECT_EQ(read(set, bmp_file(s)), 0);
  // Headers only, cut anywhere.
  for (std::size_t n : {0, 1, 2, 6, 14, 30, 53}) {
    ByteList cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
    if (cut.size() >= 6) put32(cut, 2, static_cast<std::uint32_t>(n));
    EXPECT_EQ(read(set, cut), 0) << n;
  }
}

TEST(ReadBmp, RejectsHeadersItDoesNotHandle) {
  ImageSet set;
  BmpSpec os2;  // 12-byte header (here with the sides as 32-bit values)
  os2.header_size = 12;
  os2.pixels = ByteList(8, 0);
  EXPECT_EQ(read(set, bmp_file(os2)), 0);

  BmpSpec jpeg;
  jpeg.compression = 4;
  jpeg.pixels = ByteList(4, 0);
  EXPECT_EQ(read(set, bmp_file(jpeg)), 0);

  BmpSpec rle_on_24;
  rle_on_24.compression = 1;
  rle_on_24.pixels = {0, 1};
  EXPECT_EQ(read(set, bmp_file(rle_on_24)), 0);

  BmpSpec fields_on_8;
  fields_on_8.bits = 8;
  fields_on_8.compression = 3;
  fields_on_8.table = {rgb(0, 0, 0)};
  fields_on_8.pixels = ByteList(4, 0);
  EXPECT_EQ(read(set, bmp_file(fields_on_8)), 0);

  BmpSpec two_bit;
  two_bit.bits = 2;
  two_bit.table = std::vector<Bgr>(4);
  two_bit.pixels = ByteList(4, 0);
  EXPECT_EQ(read(set, bmp_file(two_bit)), 0);
}

TEST(ReadBmp, OneBitFilesGetTheLightColourFirst) {
  BmpSpec s;
  s.width = 9;
  s.height = 1;
  s.bits = 1;
  s.table = {rgb(0, 0, 0), rgb(255, 255, 255)};
  s.pixels = {0xF0, 0x80, 0x00, 0x00};
  ImageSet set;
  ASSERT_EQ(read(set, bmp_file(s)), 1);
  const Image& image = set.images[1];
  EXPECT_EQ(resources::colour_entry(image, 0), rgb(255, 255, 255));
  EXPECT_EQ(resources::colour_entry(image, 1), rgb(0, 0, 0));
  // Every byte of the pixel area is inverted, padding included; the picture
  // looks the same (the first four pixels stay white).
  EXPECT_EQ(ByteList(image.dib.begin() + image.pixels, image.dib.end()), (ByteList{0x0F, 0x7F, 0xFF, 0xFF}));
  EXPECT_EQ(resources::pixel_colour(image, 0, 0), rgb(255, 255, 255));
  EXPECT_EQ(resources::pixel_colour(image, 4, 0), rgb(0, 0, 0));

  // Already light-first (and equal sums): untouched.
  for (auto table : {std::vector<Bgr>{rgb(255, 255, 255), rgb(0, 0, 0)},
                     std::vector<Bgr>{rgb(255, 64, 64), rgb(64, 64, 255)}}) {
    s.table = table;
    ByteList file = bmp_file(s);
    ASSERT_EQ(read(set, file), 1);
    EXPECT_EQ(set.images[1].dib, ByteList(file.begin() + 14, file.end()));
  }
}

TEST(ReadBmp, TopDownRowsAreReversed) {
  BmpSpec s;
  s.width = 2;
  s.height = -3;
  s.bits = 8;
  s.table = {rgb(0, 0, 0), rgb(1, 1, 1), rgb(2, 2, 2)};
  s.pixels = {0, 0, 0, 0, 1, 1, 0, 0, 2, 2, 0, 0};  // stored top row first
  ImageSet set;
  ASSERT_EQ(read(set, bmp_file(s)), 1);
  EXPECT_EQ(resources::image_height(set.images[1]), 3);
  EXPECT_EQ(rows_of(set.images[1]), (ByteList{2, 2, 1, 1, 0, 0}));
  EXPECT_EQ(resources::pixel_value(set.images[1], 0, 0), 0u);

  s.compression = 1;  // top-down run-length data is not a valid file
  s.pixels = {0, 1};
  EXPECT_EQ(read(set, bmp_file(s)), 0);
}

BmpSpec rle8(int width, int height, ByteList code) {
  BmpSpec s;
  s.width = width;
  s.height = height;
  s.bits = 8;
  s.compression = 1;
  s.table = std::vector<Bgr>(16);
  s.pixels = std::move(code);
  return s;
}

TEST(DecodeRle8, RunsDeltasAndLineEnds) {
  ImageSet set;
  // Row 0 (the bottom): one pixel 5; a delta (2, 1) to x 3 of row 1; one
  // pixel 7; end of line goes to pixel 0 of row 2; four pixels 9; end.
  ASSERT_EQ(read(set, bmp_file(rle8(4, 3, {1, 5, 0, 2, 2, 1, 1, 7, 0, 0, 4, 9, 0, 1}))), 1);
  const Image& image = set.images[1];
  EXPECT_EQ(rows_of(image), (ByteList{5, 0, 0, 0, 0, 0, 0, 7, 9, 9, 9, 9}));
  EXPECT_EQ(resources::header_field(image, resources::dib::compression), 0u);
  EXPECT_EQ(image.dib_size, 40u + 64u + 12u);
  EXPECT_EQ(image.dib.size(), image.dib_size);

  // Absolute runs: 3 literal pixels and a pad byte, then 4 without padding.
  ASSERT_EQ(read(set, bmp_file(rle8(7, 1, {0, 3, 1, 2, 3, 0xEE, 0, 4, 4, 5, 6, 7, 0, 1}))), 1);
  EXPECT_EQ(rows_of(set.images[1]), (ByteList{1, 2, 3, 4, 5, 6, 7}));

  // A run longer than the row is cut at the row's end (no wrap); the end of
  // line then starts the next row. A delta out of the picture ends it.
  ASSERT_EQ(read(set, bmp_file(rle8(3, 2, {5, 8, 0, 0, 0, 4, 1, 2, 3, 4, 0, 2, 200, 200}))), 1);
  EXPECT_EQ(rows_of(set.images[1]), (ByteList{8, 8, 8, 1, 2, 3}));

  // Rows end without codes once the last row has been closed; trailing
  // bytes after an end of bitmap are ignored.
  ASSERT_EQ(read(set, bmp_file(rle8(2, 2, {2, 1, 0, 0, 2, 3, 0, 0}))), 1);
  EXPECT_EQ(rows_of(set.images[1]), (ByteList{1, 1, 3, 3}));
  ASSERT_EQ(read(set, bmp_file(rle8(2, 2, {2, 1, 0, 1, 2, 3, 0, 0}))), 1);
  EXPECT_EQ(rows_of(set.images[1]), (ByteList{1, 1, 0, 0}));
}

TEST(DecodeRle8, TruncatedCodeIsRejected) {
  ImageSet set;
  for (ByteList code : {ByteList{}, ByteList{2}, ByteList{2, 1, 0, 2, 1}, ByteList{0, 4, 1, 2}, ByteList{2, 1, 0, 0}})
    EXPECT_EQ(read(set, bmp_file(rle8(2, 2, code))), 0) << code.size();
}

TEST(DecodeRle4, NibblesAlternateAndRunsArePadded) {
  BmpSpec s;
  s.width = 11;
  s.height = 2;
  s.bits = 4;
  s.compression = 2;
  s.table = std::vector<Bgr>(16);
  // Row 0: a run of 5 alternating 1 and 2; an absolute run of 3 (two bytes,
  // no pad); an absolute run of 5 (three bytes and a pad byte), cut at the
  // row's end after 3 pixels. Row 1: a delta of 1, then a run of 1.
  s.pixels = {5, 0x12, 0, 3, 0x34, 0x50, 0, 5, 0x67, 0x89, 0xA0, 0xEE, 0, 0, 0, 2, 1, 0, 1, 0xF0, 0, 1};
  ImageSet set;
  ASSERT_EQ(read(set, bmp_file(s)), 1);
  const Image& image = set.images[1];
  EXPECT_EQ(rows_of(image), (ByteList{0x12, 0x12, 0x13, 0x45, 0x67, 0x80, 0x0F, 0, 0, 0, 0, 0}));
  EXPECT_EQ(resources::bit_count(image), 4);
}

TEST(ReadBmp, SixteenBitFilesEndAs565) {
  BmpSpec s;
  s.width = 4;
  s.bits = 16;
  s.pixels = {0xFF, 0x7F, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00};  // 5-5-5 white, red, green, blue
  ImageSet set;
  ASSERT_EQ(read(set, bmp_file(s)), 1);
  const Image& image = set.images[1];
  EXPECT_TRUE(resources::is_565(image));
  EXPECT_EQ(rows_of(image), (ByteList{0xFF, 0xFF, 0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00}));

  // 5-6-5 with bit fields stays as stored, after a 40-byte header or inside
  // a version 5 header.
  BmpSpec fields = s;
  fields.compression = 3;
  fields.masks = {0xF800, 0x07E0, 0x001F};
  fields.pixels = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  for (std::uint32_t header : {40u, 124u}) {
    fields.header_size = header;
    ByteList file = bmp_file(fields);
    ASSERT_EQ(read(set, file), 1) << header;
    EXPECT_EQ(set.images[1].dib, ByteList(file.begin() + 14, file.end())) << header;
  }
}

BmpSpec alpha_file(std::uint32_t header_size, std::uint32_t alpha_mask) {
  BmpSpec s;
  s.width = 4;
  s.bits = 32;
  s.header_size = header_size;
  s.alpha_mask = alpha_mask;
  // Bytes alpha, blue, green, red. After a 40-byte header the last pixel is
  // at offset 52, where a longer header has its alpha mask.
  s.pixels = {127, 10, 20, 30, 128, 40, 50, 60, 0, 70, 80, 90, 0xFF, 0, 0, 0};
  return s;
}

TEST(ReadBmp, ThirtyTwoBitAlphaKeying) {
  ImageSet set;
  ASSERT_EQ(read(set, bmp_file(alpha_file(124, 0xFF))), 1);
  const Image& image = set.images[1];
  EXPECT_EQ(resources::bit_count(image), 24);
  ASSERT_EQ(set.transparent, 1);
  // The first candidate key colour, since no pixel uses it.
  const Bgr key = rgb(0xAD, 0xFB, 0x5A);
  EXPECT_EQ(set.transparent_colour, key);
  EXPECT_EQ(resources::pixel_colour(image, 0, 0), key);              // alpha 127
  EXPECT_EQ(resources::pixel_colour(image, 1, 0), rgb(60, 50, 40));  // alpha 128 keeps its colour
  EXPECT_EQ(resources::pixel_colour(image, 2, 0), key);

  // The threshold is the caller's.
  ASSERT_EQ(read(set, bmp_file(alpha_file(124, 0xFF)), 129), 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 1, 0), key);
  ASSERT_EQ(read(set, bmp_file(alpha_file(124, 0xFF)), 0), 1);
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), rgb(30, 20, 10));

  // Any other alpha mask, or a header without one: no keying, same byte order.
  for (auto [header, mask] : {std::pair{124u, 0xFF000000u}, std::pair{40u, 0xFFu}}) {
    ImageSet plain;
    ASSERT_EQ(read(plain, bmp_file(alpha_file(header, mask))), 1);
    EXPECT_EQ(plain.transparent, 0);
    EXPECT_EQ(rows_of(plain.images[1]), (ByteList{10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0}));
  }
}

TEST(WriteBmp, FileHeaderThenTheBlock) {
  test::TempDir dir;
  Image image;
  ASSERT_TRUE(resources::create_image(image, 3, 2, 8));
  resources::row_pointer(image, 0)[2] = 7;
  ASSERT_EQ(write_bmp_file(image, dir.file("a.bmp")), 1);
  ByteList file = test::read_bytes(dir.file("a.bmp"));
  ASSERT_EQ(file.size(), 14u + 40u + 1024u + 8u);
  EXPECT_EQ(ByteList(file.begin(), file.begin() + 14),
            (ByteList{'B', 'M', 0x3E, 0x04, 0, 0, 0, 0, 0, 0, 0x36, 0x04, 0, 0}));  // 1086, 1078
  EXPECT_EQ(ByteList(file.begin() + 14, file.end()), image.dib);
  ImageSet set;
  ASSERT_EQ(read(set, file), 1);
  EXPECT_EQ(set.images[1].dib, image.dib);

  EXPECT_EQ(write_bmp_file(Image{}, dir.file("empty.bmp")), 0);
  EXPECT_EQ(write_bmp_file(image, dir.file("missing/a.bmp")), 0);
}

TEST(WriteBmp, DumpNamesEveryImageBySlot) {
  test::TempDir dir;
  ImageSet set;
  set.first_number = 3;
  set.count = 3;  // 3, 4 (a gap), 5
  ASSERT_TRUE(resources::create_image(set.images[3], 1, 1, 24));
  ASSERT_TRUE(resources::create_image(set.images[5], 2, 1, 1));
  ASSERT_TRUE(resources::create_image(set.images[9], 2, 1, 1));  // outside the used range
  ASSERT_EQ(dump_images_as_bmp(set, dir.file("pic")), 1);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"pic_003.bmp", "pic_005.bmp"}));
  EXPECT_EQ(test::read_bytes(dir.file("pic_005.bmp")).size(), 14u + set.images[5].dib_size);
  EXPECT_EQ(dump_images_as_bmp(set, dir.file("no/pic")), 0);
}

// --- the public corpus ----------------------------------------------------------

struct Reference {
  int width = 0;
  int height = 0;
  ByteList rgb;  // top row first
};

// Decodes files with the independent reference decoder (a standard decoder
// run under this reader's layout rules; see bmp_reference.py).
std::map<std::string, Reference> reference_pixels(const std::vector<std::string>& paths) {
  std::vector<std::string> argv = {"/usr/bin/python3", VEXA_SOURCE_DIR "/tests/imagefiles/bmp_reference.py"};
  argv.insert(argv.end(), paths.begin(), paths.end());
  test::ProcessResult run = test::run_process(argv, "");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  std::map<std::string, Reference> result;
  std::size_t at = 0;
  for (const std::string& path : paths) {
    std::size_t end = run.out.find('\n', at);
    if (end == std::string::npos) break;
    std::istringstream line(run.out.substr(at, end - at));
    at = end + 1;
    Reference r;
    if (!(line >> r.width >> r.height)) continue;  // "error"
    std::size_t n = static_cast<std::size_t>(r.width) * r.height * 3;
    r.rgb.assign(run.out.begin() + at, run.out.begin() + at + n);
    at += n;
    result[path] = r;
  }
  return result;
}

std::vector<std::string> corpus_files(const std::string& folder) {
  std::vector<std::string> files;
  std::string root = test::testdata("bmpsuite/" + folder);
  if (root.empty() || !std::filesystem::exists(root)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(root))
    if (entry.path().extension() == ".bmp") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(BmpSuite, GoodFilesMatchTheReferenceDecoder) {
  std::vector<std::string> files = corpus_files("g");
  if (files.empty()) GTEST_SKIP() << "no corpus";
  ASSERT_EQ(files.size(), 27u);
  // The reference decoder's RLE4 absolute runs are wrong in the library
  // version at hand; that file is compared with the suite's own rendering.
  std::vector<std::string> sources = files;
  for (std::string& source : sources)
    if (source.ends_with("/pal4rle.bmp")) source = test::testdata("bmpsuite/html/pal4.png");
  std::map<std::string, Reference> by_source = reference_pixels(sources);
  std::map<std::string, Reference> reference;
  for (std::size_t i = 0; i < files.size(); ++i)
    if (by_source.count(sources[i])) reference[files[i]] = by_source[sources[i]];
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const std::string name = std::filesystem::path(path).filename().string();
    ByteList file = test::read_bytes(path);
    ImageSet set;
    int result = read(set, file);
    if (name == "pal8os2.bmp") {  // OS/2 1.x header: not read by this program
      EXPECT_EQ(result, 0);
      continue;
    }
    ASSERT_EQ(result, 1);
    ASSERT_TRUE(reference.count(path));
    const Reference& ref = reference[path];
    const Image& image = set.images[1];
    ASSERT_EQ(resources::image_width(image), ref.width);
    ASSERT_EQ(resources::image_height(image), ref.height);

    const int file_bits = resources::get_u16(file.data() + 28);
    const int expected_bits = file_bits == 32 ? 24 : file_bits;
    EXPECT_EQ(resources::bit_count(image), expected_bits);
    // 16-bit pixels are compared at the precision the file holds.
    int shift[3] = {0, 0, 0};
    if (file_bits == 16) {
      bool five_six_five = resources::get_u32(file.data() + 30) == 3 && resources::get_u32(file.data() + 54) == 0xF800;
      shift[0] = 3;
      shift[1] = five_six_five ? 2 : 3;
      shift[2] = 3;
      EXPECT_TRUE(resources::is_565(image));
    }
    int mismatches = 0;
    for (int y = 0; y < ref.height && mismatches < 5; ++y) {
      for (int x = 0; x < ref.width && mismatches < 5; ++x) {
        Bgr c = resources::pixel_colour(image, x, y);
        const std::uint8_t* r = &ref.rgb[(static_cast<std::size_t>(y) * ref.width + x) * 3];
        int got[3] = {c.red, c.green, c.blue};
        for (int k = 0; k < 3; ++k) {
          if ((got[k] >> shift[k]) == (r[k] >> shift[k])) continue;
          ADD_FAILURE() << "pixel " << x << "," << y << " component " << k << ": " << got[k] << " != " << int(r[k]);
          ++mismatches;
          break;
        }
      }
    }
  }
}

TEST(BmpSuite, OneBitFilesFollowTheLightFirstRule) {
  std::string pal1 = test::testdata("bmpsuite/g/pal1.bmp");
  if (pal1.empty()) GTEST_SKIP() << "no corpus";
  ImageSet set;
  ByteList black_first = test::read_bytes(pal1);
  ASSERT_EQ(read(set, black_first), 1);
  EXPECT_EQ(resources::colour_entry(set.images[1], 0), rgb(255, 255, 255));
  // Inverted bytes: the first pixel byte is the file's, inverted.
  EXPECT_EQ(set.images[1].dib[set.images[1].pixels], static_cast<std::uint8_t>(~black_first[14 + 40 + 8]));

  ByteList white_first = test::read_bytes(test::testdata("bmpsuite/g/pal1wb.bmp"));
  ASSERT_EQ(read(set, white_first), 1);
  EXPECT_EQ(set.images[1].dib, ByteList(white_first.begin() + 14, white_first.end()));
}

// Every other file: rejected or read, never a read or write outside a buffer
// (the sanitizer build runs this too). Files whose stored size is not their
// length must be rejected.
TEST(BmpSuite, QuestionableAndBadFilesAreSafe) {
  std::vector<std::string> files;
  for (const char* folder : {"q", "b", "x"}) {
    std::vector<std::string> more = corpus_files(folder);
    files.insert(files.end(), more.begin(), more.end());
  }
  if (files.empty()) GTEST_SKIP() << "no corpus";
  EXPECT_EQ(files.size(), 63u);
  std::map<std::string, bool> size_matches;
  std::istringstream index(test::read_file(test::testdata("bmpsuite/INDEX.tsv")));
  for (std::string line; std::getline(index, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
    if (fields.size() > 8) size_matches[fields[0]] = fields[8] != "no";
  }
  int loaded = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    std::string relative = path.substr(path.find("bmpsuite/") + 9);
    ImageSet set;
    int result = read(set, test::read_bytes(path));
    if (size_matches.count(relative) && !size_matches[relative]) {
      EXPECT_EQ(result, 0);
    }
    if (result == 0) {
      EXPECT_TRUE(resources::is_empty(set.images[1]));
      continue;
    }
    ++loaded;
    const Image& image = set.images[1];
    ASSERT_EQ(image.dib.size(), image.dib_size);
    int bits = resources::bit_count(image);
    EXPECT_TRUE(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24) << bits;
    // Touch every pixel: the sanitizers see any access outside the block.
    std::uint32_t sum = 0;
    for (int y = 0; y < resources::image_height(image); ++y) {
      for (int x = 0; x < resources::image_width(image); ++x) sum += resources::pixel_value(image, x, y);
    }
    (void)sum;
  }
  EXPECT_GT(loaded, 0);
}

}  // namespace
}  // namespace vexa::imagefiles
