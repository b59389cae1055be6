// The readers against the public conformance corpora: one run per corpus
// folder (and per reader setting worth a run of its own). Every file is
// loaded through the dispatcher, as a resource of a macro file is, and must
// be rejected, or loaded, or loaded and equal pixel for pixel to the picture
// the corpus gives as its correct decoding, decoded by an independent
// decoder (decode_reference.py). This program's own rules are applied:
// pixels the reference shows transparent show the set's key colour (in an
// animation, which is composed on the background, the background colour);
// 16-bit pictures hold 5 bits per channel; every image of a GIF gets a
// screen of its own, 255 at most; a still GIF keeps the size of its image.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "command/context.h"
#include "imagefiles/gif.h"
#include "reader_test_support.h"
#include "resources/import.h"

namespace vexa::imagefiles {
namespace {

using imagefiles::Bgr;
using test::ByteList;

enum class Expect { match, reject, load, any };

struct Rule {
  const char* pattern;  // of the file's path inside the folder
  Expect expect;
};

struct Corpus {
  const char* name;
  const char* folder;
  const char* extension;
  std::vector<Rule> rules = {};  // the first rule whose pattern matches decides; none: match
  int threshold = 128;           // ALPHATHRESHOLD
  int gamma = 0;                 // DOGAMMA
  const char* only = "*";        // the files of the folder this run takes
};

const Corpus corpora[] = {
    // Every x* file is corrupt (signature, CRC, IHDR fields, no IDAT).
    {"pngsuite", "pngsuite", ".png", {{"x*", Expect::reject}}},
    {"pngsuite_threshold_255", "pngsuite", ".png", {{"x*", Expect::reject}}, 255},
    {"pngsuite_gamma", "pngsuite", ".png", {}, 128, 1, "g*"},
    {"libpng_pngsuite", "libpng-pngsuite", ".png"},
    // The stored file size must be the file's length (the OS/2 files hold
    // their header size there); 12- and 16-byte headers, 2 or 64 bits per
    // pixel, compressions above 3 and bitmap arrays are not read, nor are
    // colour tables that leave no room for the rows. Bit fields other than
    // 5-6-5 are read as 5-5-5, which the reference does not know; the bad
    // files that describe a picture are read without a comparison.
    // 32-bit files as ordinary image editors write them.
    {"bmp_of_tools", VEXA_SOURCE_DIR "/tests/imagefiles/fixtures", ".bmp"},
    {"bmpsuite", "bmpsuite", ".bmp",
     {{"g/pal8os2.bmp", Expect::reject}, {"q/pal8os2[-s]*", Expect::reject}, {"q/pal8os2v2-*", Expect::reject},
      {"q/pal1huffmsb.bmp", Expect::reject}, {"q/rgb24rle24.bmp", Expect::reject}, {"q/pal2*", Expect::reject},
      {"q/rgb24jpeg.bmp", Expect::reject}, {"q/rgb24png.bmp", Expect::reject}, {"q/rgba32abf.bmp", Expect::reject},
      {"q/rgba64.bmp", Expect::reject}, {"q/rgb32-111110.bmp", Expect::load}, {"q/rgba32-1010102.bmp", Expect::load},
      {"q/rgb32fakealpha.bmp", Expect::load}, {"q/pal8oversizepal.bmp", Expect::reject}, {"q/rgb*16-[1-4]*", Expect::load},
      {"b/baddens*", Expect::match}, {"b/badplanes.bmp", Expect::match}, {"b/badbitssize.bmp", Expect::load},
      {"b/badheadersize.bmp", Expect::load}, {"b/badrle*", Expect::load}, {"b/pal8badindex.bmp", Expect::load},
      {"b/rgb16-880.bmp", Expect::load}, {"b/*", Expect::reject}, {"x/*", Expect::reject}}},
    // No picture at all (no image, or only images without pixels); a code
    // size of 11 leaves the image at index 0.
    {"gif_pygif", "gif-pygif", ".gif",
     {{"no-data.gif", Expect::reject}, {"image-zero-*", Expect::reject}, {"max-codes.gif", Expect::load}}},
    {"gif_peterdn", "gif-peterdn", ".gif"},
    {"gif_generated", "gif-generated", ".gif"},
    // Colour maps of 24-bit entries only; 16-bit grey+alpha is outside the
    // reader's model (read as 5-5-5 colour); data that end early fail.
    {"tga_pillow", "tga-pillow", ".tga",
     {{"p_*.tga", Expect::reject}, {"cross_scan_line_truncated.tga", Expect::reject}, {"*la*", Expect::any},
      {"tga_id_field.tga", Expect::load}, {"rgba16.tga", Expect::load}}},
    {"tga_pillow_threshold_1", "tga-pillow", ".tga", {}, 1, 0, "common/*_rgba_*"},
    {"tga_pillow_threshold_255", "tga-pillow", ".tga", {}, 255, 0, "common/*_rgba_*"},
    {"tga_generated", "tga-generated", ".tga", {{"*cmap32*", Expect::reject}}},
    // CMYK and 12-bit samples are not read; a file cut in half keeps its
    // size, the missing part filled.
    {"jpeg", "jpeg", ".jpg",
     {{"testimg_cmyk_adobe.jpg", Expect::reject}, {"monkey12.jpg", Expect::reject},
      {"testorig_truncated.jpg", Expect::load}}},
};

// Where the GIF suite shows several images as one frame (images without a
// graphic control extension of their own join the next one), the frame is
// the screen of the last of them.
const std::map<std::string, std::vector<int>> joined_screens = {
    {"images-combine.gif", {3}}, {"images-overlap.gif", {1}}, {"high-color.gif", {3}},
    {"dispose-restore-previous.gif", {1, 2, 3, 4}}, {"animation-multi-image.gif", {0, 2, 4, 6}},
    {"animation-multi-image-explicit-zero-delay.gif", {0, 2, 4, 6}}};

struct Frame {
  int width = 0, height = 0;
  ByteList rgba;
};
struct Reference {
  std::string status;  // "frames <n>", "none" (the corpus gives no picture) or "error <why>"
  std::vector<Frame> frames;
};

// The reference frames of every file, from one run of the reference decoder.
std::map<std::string, Reference> decode_reference(const std::vector<std::string>& paths, bool gamma) {
  std::vector<std::string> argv = {"/usr/bin/python3", VEXA_SOURCE_DIR "/tests/imagefiles/decode_reference.py"};
  if (gamma) argv.push_back("--gamma");
  argv.insert(argv.end(), paths.begin(), paths.end());
  const test::ProcessResult run = test::run_process(argv, ".");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  std::map<std::string, Reference> result;
  std::istringstream in(run.out);
  for (const std::string& path : paths) {
    Reference& r = result[path];
    std::getline(in, r.status);
    if (r.status.starts_with("frames ")) r.frames.resize(std::stoul(r.status.substr(7)));
    for (Frame& f : r.frames) {
      std::string hex;
      in >> f.width >> f.height >> hex;
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2) f.rgba.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
      in.ignore(1);
    }
  }
  return result;
}

// The background a GIF's screens start from: its global table's entry at
// the background index, black without one.
Bgr gif_background(const ByteList& f) {
  if (f.size() < 13 || !(f[10] & 0x80) || f[11] >= (2 << (f[10] & 7)) || 13u + 3 * f[11] + 2 >= f.size()) return Bgr{};
  return imagefiles::rgb(f[13 + 3 * f[11]], f[14 + 3 * f[11]], f[15 + 3 * f[11]]);
}

// Compares an image with a reference frame whose pixel (left, top) is the
// image's first: pixels with alpha below clear_below must show clear (and
// no others, when the set is keyed), the others the reference's colour.
void compare(const imagefiles::Image& image, int left, int top, const Frame& frame, int clear_below, Bgr clear,
             bool keyed, const std::string& label) {
  const int width = imagefiles::image_width(image), height = imagefiles::image_height(image);
  const std::uint8_t precision = imagefiles::bit_count(image) == 16 ? 0xF8 : 0xFF;
  auto cut = [&](Bgr c) { return imagefiles::rgb(c.red & precision, c.green & precision, c.blue & precision); };
  auto text = [](Bgr c) { return std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue); };
  int wrong = 0;
  for (int y = 0; y < frame.height; ++y)
    for (int x = 0; x < frame.width; ++x) {
      if (x < left || y < top || x - left >= width || y - top >= height) continue;
      const std::uint8_t* p = &frame.rgba[(static_cast<std::size_t>(y) * frame.width + x) * 4];
      const bool see_through = p[3] < clear_below;
      const Bgr ours = imagefiles::pixel_colour(image, x - left, y - top);
      const Bgr want = see_through ? clear : imagefiles::rgb(p[0], p[1], p[2]);
      if ((see_through ? ours == clear : cut(ours) == cut(want) && !(keyed && ours == clear)) || ++wrong > 3) continue;
      ADD_FAILURE() << label << " pixel " << x << "," << y << (see_through ? " (transparent)" : "") << ": ours "
                    << text(ours) << " expected " << text(want);
    }
}

