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

using test::Rows;

// The 6 x 3 white dial and a position showing red, white and blue pixels in
// the middle row.
const Rows dial = test::plain_rows(6, 3, W);
const Rows moved = {Rows::value_type(6, W), {W, R, R, W, B, W}, Rows::value_type(6, W)};

// Writes stem+first.bmp and the following files from the given pictures.
void write_sequence(const test::TempDir& dir, const std::string& stem, int first, const std::vector<Rows>& pictures) {
  for (const Rows& rows : pictures) test::write_file(dir.file(stem + std::to_string(first++) + ".bmp"), test::bmp24_rows(rows));
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
  // Frame entries: size, offset (24 bits), flags (raw, no delay), at (0,0).
  for (const int e : {w, h, data & 0xFFFF, data >> 16, 0, 0, 1, 1, (data + w * h * 2) & 0xFFFF, (data + w * h * 2) >> 16, 0, 0})
    put16(e);
  b.insert(b.end(), static_cast<std::size_t>(w * h * 2), 0xFF);
  b.push_back(0xCB);
  b.push_back(0xAF);
  return b;
}

TEST(Crc16, XmodemCheckValue) {
  const char* digits = "123456789";  // the parameter set's published check value
  EXPECT_EQ(driver::crc16(reinterpret_cast<const std::uint8_t*>(digits), 9), 0x31C3);
}

TEST(Instrument, BlockOfANumberedSequence) {
  CapturedContext c;
  write_sequence(c.dir, "n", 0, {dial, moved, dial});
  c.compile_lines("VexaG6\nINSTRUMENT 5 [1] <./n?.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_instruments, 1, 5), dial_block);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_instruments].bytes, 117);
  const std::string align(18, ' ');
  std::string lines = "Import Instrument <" + c.dir.file("n0.bmp") + ">\r\n" + align + "<" + c.dir.file("n1.bmp") +
                      ">\r\n" + align + "<" + c.dir.file("n2.bmp") + ">\r\n" + i14 + "2 images, size: 6x3 dots, 117 bytes\r\n";
  EXPECT_NE(c.console().find(lines), std::string::npos) << c.console();
}

TEST(Instrument, SequenceFromOneUsesItsFirstPictureAsBackground) {
  CapturedContext c;
  write_sequence(c.dir, "m", 1, {dial, moved});
  write_sequence(c.dir, "s", 2, {dial, moved});
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
  Rows plain = test::plain_rows(100, 60, W);
  Rows marked = plain;
  marked[20][30] = R;
  write_sequence(c.dir, "p", 0, {plain, marked});
  // A black 80 x 50 face inside a white margin of 10 left and right, 5 top
  // and bottom.
  Rows face = plain;
  for (int y = 5; y < 55; ++y)
    for (int x = 10; x < 90; ++x) face[y][x] = K;
  Rows face_marked = face;
  face_marked[20][30] = R;
  write_sequence(c.dir, "f", 0, {face, face_marked});
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
    EXPECT_EQ((std::vector<int>{u16(b, 18), u16(b, 20), u16(b, 22), u16(b, 24), u16(b, 26), u16(b, 28)}),
              (std::vector<int>{e.width, e.height, e.pivot_x, e.pivot_y, e.start, e.end}))
        << e.number;
  }
  EXPECT_NE(c.console().find(i15 + "remove border 100x60 -> 80x50\r\n"), std::string::npos) << c.console();
  // The red mark at (30,20) is at (20,15) once the margin is gone; its data
  // follow the 80 x 50 background at 58 + 8000 = 0x1F7A.
  ByteList four = test::stored_resource(*c.ctx, driver::kind_instruments, 0, 4);
  EXPECT_EQ(ByteList(four.begin() + 46, four.begin() + 58), (ByteList{1, 0, 1, 0, 0x7A, 0x1F, 0, 0x80, 20, 0, 15, 0}));
}

