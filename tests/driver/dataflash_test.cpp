// Golden tests of the DATA-FLASH image and the upload and object files. The
// expected bytes are worked out here by hand from the layout rules.
#include <gtest/gtest.h>

#include "driver/dataflash.h"
#include "driver/run.h"
#include "test_support.h"
#include "wire_helpers.h"

namespace vexa::driver {
namespace {

using test::CapturedContext;
using Bytes = std::vector<std::uint8_t>;

void put24(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  b[at + 2] = static_cast<std::uint8_t>(v >> 16);
}

std::uint32_t get24(const Bytes& b, std::size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16; }

struct Compiled {
  int exit_code;
  std::string console;
  Bytes upload;
  Bytes object;
};

Compiled compile(const std::string& text) {
  CapturedContext c;
  std::string path = c.dir.file("demo.txt");
  test::write_file(path, text);
  int code = run(*c.ctx, {path, "-o"});
  return {code, c.console(), test::read_bytes(c.dir.file("demo.DF")), test::read_bytes(c.dir.file("demo.DFO"))};
}

std::string repeat_lines(const std::string& line, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += line + "\n";
  return text;
}

// A display command of exactly n bytes (n >= 3): ESC % A and n - 3 values.
std::string command_of(int n) {
  std::string line = "#%A";
  for (int i = 0; i < n - 3; ++i) line += (i ? "," : " ") + std::to_string(i % 200);
  return line;
}

// Splits an upload file into header, records and trailer, checking the record form.
struct Record {
  int number;
  char region;
  std::uint32_t address;
  Bytes data;
  bool operator==(const Record&) const = default;
};

struct Upload {
  std::string header;
  std::vector<Record> records;
  Bytes trailer;
};

Upload parse_upload(const Bytes& file) {
  Upload u;
  std::size_t at = 0;
  while (at < file.size() && file[at] != 27) u.header += static_cast<char>(file[at++]);
  while (at + 15 <= file.size() && file[at + 1] == 'B') {
    // ESC B A 1 number, ESC & region address length W
    EXPECT_EQ((Bytes{file[at], file[at + 2], file[at + 3], file[at + 5], file[at + 6], file[at + 14]}),
              (Bytes{27, 'A', 1, 27, '&', 'W'}));
    std::uint32_t length = get24(file, at + 11);
    auto data = file.begin() + static_cast<long>(at + 15);
    u.records.push_back(
        {file[at + 4], static_cast<char>(file[at + 7]), get24(file, at + 8), Bytes(data, data + length)});
    at += 15 + length;
  }
  u.trailer.assign(file.begin() + static_cast<long>(at), file.end());
  return u;
}

const Bytes trailer = {27, 'X', 2, 27, '&', 'D', 0, 0, 0, 0, 0, 0, 'J'};

TEST(DataFlashCrc, CheckValue) {
  Bytes digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(test::xmodem_crc(digits, 0, digits.size()), 0x31C3);
  EXPECT_EQ(crc16(digits.data(), digits.size()), 0x31C3);
}

TEST(DataFlashImage, OneMacroOfTenBytes) {
  Compiled r = compile("VexaG6\nMacro 0\n" + command_of(10) + "\n");
  ASSERT_EQ(r.exit_code, 0) << r.console;
  // T = 6, D = 1542, P = 1552: region 1 holds everything, region 2 is empty.
  Bytes expected(32768, 255);
  put24(expected, 2, 1552);
  put24(expected, 5, 0);
  const std::string name = "demo.DF";  // no project name: the upload file's name
  std::fill(expected.begin() + 16, expected.begin() + 48, 0);
  std::copy(name.begin(), name.end(), expected.begin() + 16);
  // Page index rows of every kind: first 255, last 0, address 255 255 255 ...
  for (int k = 0; k < 16; ++k)
    for (int page = 0; page < 16; ++page) {
      std::size_t row = (k < 8 ? 128 + 80 * k : 768 + 80 * (k - 8)) + 5 * page;
      expected[row] = 255;
      expected[row + 1] = 0;
    }
  // ... except page 0 of Macro: numbers 0..0 at 1536.
  expected[768] = 0;
  expected[769] = 0;
  put24(expected, 770, 1536);
  put24(expected, 1536, 1542);
  put24(expected, 1539, 10);
  Bytes command = {27, '%', 'A', 0, 1, 2, 3, 4, 5, 6};
  std::copy(command.begin(), command.end(), expected.begin() + 1542);
  std::uint16_t checksum1 = test::xmodem_crc(expected, 2, 1552);
  expected[0] = static_cast<std::uint8_t>(checksum1);
  expected[1] = static_cast<std::uint8_t>(checksum1 >> 8);
  std::uint16_t checksum2 = test::xmodem_crc(expected, 0, 1552);
  EXPECT_EQ(r.object, expected);

  Upload u = parse_upload(r.upload);
  char head[512];
  std::snprintf(head, sizeof head,
                "#MS0;#AA0;#YA0;#VA0;#TC0;#FT8,1;#TE#TW2,1,1,60,17;program VexaG6\r\n\ndemo.DF#TP1552,$8000;"
                "#TP1552,$%04X;#FB4,3,8;#BM0;#BR1,0,64,479,90,0,1,1;#BR2,0,64,479,90,0,1,1;",
                checksum2);
  EXPECT_EQ(u.header, head);
  ASSERT_EQ(u.records.size(), 2u);
  EXPECT_EQ(u.records[0], (Record{1, 'D', 0, Bytes(expected.begin(), expected.begin() + 1024)}));
  EXPECT_EQ(u.records[1], (Record{2, 'D', 1024, Bytes(expected.begin() + 1024, expected.begin() + 1552)}));
  EXPECT_EQ(u.trailer, trailer);

  EXPECT_NE(r.console.find("\r\nWrite DATA-FLASH Object-File "), std::string::npos);
  EXPECT_NE(r.console.find("     System:          1542 bytes\r\n"), std::string::npos);
  EXPECT_NE(r.console.find("   1 Macros:            10 bytes\r\n"), std::string::npos);
  EXPECT_NE(r.console.find(" -------------------------------\r\n            sumary:   1552 bytes\r\n"),
            std::string::npos);
  EXPECT_EQ(r.console.find("Menumacros"), std::string::npos);
}

TEST(DataFlashImage, PageWithAGapAndResourcesBehindRegionOne) {
  Compiled r = compile("VexaG6 <Proj>\nTouchMacro 3 [1]\n#DL;\nTouchMacro 200 [1]\n#DS;\n"
                       "STRING 2,\"ab\"\nMacro 1\n#TC 1;\nPowerOnMacro\n#DI;\n");
  ASSERT_EQ(r.exit_code, 0) << r.console;
  const Bytes& o = r.object;
  // Entry tables: strings page 0 (number 2, 3 bytes), Macro page 0 (6), Touch page 1 (198 x 6).
  std::size_t strings_at = 1536, macro_at = 1539, touch_at = 1545;
  std::size_t d = touch_at + 198 * 6;  // 2733
  EXPECT_EQ(o[128 + 7 * 80], 2);         // strings: first 2
  EXPECT_EQ(o[128 + 7 * 80 + 1], 2);     // last 2
  EXPECT_EQ(get24(o, 128 + 7 * 80 + 2), strings_at);
  EXPECT_EQ(get24(o, 768 + 2), macro_at);
  EXPECT_EQ(o[768 + 80 + 5], 3);         // touch page 1: first 3
  EXPECT_EQ(o[768 + 80 + 6], 200);
  EXPECT_EQ(get24(o, 768 + 80 + 7), touch_at);
  EXPECT_EQ(o[768 + 80], 255);            // touch page 0 unused
  // Macro bytes in compile order: touch 3 (2), touch 200 (2), macro 1 (3), power-on (2).
  EXPECT_EQ(get24(o, touch_at), d);
  EXPECT_EQ(get24(o, touch_at + 3), 3u);
  for (std::size_t i = 1; i < 197; ++i) EXPECT_EQ(get24(o, touch_at + 6 * i), 0xFFFFFFu);
  EXPECT_EQ(get24(o, touch_at + 197 * 6), d + 3);
  EXPECT_EQ(get24(o, macro_at), d + 6);
  EXPECT_EQ(get24(o, macro_at + 3), 4u);
  EXPECT_EQ(get24(o, 80), d + 10);  // system macro table entry 0
  EXPECT_EQ(get24(o, 83), 3u);
  EXPECT_EQ(get24(o, 86), 0xFFFFFFu);
  EXPECT_EQ(Bytes(o.begin() + static_cast<long>(d), o.begin() + static_cast<long>(d) + 13),
            (Bytes{27, 'D', 'L', 27, 'D', 'S', 27, 'T', 'C', 1, 27, 'D', 'I'}));
  // The string goes to 32768, the start of region 2; the gap stays 255.
  EXPECT_EQ(get24(o, strings_at), 32768u);
  ASSERT_EQ(o.size(), 32768u + 3);
  EXPECT_EQ(Bytes(o.begin() + 32768, o.end()), (Bytes{'a', 'b', 0}));
  EXPECT_EQ(o[d + 13], 255);
  std::size_t length1 = d + 13;
  EXPECT_EQ(get24(o, 2), length1);
  EXPECT_EQ(get24(o, 5), 3u);
  EXPECT_EQ(std::string(o.begin() + 16, o.begin() + 21), std::string("Proj\0", 5));
  std::uint16_t checksum1 = test::xmodem_crc(o, 32768, 32771, test::xmodem_crc(o, 2, length1));
  EXPECT_EQ(o[0] | o[1] << 8, checksum1);

  Upload u = parse_upload(r.upload);
  ASSERT_EQ(u.records.size(), 4u);  // 1024 + 1024 + 698 in region 1, one record in region 2
  EXPECT_EQ(u.records[2].data.size(), length1 - 2048);
  EXPECT_EQ(u.records[3], (Record{4, 'X', 32768, Bytes{'a', 'b', 0}}));
  EXPECT_NE(r.console.find("     System:          2736 bytes\r\n"), std::string::npos);
  EXPECT_NE(r.console.find("   1 Strings:            3 bytes\r\n"), std::string::npos);
  EXPECT_NE(r.console.find("   2 Touchmacros:        6 bytes\r\n"), std::string::npos);
}

TEST(DataFlashImage, MacrosCrossingRegionOne) {
  // 400 commands of 100 bytes: 40,000 bytes of macros, more than S = 32768.
  Compiled r = compile("VexaG6\nMacro 0\n" + repeat_lines(command_of(100), 400) + "STRING 1,\"z\"\n");
  ASSERT_EQ(r.exit_code, 0) << r.console;
  std::size_t d = 1536 + 3 + 6;
  std::size_t payload = d + 40000 + 2;
  EXPECT_EQ(get24(r.object, 2), 32768u);
  EXPECT_EQ(get24(r.object, 5), payload - 32768);
  EXPECT_EQ(get24(r.object, 1536), d + 40000);  // resources follow the macros directly
  EXPECT_EQ(r.object.size(), payload);
  Upload u = parse_upload(r.upload);
  std::size_t in_region1 = 0, in_region2 = 0;
  for (const Record& rec : u.records) {
    EXPECT_LE(rec.data.size(), 1024u);
    (rec.region == 'D' ? in_region1 : in_region2) += rec.data.size();
    if (rec.region == 'X') {
      EXPECT_GE(rec.address, 32768u);
    }
  }
  EXPECT_EQ(in_region1, 32768u);
  EXPECT_EQ(in_region2, payload - 32768);
  EXPECT_EQ(u.records.front().number, 1);
  EXPECT_EQ(static_cast<std::size_t>(u.records.back().number), u.records.size() % 256);
}

TEST(DataFlashImage, LargePayloadUsesBiggerBlocks) {
  // 3000 commands of 100 bytes: P = 1542 + 300000 = 301542, so B = 2048 and N = 147.
  Compiled r = compile("VexaG6\nMacro 0\n" + repeat_lines(command_of(100), 3000));
  ASSERT_EQ(r.exit_code, 0) << r.console;
  Upload u = parse_upload(r.upload);
  EXPECT_NE(u.header.find(";#BR1,0,64,479,90,0,147,1;#BR2,0,64,479,90,0,147,1;"), std::string::npos) << u.header;
  // Region 1 (32768 = 16 x 2048) and the 268774 bytes of region 2 behind it:
  // 16 + 132 records, whole blocks but the last.
  ASSERT_EQ(u.records.size(), 148u);
  for (std::size_t i = 0; i < u.records.size(); ++i) {
    EXPECT_EQ(u.records[i].region, i < 16 ? 'D' : 'X') << i;
    EXPECT_EQ(u.records[i].address, 2048 * i) << i;
    EXPECT_EQ(u.records[i].data.size(), i < 147 ? 2048u : 486u) << i;
  }
}

TEST(DataFlashImage, LargeModelsHeaderAndOverview) {
  Compiled r = compile("VexaG7 \"G7 Demo\"\nMenuMacro 2\n#DL;\n");
  ASSERT_EQ(r.exit_code, 0) << r.console;
  Upload u = parse_upload(r.upload);
  std::size_t p = 1536 + 6 + 3;
  std::uint16_t checksum2 = test::xmodem_crc(r.object, 0, p);
  char head[512];
  std::snprintf(head, sizeof head,
                "#MS0;#AA0;#YA0;#VA0;#EA0;#DL;#TC0;#FT8,0;#TE#TW2,1,1,100,30;program VexaG7\r\n\nG7 Demo"
                "#TP%zu,$4000;#TP%zu,$%04X;#FB4,3,8;#BM0;#BR1,0,64,639,90,0,1,1;#BR2,0,64,639,90,0,1,1;",
                p, p, checksum2);
  EXPECT_EQ(u.header, head);
  EXPECT_EQ(r.object.size(), 16384u);
  EXPECT_NE(r.console.find("   1 Menumacros:         3 bytes\r\n"), std::string::npos);
}

TEST(DataFlashImage, OverflowAndUnwritableFiles) {
  CapturedContext c;
  std::string path = c.dir.file("big.txt");
  test::write_file(path, "VexaG6\nMacro 1\n#DL;\n");
  // As if resources had filled the area.
  c.ctx->flash.resources.assign(limits::work_area - 100, 0);
  c.ctx->flash.resource_pos = static_cast<int>(limits::work_area) - 100;
  EXPECT_EQ(run(*c.ctx, {path}), 1);
  EXPECT_NE(c.console().find("\r\nDATA-FLASH memory overflow !"), std::string::npos);
  EXPECT_NE(c.console().find("---> found 1 Errors !\r\n"), std::string::npos);
  EXPECT_FALSE(test::file_exists(c.dir.file("big.DF")));

  CapturedContext d;
  std::string macro = d.dir.file("dest.txt");
  test::write_file(macro, "VexaG6\nDESTINATION <" + d.dir.path + "/no/such/dir/x.DF>\nMacro 1\n#DL;\n");
  EXPECT_EQ(run(*d.ctx, {macro}), 1);
  EXPECT_NE(d.console().find("--->ERROR: Cannot write file " + d.dir.path + "/no/such/dir/x.DF !\r\n\r\n"),
            std::string::npos);
  EXPECT_EQ(d.console().find("DATA-FLASH Memory overview"), std::string::npos);
}

TEST(DataFlashImage, FailedRunKeepsAnEarlierUploadFile) {
  CapturedContext c;
  std::string path = c.dir.file("demo.txt");
  test::write_file(c.dir.file("demo.DF"), "earlier");
  test::write_file(path, "VexaG6\nMacro 1\n#DL;\nNONSENSE\n");
  EXPECT_EQ(run(*c.ctx, {path}), 1);
  EXPECT_EQ(test::read_file(c.dir.file("demo.DF")), "earlier");
}

}  // namespace
}  // namespace vexa::driver
