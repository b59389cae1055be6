// JPEG reader on libjpeg: the file's bytes are decoded from memory into a
// 24-bit bitmap (rows of blue, green, red, bottom row first, padded to 4
// bytes), grey pictures included; the JFIF density becomes the bitmap's
// resolution.
#include "imagefiles/jpeg.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "imagefiles/dispatch.h"
#include "imagefiles/reader_support.h"

namespace vexa::imagefiles {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return; ours jumps back into decode() instead of ending the process.
struct ErrorManager {
  jpeg_error_mgr library;  // first: libjpeg passes a pointer to this member
  std::jmp_buf jump;
};

[[noreturn]] void leave_on_error(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings (premature end of data, corrupt segments) are not printed: a
// damaged but readable picture is kept, and a reader reports nothing.
void ignore_message(j_common_ptr) {}

// The whole decoding, with libjpeg's state in this frame. Between setjmp
// and a possible longjmp the frame holds no object that needs destruction
// (the bitmap belongs to the set), and every path ends by destroying the
// decompressor.
bool decode(Bytes file, Image& image, std::uint64_t max_bytes) {
  jpeg_decompress_struct info;
  ErrorManager errors;
  info.err = jpeg_std_error(&errors.library);
  errors.library.error_exit = leave_on_error;
  errors.library.output_message = ignore_message;
  // Once the header is read and the bitmap made, an error while the pixels
  // are decoded keeps the picture: the rows not reached stay black, as a
  // damaged file's readable part is still worth showing.
  volatile bool decoding = false;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return decoding;
  }
  jpeg_create_decompress(&info);
  // Whole-picture buffers of progressive files are bounded like bitmaps; a
  // file that needs more fails instead of exhausting memory.
  info.mem->max_memory_to_use = static_cast<long>(max_bytes);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  // One channel is grey, three are colour; four (CMYK, YCCK) or any other
  // count has no conversion to blue-green-red and is rejected.
  bool ok = info.num_components == 1 || info.num_components == 3;
  info.out_color_space = JCS_EXT_BGR;
  ok = ok && std::uint64_t{info.image_width} * info.image_height * 3 <= max_bytes;
  ok = ok && create_bitmap(image, info.image_width, info.image_height, 24, 0, 0);
  if (ok) {
    set_header_field(image, dib::x_pels,
                                static_cast<std::uint32_t>(jpeg_pels_per_metre(info.density_unit, info.X_density)));
    set_header_field(image, dib::y_pels,
                                static_cast<std::uint32_t>(jpeg_pels_per_metre(info.density_unit, info.Y_density)));
    decoding = true;
    jpeg_start_decompress(&info);
    ok = info.output_components == 3 && info.output_width == info.image_width &&
         info.output_height == info.image_height;
  }
  while (ok && info.output_scanline < info.output_height) {
    // Picture row y goes to stored row height - 1 - y.
    JSAMPROW row = image.dib.data() + image.pixels +
                   static_cast<std::size_t>(image.row_stride) * (info.output_height - 1 - info.output_scanline);
    ok = jpeg_read_scanlines(&info, &row, 1) == 1;
  }
  if (ok) jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return ok;
}

}  // namespace

int jpeg_pels_per_metre(int unit, int density) {
  if (density == 0) density = 72;
  if (unit == 1) return (density * 10000 + 127) / 254;  // density * 100 / 2.54, half up
  if (unit == 2) return density * 100;
  return 2835;
}

// Reads a JPEG from its bytes into slot 1. Returns 1, or 0 (slot 1 empty)
// when libjpeg reports an error or the picture is not one this program
// handles; reports nothing.
int read_jpeg(ImageSet& set, Bytes file, const ReadOptions& options) {
  Image& image = set.images[1];
  release_image(image);
  if (!file.empty() && decode(file, image, options.max_image_bytes)) return 1;
  release_image(image);
  return 0;
}

}  // namespace vexa::imagefiles