TEST(Instrument, CroppingPositionsAgainstTheBackground) {
  // Position 4 is identical to the background; 5 is bigger, cut to 4 x 3
  // first so that its change outside is lost; 6 is smaller and compared
  // over its own area.
  Rows bigger = test::plain_rows(6, 5, W), smaller = test::plain_rows(2, 2, W);
  bigger[4][5] = R;
  bigger[1][3] = R;
  smaller[1][0] = B;
  auto set = test::set_of({test::picture(test::plain_rows(4, 3, W)), test::picture(test::plain_rows(4, 3, W)),
                           test::picture(bigger), test::picture(smaller)},
                          3);
  set->transparent = 1;
  set->transparent_colour = rgb(1, 2, 3);
  InstrumentBlock out;
  ASSERT_TRUE(crop_instrument_frames(*set, out));
  EXPECT_EQ(set->first_number, 0);
  EXPECT_EQ(set->count, 4);
  EXPECT_EQ(set->transparent_colour, rgb(1, 2, 3));  // a transparent set keeps its colour as key
  EXPECT_EQ(image_width(set->images[0]), 4);
  EXPECT_TRUE(is_empty(set->images[4]) && is_empty(set->images[5]));
  const struct {
    int x, y;
    Bgr colour;
  } positions[] = {{0, 0, rgb(1, 2, 3)}, {3, 1, R}, {0, 1, B}};
  for (int i = 1; i <= 3; ++i) {
    const auto& e = positions[i - 1];
    EXPECT_EQ(image_width(set->images[i]) * image_height(set->images[i]), 1) << i;
    EXPECT_EQ(out.positions[i].x, e.x) << i;
    EXPECT_EQ(out.positions[i].y, e.y) << i;
    EXPECT_EQ(pixel_colour(set->images[i], 0, 0), e.colour) << i;
  }

  // Without transparency an unused colour becomes the key, the flag stays 0;
  // 16-bit frames get its 5-6-5 word.
  auto plain = test::set_of({test::picture({{K, K, K}}, 16), test::picture({{K, R, R}}, 16)}, 0);
  ASSERT_TRUE(crop_instrument_frames(*plain, out));
  EXPECT_EQ(plain->transparent, 0);
  EXPECT_EQ(pack_565(plain->transparent_colour), 0xAFCB);
  EXPECT_EQ(image_width(plain->images[1]), 2);
  EXPECT_EQ(out.positions[1].x, 1);

  auto eight = test::set_of({Image{}, Image{}}, 0);
  ASSERT_TRUE(create_image(eight->images[0], 2, 2, 8) && create_image(eight->images[1], 2, 2, 8));
  EXPECT_FALSE(crop_instrument_frames(*eight, out));  // only 16 and 24 bits
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
  ASSERT_EQ(out.block.size(), 34u + 24u + 8u + 3u);
  EXPECT_EQ(ByteList(out.block.begin() + 34, out.block.begin() + 58),
            (ByteList{4, 0, 1, 0, 58, 0, 0, 0x00, 0, 0, 0, 0, 4, 0, 1, 0, 66, 0, 0, 0x85, 2, 0, 3, 0}));
  EXPECT_EQ(ByteList(out.block.begin() + 66, out.block.end()), (ByteList{0x83, 0, 0}));
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
  EXPECT_TRUE(test::contains(c.console(), "Import Instrument <" + c.dir.file("dial.I16") + ">\r\n" + i14 +
                                              "2 images, size: 6x3 dots, 117 bytes\r\n"))
      << c.console();
  const std::uint16_t crc = driver::crc16(dial_block.data(), dial_block.size());
  char wrong[64];
  std::snprintf(wrong, sizeof wrong, "crc is wrong $%04X != $%04X !", crc, static_cast<std::uint16_t>(crc + 1));
  const std::pair<int, std::string> errors[] = {
      {4, wrong},
      {5, "cannot load instrument <" + c.dir.file("short.I16") + "> !"},
      {6, "cannot load instrument <" + c.dir.file("none.I16") + "> !"},
      {7, "cannot load instrument <" + c.dir.file("damaged.I16") + "> !"},
      {8, "wrong instrument type <./needle.bmp> !"},
      {9, "an instrument is only possible with 2 or more pictures !"},
      {10, "no Instrumentnumber !"},
      {11, "Instrumentnumber 256 is wrong, (allowed: 0..255) !"},
      {12, "Instrumentnumber 1 already exists !"}};
  for (const auto& [line, message] : errors) EXPECT_TRUE(test::has_error(c, line, message)) << line << ": " << message;
  EXPECT_EQ(c.errors(), 9);
}

