// Instruments compiled in process: the block worked out byte by byte from
// its layout, the pivot and angle fields, the cropping of positions, I16
// files with their checks, the size limit, placeholders and exports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "driver/dataflash.h"
#include "imagefiles/native.h"
#include "resources/instruments.h"
#include "stored_resources.h"
#include "test_support.h"

namespace vexa::resources {
namespace {

using test::ByteList;
using test::CapturedContext;

constexpr Bgr W = rgb(255, 255, 255), R = rgb(255, 0, 0), B = rgb(0, 0, 255), K = rgb(0, 0, 0);
const std::string i14(14, ' '), i15(15, ' ');

using Rows = std::vector<std::vector<Bgr>>;

// The 6 x 3 white dial and its two positions: one shows red, white and blue
// pixels in the middle row, the other nothing new.
void write_dial(const test::TempDir& dir, const std::string& stem) {
  Rows background(3, std::vector<Bgr>(6, W));
  Rows moved = background;
  moved[1] = {W, R, R, W, B, W};
  test::write_file(dir.file(stem + "0.bmp"), test::bmp24_rows(background));
  test::write_file(dir.file(stem + "1.bmp"), test::bmp24_rows(moved));
  test::write_file(dir.file(stem + "2.bmp"), test::bmp24_rows(background));
}

// The dial's block. Key colour: the first candidate 0xAFCB, unused by white,
// red and blue. Pivot code 5 on 6 x 3: (3, 1). Angles -180 and 180 both give
// code 450 - 180 = 270 = 0x010E. Frame table of 3 x 12 bytes from 34: the
// data start at 70.
const ByteList dial_block = {
    0x1B, 'U', 'L', 0, 0, 0, 0, 'I', '1', '6', 16, 0, 0xCB, 0xAF, 0, 0, 0, 2, 6, 0, 3, 0,
    3, 0, 1, 0, 0x0E, 0x01, 0x0E, 0x01, 0, 0, 0, 0,
    // background 6 x 3 at 70, raw
    6, 0, 3, 0, 70, 0, 0, 0x00, 0, 0, 0, 0,
    // position 1: columns 1-4 of row 1 (R R W B, the white under it keyed)
    // at 70 + 36 = 106, coded: repeat 2 of red, literal key and blue
    4, 0, 1, 0, 106, 0, 0, 0x80, 1, 0, 1, 0,
    // position 2: nothing differs, 1 x 1 at (0,0), the key, at 106 + 8 = 114
    1, 0, 1, 0, 114, 0, 0, 0x80, 0, 0, 0, 0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0x81, 0x00, 0xF8, 0x01, 0xCB, 0xAF, 0x1F, 0x00,
    0x00, 0xCB, 0xAF};

int u16(const ByteList& b, std::size_t at) { return b.at(at) | (b.at(at + 1) << 8); }

// An I16 file: size, block, CRC (plus delta, to spoil it).
ByteList i16_file(const ByteList& block, int crc_delta = 0) {
  ByteList file(4);
  put_u32(file.data(), static_cast<std::uint32_t>(block.size()));
  file.insert(file.end(), block.begin(), block.end());
  std::uint16_t crc = static_cast<std::uint16_t>(driver::crc16(block.data(), block.size()) + crc_delta);
  file.push_back(static_cast<std::uint8_t>(crc));
  file.push_back(static_cast<std::uint8_t>(crc >> 8));
  return file;
}

// A hand-made block: a raw white background of w x h and one raw 1 x 1
// position at (0,0) in the key colour 0xAFCB.
ByteList plain_block(int w, int h) {
  ByteList b = {0x1B, 'U', 'L', 0, 0, 0, 0, 'I', '1', '6', 16, 0, 0xCB, 0xAF, 0, 0, 0, 1};
  auto put16 = [&b](int v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  put16(w);
  put16(h);
  for (int i = 0; i < 6; ++i) put16(i + 1);  // pivot, angles, further fields
  const int data = 34 + 24;
  const int second = data + w * h * 2;
  auto entry = [&](int fw, int fh, int offset) {
    put16(fw);
    put16(fh);
    put16(offset & 0xFFFF);
    b.push_back(static_cast<std::uint8_t>(offset >> 16));
    b.push_back(0);  // raw, no delay
    put16(0);        // at (0,0)
    put16(0);
  };
  entry(w, h, data);
  entry(1, 1, second);
  b.insert(b.end(), static_cast<std::size_t>(w * h * 2), 0xFF);
  b.push_back(0xCB);
  b.push_back(0xAF);
  return b;
}

std::string error_line(const std::string& message) { return ": " + message + "\r\n"; }

TEST(Crc16, XmodemCheckValues) {
  const std::uint8_t abc[3] = {0x61, 0x62, 0x63};
  EXPECT_EQ(driver::crc16(abc, 3), 0x9DD6);
  const char* digits = "123456789";  // the parameter set's published check value
  EXPECT_EQ(driver::crc16(reinterpret_cast<const std::uint8_t*>(digits), 9), 0x31C3);
}

TEST(Instrument, BlockOfANumberedSequence) {
  CapturedContext c;
  write_dial(c.dir, "n");
  c.compile_lines("VexaG6\nINSTRUMENT 5 [1] <./n?.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_instruments, 1, 5), dial_block);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_instruments].count, 1);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_instruments].bytes, 117);
  const std::string align(18, ' ');
  std::string lines = "Import Instrument <" + c.dir.file("n0.bmp") + ">\r\n" + align + "<" + c.dir.file("n1.bmp") +
                      ">\r\n" + align + "<" + c.dir.file("n2.bmp") + ">\r\n" + i14 + "2 images, size: 6x3 dots, 117 bytes\r\n";
  EXPECT_NE(c.console().find(lines), std::string::npos) << c.console();
}

TEST(Instrument, SequenceFromOneUsesItsFirstPictureAsBackground) {
  CapturedContext c;
  Rows background(3, std::vector<Bgr>(6, W));
  Rows moved = background;
  moved[1] = {W, R, R, W, B, W};
  test::write_file(c.dir.file("m1.bmp"), test::bmp24_rows(background));
  test::write_file(c.dir.file("m2.bmp"), test::bmp24_rows(moved));
  test::write_file(c.dir.file("s2.bmp"), test::bmp24_rows(background));
  test::write_file(c.dir.file("s3.bmp"), test::bmp24_rows(moved));
  c.compile_lines("VexaG6\nINSTRUMENT 1,<./m?.bmp>\nINSTRUMENT 2,<./s?.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  // m1 is both background and first position: slot 0 is a copy of it, the
  // first position shows nothing new, the second the dial's change.
  ByteList one = test::stored_resource(*c.ctx, driver::kind_instruments, 0, 1);
  ASSERT_EQ(one.size(), 117u);
  EXPECT_EQ(one[17], 2);
  EXPECT_EQ(ByteList(one.begin() + 46, one.begin() + 58), (ByteList{1, 0, 1, 0, 106, 0, 0, 0x80, 0, 0, 0, 0}));
  EXPECT_EQ(ByteList(one.begin() + 58, one.begin() + 70), (ByteList{4, 0, 1, 0, 109, 0, 0, 0x80, 1, 0, 1, 0}));
  // A sequence starting at 2 is taken as it is: s2 the background.
  ByteList two = test::stored_resource(*c.ctx, driver::kind_instruments, 0, 2);
  ASSERT_GE(two.size(), 58u);
  EXPECT_EQ(two[17], 1);
  EXPECT_EQ(ByteList(two.begin() + 46, two.begin() + 58), (ByteList{4, 0, 1, 0, 94, 0, 0, 0x80, 1, 0, 1, 0}));
}

TEST(Instrument, AnglesAndPivotFromTheParameters) {
  CapturedContext c;
  Rows plain(60, std::vector<Bgr>(100, W));
  Rows marked = plain;
  marked[20][30] = R;
  test::write_file(c.dir.file("p0.bmp"), test::bmp24_rows(plain));
  test::write_file(c.dir.file("p1.bmp"), test::bmp24_rows(marked));
  // A black 80 x 50 face inside a white margin of 10 left and right, 5 top
  // and bottom.
  Rows face = plain;
  for (int y = 5; y < 55; ++y)
    for (int x = 10; x < 90; ++x) face[y][x] = K;
  Rows face_marked = face;
  face_marked[20][30] = R;
  test::write_file(c.dir.file("f0.bmp"), test::bmp24_rows(face));
  test::write_file(c.dir.file("f1.bmp"), test::bmp24_rows(face_marked));
  c.compile_lines(
      "VexaG6\n"
      "INSTRUMENTPARAM -90,90,9\n"
      "INSTRUMENT 1,<./p?.bmp>\n"
      "INSTRUMENTPARAM 135,200,12,30\n"  // 200 is out of range: the end angle stays 90
      "INSTRUMENT 2,<./p?.bmp>\n"
      "INSTRUMENTPARAM 45,-45,0,123456\n"  // code 0 means the centre
      "INSTRUMENT 3,<./p?.bmp>\n"
      "REMOVEBORDER 1\n"
      "INSTRUMENTPARAM -180,180,5\n"
      "INSTRUMENT 4,<./f?.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  struct Expected {
    int number, pivot_x, pivot_y, start, end, width, height;
  };
  for (const Expected& e : {Expected{1, 100, 60, 180, 0, 100, 60}, Expected{2, 12, 30, 315, 0, 100, 60},
                            Expected{3, 50, 30, 45, 135, 100, 60}, Expected{4, 40, 25, 270, 270, 80, 50}}) {
    ByteList b = test::stored_resource(*c.ctx, driver::kind_instruments, 0, e.number);
    ASSERT_GE(b.size(), 34u) << e.number;
    EXPECT_EQ(u16(b, 18), e.width) << e.number;
    EXPECT_EQ(u16(b, 20), e.height) << e.number;
    EXPECT_EQ(u16(b, 22), e.pivot_x) << e.number;
    EXPECT_EQ(u16(b, 24), e.pivot_y) << e.number;
    EXPECT_EQ(u16(b, 26), e.start) << e.number;
    EXPECT_EQ(u16(b, 28), e.end) << e.number;
  }
  EXPECT_NE(c.console().find(i15 + "remove border 100x60 -> 80x50\r\n"), std::string::npos) << c.console();
  // The red mark at (30,20) is at (20,15) once the margin is gone; its data
  // follow the 80 x 50 background at 58 + 8000 = 0x1F7A.
  ByteList four = test::stored_resource(*c.ctx, driver::kind_instruments, 0, 4);
  EXPECT_EQ(ByteList(four.begin() + 46, four.begin() + 58), (ByteList{1, 0, 1, 0, 0x7A, 0x1F, 0, 0x80, 20, 0, 15, 0}));
}

TEST(Instrument, CroppingPositionsAgainstTheBackground) {
  ImageSet set;
  set.first_number = 3;
  set.count = 4;
  auto make = [&set](int slot, int w, int h, Bgr colour) {
    ASSERT_TRUE(create_image(set.images[static_cast<std::size_t>(slot)], w, h, 24));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::uint8_t* p = row_pointer(set.images[static_cast<std::size_t>(slot)], y) + 3 * x;
        p[0] = colour.blue;
        p[1] = colour.green;
        p[2] = colour.red;
      }
  };
  make(3, 4, 3, W);
  make(4, 4, 3, W);  // identical to the background
  make(5, 6, 5, W);  // bigger: cut to 4 x 3 first, a change outside is lost
  make(6, 2, 2, W);  // smaller: compared over its own area
  auto paint = [&set](int slot, int x, int y, Bgr c) {
    std::uint8_t* p = row_pointer(set.images[static_cast<std::size_t>(slot)], y) + 3 * x;
    p[0] = c.blue;
    p[1] = c.green;
    p[2] = c.red;
  };
  paint(5, 5, 4, R);
  paint(5, 3, 1, R);
  paint(6, 0, 1, B);
  set.transparent = 1;
  set.transparent_colour = rgb(1, 2, 3);
  InstrumentBlock out;
  ASSERT_TRUE(crop_instrument_frames(set, out));
  EXPECT_EQ(set.first_number, 0);
  EXPECT_EQ(set.count, 4);
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(set.transparent_colour, rgb(1, 2, 3));  // a transparent set keeps its colour as key
  ASSERT_FALSE(is_empty(set.images[0]));
  EXPECT_EQ(image_width(set.images[0]), 4);
  EXPECT_TRUE(is_empty(set.images[4]) && is_empty(set.images[5]));

  EXPECT_EQ(image_width(set.images[1]), 1);
  EXPECT_EQ(image_height(set.images[1]), 1);
  EXPECT_EQ(out.positions[1].x, 0);
  EXPECT_EQ(out.positions[1].y, 0);
  EXPECT_EQ(pixel_colour(set.images[1], 0, 0), rgb(1, 2, 3));

  EXPECT_EQ(image_width(set.images[2]), 1);
  EXPECT_EQ(image_height(set.images[2]), 1);
  EXPECT_EQ(out.positions[2].x, 3);
  EXPECT_EQ(out.positions[2].y, 1);
  EXPECT_EQ(pixel_colour(set.images[2], 0, 0), R);

  EXPECT_EQ(image_width(set.images[3]), 1);
  EXPECT_EQ(out.positions[3].x, 0);
  EXPECT_EQ(out.positions[3].y, 1);
  EXPECT_EQ(pixel_colour(set.images[3], 0, 0), B);

  // Without transparency an unused colour becomes the key, the flag stays 0;
  // 16-bit frames get its 5-6-5 word.
  ImageSet plain;
  plain.first_number = 0;
  plain.count = 2;
  ASSERT_TRUE(create_image(plain.images[0], 3, 1, 16));
  ASSERT_TRUE(create_image(plain.images[1], 3, 1, 16));
  put_u16(row_pointer(plain.images[1], 0) + 2, 0xF800);
  put_u16(row_pointer(plain.images[1], 0) + 4, 0xF800);
  ASSERT_TRUE(crop_instrument_frames(plain, out));
  EXPECT_EQ(plain.transparent, 0);
  EXPECT_EQ(pack_565(plain.transparent_colour), 0xAFCB);
  EXPECT_EQ(image_width(plain.images[1]), 2);
  EXPECT_EQ(out.positions[1].x, 1);

  ImageSet deep;
  deep.count = 2;
  ASSERT_TRUE(create_image(deep.images[0], 2, 2, 8));
  ASSERT_TRUE(create_image(deep.images[1], 2, 2, 8));
  EXPECT_FALSE(crop_instrument_frames(deep, out));  // only 16 and 24 bits
}

TEST(Instrument, EncodingModesAndFrameZero) {
  ImageSet set;
  set.count = 2;
  ASSERT_TRUE(create_image(set.images[0], 4, 1, 16));
  ASSERT_TRUE(create_image(set.images[1], 4, 1, 16));
  set.delays[1] = 0x85;  // only the low 7 bits are stored
  InstrumentBlock out;
  out.positions[1] = FramePosition{2, 3};
  // Four equal units code to 2 bytes (83 0000) of 8 raw: automatic coding
  // takes it; the background stays raw whatever the mode.
  ASSERT_TRUE(encode_instrument(set, out, 2));
  ByteList b(out.block.begin(), out.block.end());
  ASSERT_EQ(b.size(), 34u + 24u + 8u + 3u);
  EXPECT_EQ(ByteList(b.begin() + 34, b.begin() + 58),
            (ByteList{4, 0, 1, 0, 58, 0, 0, 0x00, 0, 0, 0, 0, 4, 0, 1, 0, 66, 0, 0, 0x85, 2, 0, 3, 0}));
  EXPECT_EQ(ByteList(b.begin() + 66, b.end()), (ByteList{0x83, 0, 0}));
  // Mode 2 leaves rows of 2 units raw; mode 1 codes them all the same.
  ImageSet narrow;
  narrow.count = 2;
  ASSERT_TRUE(create_image(narrow.images[0], 2, 1, 16));
  ASSERT_TRUE(create_image(narrow.images[1], 2, 1, 16));
  ASSERT_TRUE(encode_instrument(narrow, out, 2));
  EXPECT_EQ(out.block[34 + 12 + 7], 0x00);
  ASSERT_TRUE(encode_instrument(narrow, out, 1));
  EXPECT_EQ(out.block[34 + 12 + 7], 0x80);
  EXPECT_EQ(ByteList(out.block.end() - 3, out.block.end()), (ByteList{0x81, 0, 0}));
}

TEST(Instrument, I16FilesAndTheirChecks) {
  CapturedContext c;
  test::write_file(c.dir.file("dial.I16"), i16_file(dial_block));
  test::write_file(c.dir.file("low.i16"), i16_file(dial_block));
  test::write_file(c.dir.file("bad.I16"), i16_file(dial_block, 1));
  ByteList truncated = i16_file(dial_block);
  truncated.resize(truncated.size() - 3);
  test::write_file(c.dir.file("short.I16"), truncated);
  ByteList damaged = dial_block;
  damaged[58 + 4] = 200;  // position 2's data beyond the block
  test::write_file(c.dir.file("damaged.I16"), i16_file(damaged));
  test::write_file(c.dir.file("needle.bmp"), test::bmp24_plain(4, 4, W));
  test::write_file(c.dir.file("needle1.bmp"), test::bmp24_plain(4, 4, W));
  c.compile_lines(
      "VexaG6\n"
      "INSTRUMENT 1,<./dial.I16>\n"     // 2
      "INSTRUMENT 2 [3] <./low.i16>\n"  // 3
      "INSTRUMENT 3,<./bad.I16>\n"      // 4
      "INSTRUMENT 4,<./short.I16>\n"    // 5
      "INSTRUMENT 5,<./none.I16>\n"     // 6
      "INSTRUMENT 6,<./damaged.I16>\n"  // 7
      "INSTRUMENT 7, <./needle.bmp>\n"  // 8
      "INSTRUMENT 8,<./needle?.bmp>\n"  // 9
      "INSTRUMENT <./dial.I16>\n"       // 10
      "INSTRUMENT 256,<./dial.I16>\n"   // 11
      "INSTRUMENT 1,<./dial.I16>\n");   // 12
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_instruments, 0, 1), dial_block);
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_instruments, 3, 2), dial_block);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_instruments].count, 2);
  const std::string out = c.console();
  EXPECT_NE(out.find("Import Instrument <" + c.dir.file("dial.I16") + ">\r\n" + i14 +
                     "2 images, size: 6x3 dots, 117 bytes\r\n"),
            std::string::npos)
      << out;
  const std::uint16_t crc = driver::crc16(dial_block.data(), dial_block.size());
  char wrong[64];
  std::snprintf(wrong, sizeof wrong, "crc is wrong $%04X != $%04X !", crc, static_cast<std::uint16_t>(crc + 1));
  EXPECT_NE(out.find("--->LINE 4" + error_line(wrong)), std::string::npos) << out;
  for (auto [line, name] : {std::pair{5, "short.I16"}, std::pair{6, "none.I16"}, std::pair{7, "damaged.I16"}})
    EXPECT_NE(out.find("--->LINE " + std::to_string(line) + error_line("cannot load instrument <" + c.dir.file(name) + "> !")),
              std::string::npos)
        << out;
  EXPECT_NE(out.find("--->LINE 8" + error_line("wrong instrument type <./needle.bmp> !")), std::string::npos) << out;
  EXPECT_NE(out.find("--->LINE 9" + error_line("an instrument is only possible with 2 or more pictures !")),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("--->LINE 10" + error_line("no Instrumentnumber !")), std::string::npos) << out;
  EXPECT_NE(out.find("--->LINE 11" + error_line("Instrumentnumber 256 is wrong, (allowed: 0..255) !")),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("--->LINE 12" + error_line("Instrumentnumber 1 already exists !")), std::string::npos) << out;
  EXPECT_EQ(c.errors(), 9);
}

