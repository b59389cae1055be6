#include <gtest/gtest.h>

#include "imagefiles/dispatch.h"
#include "imagefiles/jpeg.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::ImageSet;

int read(ImageSet& set, const std::vector<std::uint8_t>& bytes) { return test::read_with(read_jpeg, set, bytes); }

TEST(JpegReader, DensityBecomesPixelsPerMetreAndOtherBytesFail) {
  // unit, density, pixels per metre: dots per inch * 100 / 2.54 rounded (0
  // counts as 72), dots per centimetre * 100, no unit or an unknown one 72 dpi.
  const int cases[][3] = {{1, 300, 11811}, {1, 72, 2835},  {1, 144, 5669}, {1, 96, 3780},  {1, 1, 39},
                          {1, 65535, 2580118}, {1, 0, 2835}, {2, 118, 11800}, {2, 0, 7200}, {0, 1, 2835},
                          {0, 300, 2835}, {3, 300, 2835}};
  for (const auto& c : cases) EXPECT_EQ(jpeg_pels_per_metre(c[0], c[1]), c[2]) << c[0] << " " << c[1];
  ImageSet set;
  for (std::vector<std::uint8_t> bytes : {std::vector<std::uint8_t>{}, {0xFF, 0xD8}, {'B', 'M', 0, 0}}) {
    EXPECT_EQ(read(set, bytes), 0) << bytes.size();
    EXPECT_TRUE(resources::is_empty(set.images[1]));
  }
}

// --- public corpus -----------------------------------------------------------------

const std::pair<const char*, const char*> decoded_cases[] = {
    {"testorig_grey.jpg", "testorig_grey.pgm"},
    {"testorig_grey_progressive.jpg", "testorig_grey.pgm"},
    {"testorig_crop10x7.jpg", "testorig_crop10x7.ppm"},
    {"testorig_crop1x1.jpg", "testorig_crop1x1.ppm"},
    {"testimgint.jpg", "testimgint.ppm"},
    {"testimgari.jpg", "testimgint.ppm"},
    {"testimg_q90_444.jpg", "testimg_q90_444.ppm"},
    {"testimg_q90_422.jpg", "testimg_q90_422.ppm"},
    {"testimg_q90_grey.jpg", "testimg_q90_grey.pgm"},
};
// Variants of testorig.jpg that decode to the same picture.
const char* const testorig_variants[] = {"",          "_progressive",    "_optimized",       "_restart1row",
                                         "_dens_aspect2x1", "_dens_dpi300", "_dens_dpi72x144", "_dens_dpcm118",
                                         "_dens_dpi0", "_nojfif",          "_exif_nojfif"};

TEST(JpegCorpus, DecodesEqualTheReferenceDecodes) {
  if (test::testdata("jpeg").empty()) GTEST_SKIP() << "corpora not present";
  std::vector<std::pair<std::string, std::string>> cases;
  for (const char* variant : testorig_variants) cases.emplace_back(std::string("testorig") + variant + ".jpg", "testorig.ppm");
  cases.insert(cases.end(), std::begin(decoded_cases), std::end(decoded_cases));
  std::vector<std::string> references;
  for (const auto& c : cases) references.push_back(test::testdata("jpeg/ref/" + c.second));
  auto decoded = test::decode_reference(references);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string& file = cases[i].first;
    ImageSet set;
    ASSERT_EQ(read(set, test::read_bytes(test::testdata("jpeg/" + file))), 1) << file;
    test::expect_consistent(set, file);
    EXPECT_EQ(resources::bit_count(set.images[1]), 24) << file;
    ASSERT_TRUE(decoded[references[i]].ok) << file;
    EXPECT_EQ(test::compare_with_reference(set, decoded[references[i]], 128, test::same_colour, file), 0);
  }
  // Ten pixels: 30 bytes and 2 bytes of padding per row, kept zero.
  ImageSet set;
  ASSERT_EQ(read(set, test::read_bytes(test::testdata("jpeg/testorig_crop10x7.jpg"))), 1);
  EXPECT_EQ(set.images[1].row_stride, 32u);
  EXPECT_EQ(resources::header_field(set.images[1], resources::dib::size_image), 32u * 7);
  EXPECT_EQ(resources::header_field(set.images[1], resources::dib::clr_used), 0u);
  for (int y = 0; y < 7; ++y) EXPECT_EQ(resources::row_pointer(set.images[1], y)[30] | resources::row_pointer(set.images[1], y)[31], 0);
}

TEST(JpegCorpus, DensityFieldsGiveTheResolution) {
  if (test::testdata("jpeg").empty()) GTEST_SKIP() << "corpora not present";
  struct Case {
    const char* file;
    std::uint32_t x, y;
  };
  for (const Case& k : {Case{"testorig.jpg", 2835, 2835}, Case{"testorig_dens_aspect2x1.jpg", 2835, 2835},
                        Case{"testorig_dens_dpi300.jpg", 11811, 11811}, Case{"testorig_dens_dpi72x144.jpg", 2835, 5669},
                        Case{"testorig_dens_dpcm118.jpg", 11800, 11800}, Case{"testorig_dens_dpi0.jpg", 2835, 2835},
                        Case{"testorig_nojfif.jpg", 2835, 2835}, Case{"testorig_exif_nojfif.jpg", 2835, 2835}}) {
    ImageSet set;
    ASSERT_EQ(read(set, test::read_bytes(test::testdata(std::string("jpeg/") + k.file))), 1) << k.file;
    EXPECT_EQ(resources::header_field(set.images[1], resources::dib::x_pels), k.x) << k.file;
    EXPECT_EQ(resources::header_field(set.images[1], resources::dib::y_pels), k.y) << k.file;
  }
}

TEST(JpegCorpus, UnsupportedFilesAreRejectedAndTruncatedOnesSurvive) {
  if (test::testdata("jpeg").empty()) GTEST_SKIP() << "corpora not present";
  for (const char* file : {"testimg_cmyk_adobe.jpg", "monkey12.jpg"}) {
    ImageSet set;
    EXPECT_EQ(read(set, test::read_bytes(test::testdata(std::string("jpeg/") + file))), 0) << file;
    EXPECT_TRUE(resources::is_empty(set.images[1])) << file;
  }
  // The first half of a file: libjpeg fills the missing part and the
  // picture is kept at its full size.
  ImageSet set;
  ASSERT_EQ(read(set, test::read_bytes(test::testdata("jpeg/testorig_truncated.jpg"))), 1);
  EXPECT_EQ(resources::image_width(set.images[1]), 227);
  EXPECT_EQ(resources::image_height(set.images[1]), 149);
}

TEST(JpegCorpus, EveryFileAndDamagedCopiesStayInsideTheirBuffers) {
  std::vector<std::string> files = test::corpus_files("jpeg", ".jpg");
  if (files.empty()) GTEST_SKIP() << "corpora not present";
  EXPECT_EQ(files.size(), 23u);
  int loaded = 0, total = 0;
  for (const std::string& path : files) {
    for (const auto& copy : test::damaged_copies(test::read_bytes(path), 12)) {
      ImageSet set;
      ++total;
      loaded += test::check_damaged_read(read(set, copy), set, path);
    }
  }
  EXPECT_GT(loaded, 0);
  EXPECT_LT(loaded, total);
}

}  // namespace
}  // namespace vexa::imagefiles