TEST(Instrument, BackgroundSidesAreHeldAgainstTheDisplayWidth) {
  CapturedContext c;
  const std::pair<const char*, ByteList> files[] = {{"a.I16", plain_block(300, 300)}, {"b.I16", plain_block(300, 400)},
                                                    {"c.I16", plain_block(500, 100)}, {"d.I16", plain_block(100, 481)}};
  for (const auto& [name, block] : files) test::write_file(c.dir.file(name), i16_file(block));
  c.compile_lines("VexaG6\nINSTRUMENT 1,<./a.I16>\nINSTRUMENT 2,<./b.I16>\nINSTRUMENT 3,<./c.I16>\nINSTRUMENT 4,<./d.I16>\n");
  // Both sides are compared with the display's width (480): a 300 x 400
  // dial passes although the display is only 272 high.
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_instruments, 0, 1), files[0].second);
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_instruments, 0, 2), files[1].second);
  for (int line : {4, 5}) EXPECT_TRUE(test::has_error(c, line, "The Instrument is to big (max. 480x272 dots) !")) << line;
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
  EXPECT_EQ(ByteList(b.begin() + 34, b.begin() + 42), (ByteList{40, 0, 30, 0, 58, 0, 0, 0}));
  for (int i = 0; i < 40 * 30; ++i) {
    int word = u16(b, 58 + 2 * static_cast<std::size_t>(i));
    ASSERT_TRUE(word == 0x001F || (i >= 40 && word == 0x000C)) << i;
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
  const std::uint32_t row1[6] = {0xFFFF, 0xF800, 0xF800, 0xFFFF, 0x001F, 0xFFFF};
  for (std::size_t s = 0; s < 3; ++s) {
    ASSERT_TRUE(image_width(set.images[s]) == 6 && image_height(set.images[s]) == 3) << s;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 6; ++x)
        EXPECT_EQ(pixel_value(set.images[s], x, y), s == 1 && y == 1 ? row1[x] : 0xFFFFu) << s << ":" << x << "," << y;
  }
  ASSERT_TRUE(expand_instrument_frames(set, in, 0));
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(pack_565(set.transparent_colour), 0xAFCB);
  ASSERT_EQ(image_width(set.images[1]), 4);
  EXPECT_EQ((std::vector<std::uint32_t>{pixel_value(set.images[1], 2, 0), pixel_value(set.images[1], 3, 0),
                                        pixel_value(set.images[2], 0, 0)}),
            (std::vector<std::uint32_t>{0xAFCB, 0x001F, 0xAFCB}));

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
  write_sequence(c.dir, "n", 0, {dial, moved, dial});
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
  EXPECT_TRUE(test::contains(c.console(), "Export Overview <Instrument7_2x.bmp>\r\n\r\n"
                                          "Export Overview <Instrument7_2x_cropped.bmp>\r\n\r\n"))
      << c.console();
  // The G16 file holds the positions as full pictures.
  ImageSet back;
  ByteList g16 = test::read_bytes(cwd.file("Instrument7_2x.G16"));
  ASSERT_EQ(imagefiles::read_g16(back, imagefiles::Bytes(g16.data(), g16.size())), 1);
  EXPECT_EQ(back.first_number, 0);
  EXPECT_EQ(back.count, 3);
  ASSERT_EQ(image_width(back.images[1]), 6);
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(pixel_colour(back.images[1], x, 1), moved[1][x]) << x;
    EXPECT_EQ(pixel_colour(back.images[2], x, 1), W) << x;
  }
}

}  // namespace
}  // namespace vexa::resources