TEST(Instrument, BackgroundSidesAreHeldAgainstTheDisplayWidth) {
  CapturedContext c;
  test::write_file(c.dir.file("a.I16"), i16_file(plain_block(300, 300)));
  test::write_file(c.dir.file("b.I16"), i16_file(plain_block(300, 400)));
  test::write_file(c.dir.file("c.I16"), i16_file(plain_block(500, 100)));
  test::write_file(c.dir.file("d.I16"), i16_file(plain_block(100, 481)));
  c.compile_lines("VexaG6\nINSTRUMENT 1,<./a.I16>\nINSTRUMENT 2,<./b.I16>\nINSTRUMENT 3,<./c.I16>\nINSTRUMENT 4,<./d.I16>\n");
  // Both sides are compared with the display's width (480): a 300 x 400
  // dial passes although the display is only 272 high.
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_instruments, 0, 1), plain_block(300, 300));
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_instruments, 0, 2), plain_block(300, 400));
  const std::string message = error_line("The Instrument is to big (max. 480x272 dots) !");
  EXPECT_NE(c.console().find("--->LINE 4" + message), std::string::npos) << c.console();
  EXPECT_NE(c.console().find("--->LINE 5" + message), std::string::npos) << c.console();
  EXPECT_EQ(c.errors(), 2);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_instruments].count, 2);
}