void PrintTo(const Corpus& corpus, std::ostream* out) { *out << corpus.name; }

class ReaderCorpus : public testing::TestWithParam<Corpus> {};

TEST_P(ReaderCorpus, FilesMatchTheirReferences) {
  const Corpus& corpus = GetParam();
  const std::string root = test::testdata(corpus.folder);
  std::vector<std::string> files;
  for (const std::string& path : test::corpus_files(corpus.folder, corpus.extension))
    if (fnmatch(corpus.only, path.substr(root.size() + 1).c_str(), 0) == 0) files.push_back(path);
  if (files.empty()) GTEST_SKIP() << "corpus not present";
  const auto references = decode_reference(files, corpus.gamma != 0);
  auto ctx = std::make_unique<command::Context>();
  ctx->out.console = nullptr;
  ctx->settings.alpha_threshold = corpus.threshold;
  ctx->settings.gamma = corpus.gamma;
  imagefiles::ImageSet& set = ctx->work_set;
  const bool gif = std::string(corpus.extension) == ".gif";
  int compared = 0;
  for (const std::string& path : files) {
    const std::string name = path.substr(root.size() + 1);
    SCOPED_TRACE(name);
    const auto rule = std::find_if(corpus.rules.begin(), corpus.rules.end(),
                                   [&](const Rule& r) { return fnmatch(r.pattern, name.c_str(), 0) == 0; });
    const Expect expect = rule == corpus.rules.end() ? Expect::match : rule->expect;
    const int result = resources::load_image_file(*ctx, set, path);
    if (expect == Expect::reject) {
      EXPECT_TRUE(result == 0 && set.count == 0 && imagefiles::is_empty(set.images[1])) << "loaded";
      continue;
    }
    for (int slot = set.first_number; result == 1 && slot < set.first_number + set.count; ++slot)
      test::expect_consistent(set.images[static_cast<std::size_t>(slot)], name);
    const Reference& reference = references.at(path);
    if (expect == Expect::any || (expect == Expect::match && reference.status == "none")) continue;
    EXPECT_EQ(result, 1);
    if (result != 1 || expect == Expect::load) continue;
    ASSERT_TRUE(reference.status.starts_with("frames ")) << reference.status;
    // Frame i of the reference is the screen of image screens[i].
    std::vector<int> screens;
    if (auto joined = joined_screens.find(name); gif && joined != joined_screens.end()) {
      screens = joined->second;
      EXPECT_EQ(set.count, screens.back() + 1);
    } else {
      for (std::size_t i = 0; i < reference.frames.size() && i < base::limits::image_slots - 1; ++i)
        screens.push_back(static_cast<int>(i));
      ASSERT_EQ(set.count, screens.size());
    }
    const ByteList bytes = test::read_bytes(path);
    int left = 0, top = 0;
    if (gif && set.count == 1) {  // a still picture, compared where it stands on the screen
      auto decoded = std::make_unique<GifImageSet>();
      ASSERT_EQ(read_gif_file(*decoded, Bytes(bytes)), 1);
      left = decoded->frames[0].left;
      top = decoded->frames[0].top;
    } else {
      EXPECT_EQ(std::pair(imagefiles::image_width(set.images[1]), imagefiles::image_height(set.images[1])),
                std::pair(reference.frames[0].width, reference.frames[0].height));
    }
    const bool keyed = set.transparent != 0;
    const Bgr clear = keyed || !gif ? set.transparent_colour : gif_background(bytes);
    for (std::size_t i = 0; i < screens.size(); ++i, ++compared)
      compare(set.images[static_cast<std::size_t>(1 + screens[i])], left, top, reference.frames[i],
              gif ? 255 : corpus.threshold, clear, keyed, name + " frame " + std::to_string(i));
  }
  EXPECT_GT(compared, 0);
}

INSTANTIATE_TEST_SUITE_P(Corpora, ReaderCorpus, testing::ValuesIn(corpora),
                         [](const testing::TestParamInfo<Corpus>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexa::imagefiles
