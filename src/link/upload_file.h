// The two files a compile leaves for the module's DATA-FLASH, written and
// read in one place:
//
// - the object file (.DFO): the image itself, addresses 0 up to the end of
//   region 2; its first bytes are checksum 1 and the two region lengths;
// - the upload file (.DF): a header text the module shows while it is
//   programmed (model, project, region 1 length and start of region 2,
//   payload size and checksum 2, two progress bars), the bytes of region 1
//   and then of region 2 as records (a progress step and a flash write
//   each), and a trailer that ends the upload.
//
// The programmer sends an upload file to the module unchanged and takes the
// few values it needs from its header (read_upload_header); the listing
// reads either file whole and checks every part of it (read_upload_file,
// read_object_file).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::link {

using FileBytes = std::span<const std::uint8_t>;

// The image's own head: checksum 1 and the lengths of both regions (16 and
// 24 bits, low byte first).
inline constexpr std::size_t image_checksum_at = 0;
inline constexpr std::size_t image_region1_length_at = 2;
inline constexpr std::size_t image_region2_length_at = 5;
inline constexpr std::size_t image_head_bytes = 8;

// The module commands upload files are made of, which the programmer also
// sends itself.
// ESC '&' region address(24) count(24) operation: read ('R') or write ('W')
// count flash bytes at address; region is 'D' for region 1, 'X' for region 2.
std::array<std::uint8_t, 10> flash_command(char region, long address, long count, char operation);
// ESC 'B' 'A' bar value: sets progress bar 1 (the upload) or 2 (the verify).
std::array<std::uint8_t, 5> bar_command(int bar, int value);
// Ends the upload: the module takes the new flash content into use.
inline constexpr std::array<std::uint8_t, 10> end_of_upload = {27, '&', 'D', 0, 0, 0, 0, 0, 0, 'J'};

// Where the regions of an image lie: region 1 from address 0, region 2 from
// region2_start (the region 1 size of the model); the image spans addresses
// 0 to region2_start + region2_length.
struct FlashRegions {
  long region1_length = 0;
  long region2_start = 0;
  long region2_length = 0;
  long image_bytes() const { return region2_start + region2_length; }
  long payload() const { return region1_length + region2_length; }
};

// The CRC of the region bytes in address order: region 1 from address
// `from` to its end, then region 2. Checksum 1 is it from address 2,
// computed while its own two bytes are still 255; checksum 2 is it from
// address 0, over the finished image.
std::uint16_t regions_checksum(FileBytes image, const FlashRegions& r, std::size_t from);

// What an upload file is written from: the finished image (at least
// r.image_bytes() long), the model (row of base::models, -1 for none), the
// project name as stored (with '#' doubled) and checksum 2.
struct UploadContent {
  FileBytes image;
  FlashRegions regions;
  int model = -1;
  std::string_view project;
  std::uint16_t checksum = 0;
};
std::string upload_file_bytes(const UploadContent& c);

// The values of an upload file's header, as the programmer reads them from
// its first bytes. Numbers that are missing stay 0.
struct UploadHeader {
  bool found = false;      // "program " is there: the file is an upload file at all
  std::string model_text;  // the header from the model name on
  long region1_length = 0;
  long region2_start = 0;  // S, as the compiler that wrote the file had it
  long total = 0;          // flash bytes of the payload
  long crc = 0;            // checksum 2
  long bar_left = 0, bar_top = 0, bar_right = 0, bar_bottom = 0;
  long verify_blocks = 0;
};
UploadHeader read_upload_header(std::string_view file);
// The file ends with the end-of-upload command (its six number bytes not examined).
bool has_end_of_upload(std::string_view file);

// One record of an upload file: its number, region letter, flash address,
// data length and the file offset of its data.
struct UploadRecord {
  int number = 0;
  char region = 'D';
  long address = 0;
  long length = 0;
  std::size_t data_at = 0;
};

// An upload or object file read whole and checked.
struct FlashFile {
  bool upload = false;  // an upload file; else an object file, which names no model or checksum 2
  int model = -1;       // the model the header names, -1 for none
  std::string project;  // the project name as the header carries it
  UploadHeader header;
  std::vector<UploadRecord> records;
  FlashRegions regions;
  std::vector<std::uint8_t> image;  // addresses 0 .. regions.image_bytes(); bytes of no region are 255
  std::uint16_t stored_checksum1 = 0;
  std::uint16_t checksum1 = 0;  // computed
  std::uint16_t checksum2 = 0;  // computed over the bytes as they are; an upload file's header holds its own
};

// Read the file's bytes into out. Return 1, or 0 with `error` naming what is
// wrong (a truncated file, a damaged header, record or trailer, region
// lengths that do not fit) and out incomplete. Checksums that do not match
// are no failure: the caller compares them. Nothing outside bytes is read,
// and nothing larger than the DATA-FLASH work area is allocated.
int read_upload_file(FileBytes bytes, FlashFile& out, std::string& error);
int read_object_file(FileBytes bytes, FlashFile& out, std::string& error);

}  // namespace vexa::link