TEST(Instrument, BigInstrumentBecomesPlaceholders) {
  CapturedContext c;
  const ByteList original = plain_block(40, 30);  // 58 + 2400 + 2 bytes
  test::write_file(c.dir.file("big.I16"), i16_file(original));
  c.compile_lines("VexaG6\nDISABLEBIGIMAGES 1 \"I\"\nINSTRUMENT 9,<./big.I16>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  ByteList b = test::stored_resource(*c.ctx, driver::kind_instruments, 0, 9);
  ASSERT_GT(b.size(), 58u + 2400u);
  EXPECT_NE(c.console().find(i15 + "Instrument > 1kB, replace with small dummy images, " + std::to_string(b.size()) +
                             " bytes\r\n"),
            std::string::npos)
      << c.console();
  // Header: the placeholders' own first bytes (not transparent, the first
  // unused key 0xAFCB), then bytes 17 to 33 of the original.
  EXPECT_EQ(ByteList(b.begin(), b.begin() + 17),
            (ByteList{0x1B, 'U', 'L', 0, 0, 0, 0, 'I', '1', '6', 16, 0, 0xCB, 0xAF, 0, 0, 0}));
  EXPECT_EQ(ByteList(b.begin() + 17, b.begin() + 34), ByteList(original.begin() + 17, original.begin() + 34));
  // The background: raw, drawn in the instrument colours (0,0,100) and
  // (0,0,255), its top row a drawn line.
  EXPECT_EQ(ByteList(b.begin() + 34, b.begin() + 41), (ByteList{40, 0, 30, 0, 58, 0, 0}));
  EXPECT_EQ(b[41], 0);
  for (int i = 0; i < 40 * 30; ++i) {
    int word = u16(b, 58 + 2 * static_cast<std::size_t>(i));
    ASSERT_TRUE(word == 0x000C || word == 0x001F) << i;
    if (i < 40) {
      EXPECT_EQ(word, 0x001F) << i;
    }
  }
  // The position differs from the background in its caption only: a coded
  // frame inside the background.
  EXPECT_EQ(b[46 + 7], 0x80);
  EXPECT_LE(u16(b, 46 + 8) + u16(b, 46), 40);
  EXPECT_LE(u16(b, 46 + 10) + u16(b, 46 + 2), 30);
  EXPECT_EQ(driver::get_u24(b.data() + 46 + 4), 58u + 2400u);
}

TEST(Instrument, ExpandingFramesAndDamagedBlocks) {
  ImageSet set;
  InstrumentBlock in;
  in.block = dial_block;
  in.block_size = static_cast<std::uint32_t>(dial_block.size());
  ASSERT_TRUE(expand_instrument_frames(set, in, 1));
  EXPECT_EQ(set.first_number, 0);
  EXPECT_EQ(set.count, 3);
  EXPECT_EQ(set.transparent, 0);
  const std::uint16_t row1[6] = {0xFFFF, 0xF800, 0xF800, 0xFFFF, 0x001F, 0xFFFF};
  for (int s = 0; s < 3; ++s) {
    ASSERT_EQ(image_width(set.images[static_cast<std::size_t>(s)]), 6) << s;
    ASSERT_EQ(image_height(set.images[static_cast<std::size_t>(s)]), 3) << s;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 6; ++x)
        EXPECT_EQ(pixel_value(set.images[static_cast<std::size_t>(s)], x, y), s == 1 && y == 1 ? row1[x] : 0xFFFFu)
            << s << ":" << x << "," << y;
  }
  ASSERT_TRUE(expand_instrument_frames(set, in, 0));
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(pack_565(set.transparent_colour), 0xAFCB);
  ASSERT_EQ(image_width(set.images[1]), 4);
  EXPECT_EQ(pixel_value(set.images[1], 2, 0), 0xAFCBu);
  EXPECT_EQ(pixel_value(set.images[1], 3, 0), 0x001Fu);
  EXPECT_EQ(pixel_value(set.images[2], 0, 0), 0xAFCBu);

  // Every shortened block is refused; no change of a single byte makes the
  // decoder read or write outside its buffers.
  for (std::size_t n = 0; n < dial_block.size(); ++n) {
    in.block.assign(dial_block.begin(), dial_block.begin() + static_cast<std::ptrdiff_t>(n));
    in.block_size = static_cast<std::uint32_t>(n);
    EXPECT_FALSE(expand_instrument_frames(set, in, 1)) << n;
    EXPECT_EQ(set.count, 0);
  }
  for (std::size_t at = 0; at < dial_block.size(); ++at)
    for (int value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      in.block = dial_block;
      in.block[at] = static_cast<std::uint8_t>(value);
      in.block_size = static_cast<std::uint32_t>(dial_block.size());
      expand_instrument_frames(set, in, at % 2 == 0 ? 1 : 0);
    }
}

