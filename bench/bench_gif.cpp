// GIF decoding throughput: our reader against giflib on the same large GIF
// files, made here with giflib's encoder. Both decode from memory into
// their own image records (ours: one bitmap per image; giflib: DGifSlurp's
// raster per image). Prints pixels per second of each and the ratio.
#include <gif_lib.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "imagefiles/gif.h"

namespace {

// CPU time of this thread: on a machine shared with other work, the time
// spent waiting for a processor would swamp the difference being measured.
double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Picture {
  std::string name;
  int width = 0, height = 0, colours = 0, frames = 1;
  bool interlaced = false;
  std::vector<std::uint8_t> indices;  // frames x height x width
};

int write_to_vector(GifFileType* gif, const GifByteType* data, int n) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + n);
  return n;
}

std::vector<std::uint8_t> encode(const Picture& p) {
  std::vector<std::uint8_t> out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, write_to_vector, &error);
  if (gif == nullptr) return {};
  std::vector<GifColorType> colours(static_cast<std::size_t>(p.colours));
  for (int i = 0; i < p.colours; ++i)
    colours[static_cast<std::size_t>(i)] = GifColorType{static_cast<GifByteType>(i * 37), static_cast<GifByteType>(i * 11),
                                                        static_cast<GifByteType>(255 - i)};
  ColorMapObject* map = GifMakeMapObject(p.colours, colours.data());
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, p.width, p.height, 8, 0, map);
  const std::size_t frame_size = static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height);
  for (int f = 0; f < p.frames; ++f) {
    if (p.frames > 1) {
      const unsigned char control[4] = {1 << 2, 10, 0, 0};
      EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
    }
    EGifPutImageDesc(gif, 0, 0, p.width, p.height, p.interlaced, nullptr);
    const std::uint8_t* frame = p.indices.data() + frame_size * static_cast<std::size_t>(f);
    // giflib's encoder takes the lines in file order: pass order when interlaced.
    std::vector<int> order;
    if (p.interlaced) {
      for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = start; y < p.height; y += step) order.push_back(y);
    } else {
      for (int y = 0; y < p.height; ++y) order.push_back(y);
    }
    for (int y : order)
      EGifPutLine(gif, const_cast<GifPixelType*>(frame + static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width)),
                  p.width);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

// Test pictures with the statistics of real ones: smooth photo-like shading
// with noise, flat cartoon areas, black-and-white line art.
Picture make_picture(const std::string& name, int width, int height, int colours, int frames, bool interlaced,
                     int style) {
  Picture p{name, width, height, colours, frames, interlaced, {}};
  p.indices.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(frames));
  std::mt19937 random(static_cast<unsigned>(width * 31 + style));
  std::size_t at = 0;
  for (int f = 0; f < frames; ++f)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        int v;
        if (style == 0) {  // shading plus dither noise
          double s = 0.5 + 0.25 * std::sin((x + 3 * f) * 0.013) + 0.25 * std::cos(y * 0.021 + x * 0.004);
          v = static_cast<int>(s * (colours - 4)) + static_cast<int>(random() % 4);
        } else if (style == 1) {  // flat regions
          v = ((x / 37 + f) * 7 + (y / 23) * 3 + ((x * x + y * y) / 5000)) % colours;
        } else {  // line art
          v = ((x + f) % 61 < 2 || y % 47 < 2 || (x * 3 + y * 5) % 211 < 2 || random() % 997 == 0) ? 1 : 0;
        }
        p.indices[at++] = static_cast<std::uint8_t>(std::clamp(v, 0, colours - 1));
      }
  return p;
}

struct Memory {
  const std::vector<std::uint8_t>* bytes;
  std::size_t at = 0;
};

int read_from_memory(GifFileType* gif, GifByteType* data, int n) {
  auto* m = static_cast<Memory*>(gif->UserData);
  std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), m->bytes->size() - m->at);
  std::memcpy(data, m->bytes->data() + m->at, take);
  m->at += take;
  return static_cast<int>(take);
}

bool decode_giflib(const std::vector<std::uint8_t>& file) {
  Memory m{&file};
  int error = 0;
  GifFileType* gif = DGifOpen(&m, read_from_memory, &error);
  if (gif == nullptr) return false;
  bool ok = DGifSlurp(gif) == GIF_OK;
  DGifCloseFile(gif, &error);
  return ok;
}

bool decode_ours(const std::vector<std::uint8_t>& file, vexa::imagefiles::GifImageSet& gif) {
  return vexa::imagefiles::read_gif_file(gif, vexa::imagefiles::Bytes(file)) == 1 && gif.frame_count > 0;
}

// Best times of one decode by each reader. The two take turns, so that a
// change in the machine's load meets both alike.
template <typename A, typename B>
bool best_seconds(A ours, B theirs, double at_least, double& best_ours, double& best_theirs) {
  best_ours = best_theirs = 1e9;
  double total = 0;
  for (int runs = 0; total < at_least || runs < 5; ++runs) {
    double t0 = cpu_seconds();
    if (!ours()) return false;
    double t1 = cpu_seconds();
    if (!theirs()) return false;
    double t2 = cpu_seconds();
    best_ours = std::min(best_ours, t1 - t0);
    best_theirs = std::min(best_theirs, t2 - t1);
    total += t2 - t0;
  }
  return true;
}

}  // namespace

int main() {
  const Picture pictures[] = {
      make_picture("photo 1920x1080 256 colours", 1920, 1080, 256, 1, false, 0),
      make_picture("photo 1920x1080 interlaced", 1920, 1080, 256, 1, true, 0),
      make_picture("cartoon 2048x2048 16 colours", 2048, 2048, 16, 1, false, 1),
      make_picture("line art 4000x3000 2 colours", 4000, 3000, 2, 1, false, 2),
      make_picture("animation 480x272 64 colours x 60", 480, 272, 64, 60, false, 0),
  };
  auto gif = std::make_unique<vexa::imagefiles::GifImageSet>();
  std::vector<std::vector<std::uint8_t>> files;
  for (const Picture& p : pictures) files.push_back(encode(p));
  // One untimed round first, so that no file meets a colder heap than the others.
  for (const auto& file : files)
    if (!decode_ours(file, *gif) || !decode_giflib(file)) return 1;
  double ours_total = 0, giflib_total = 0;
  std::printf("%-36s %10s %12s %12s %7s\n", "file", "bytes", "ours Mpx/s", "giflib Mpx/s", "ratio");
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Picture& p = pictures[i];
    const std::vector<std::uint8_t>& file = files[i];
    // The decoded indices must be the encoded ones before speed means anything.
    if (!decode_ours(file, *gif) || gif->frame_count != p.frames) {
      std::printf("%-36s not decoded\n", p.name.c_str());
      return 1;
    }
    std::size_t at = 0;
    for (int f = 0; f < p.frames; ++f)
      for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
          if (vexa::imagefiles::pixel_value(gif->frames[static_cast<std::size_t>(f)].image, x, y) !=
              p.indices[at++]) {
            std::printf("%-36s decoded wrongly at frame %d (%d, %d)\n", p.name.c_str(), f, x, y);
            return 1;
          }
    double pixels = static_cast<double>(p.indices.size());
    double ours = 0, theirs = 0;
    if (!best_seconds([&] { return decode_ours(file, *gif); }, [&] { return decode_giflib(file); }, 1.0, ours,
                      theirs)) {
      std::printf("%-36s decoding failed\n", p.name.c_str());
      return 1;
    }
    ours_total += ours;
    giflib_total += theirs;
    std::printf("%-36s %10zu %12.1f %12.1f %7.2f\n", p.name.c_str(), file.size(), pixels / ours / 1e6,
                pixels / theirs / 1e6, theirs / ours);
  }
  std::printf("GIF decoding speed, ours / giflib (all files): %.2f\n", giflib_total / ours_total);
  return 0;
}