// Runs in a folder of its own: the G16 file and the sheets have no directory
// in their names and go to the current directory, the single BMP files go to
// the macro file's directory.
TEST(Instrument, ExportsAndTheirNames) {
  CapturedContext c;
  write_dial(c.dir, "n");
  test::TempDir cwd;
  c.ctx->settings.macro_directory = c.dir.path + "/";
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(cwd.path.c_str()), 0);
  c.compile_lines("VexaG6\nEXPORTOVERVIEW 1796\nINSTRUMENT 7,<./n?.bmp>\n");
  ASSERT_EQ(chdir(previous), 0);
  ASSERT_EQ(c.errors(), 0) << c.console();
  for (const char* name : {"Instrument7_2x.G16", "Instrument7_2x.bmp", "Instrument7_2x_cropped.bmp"}) {
    EXPECT_TRUE(test::file_exists(cwd.file(name))) << name;
    EXPECT_FALSE(test::file_exists(c.dir.file(name))) << name;
  }
  for (const char* name : {"Instrument7_000.bmp", "Instrument7_001.bmp", "Instrument7_002.bmp"})
    EXPECT_TRUE(test::file_exists(c.dir.file(name))) << name;
  EXPECT_NE(c.console().find("Export Overview <Instrument7_2x.bmp>\r\n\r\nExport Overview <Instrument7_2x_cropped.bmp>\r\n\r\n"),
            std::string::npos)
      << c.console();
  // The G16 file holds the positions as full pictures.
  ImageSet back;
  ByteList g16 = test::read_bytes(cwd.file("Instrument7_2x.G16"));
  ASSERT_EQ(imagefiles::read_g16(back, imagefiles::Bytes(g16.data(), g16.size())), 1);
  EXPECT_EQ(back.first_number, 0);
  EXPECT_EQ(back.count, 3);
  ASSERT_EQ(image_width(back.images[1]), 6);
  EXPECT_EQ(pixel_colour(back.images[1], 1, 1), R);
  EXPECT_EQ(pixel_colour(back.images[1], 3, 1), W);
  EXPECT_EQ(pixel_colour(back.images[1], 4, 1), B);
  EXPECT_EQ(pixel_colour(back.images[2], 1, 1), W);
}

}  // namespace
}  // namespace vexa::resources
