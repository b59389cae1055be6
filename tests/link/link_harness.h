// Helpers of the link tests: the module simulator (build/vexasim)
// as a child process, and upload files built here from their format.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "link/models.h"
#include "test_support.h"
#include "wire_helpers.h"

extern char** environ;

namespace vexa::test {

// What the simulator left behind when it ended.
struct SimulatorResult {
  std::vector<std::uint8_t> flash;
  std::map<std::string, long long> status;
  std::string log;    // one line per command or packet
  std::string trace;  // every byte received
  long long stat(const std::string& key) const {
    auto it = status.find(key);
    return it == status.end() ? -1 : it->second;
  }
};

struct Simulator {
  TempDir dir;
  pid_t pid = -1;
  int control = -1;  // the simulator's standard input; closing it ends it
  std::string device;

  Simulator() = default;
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;
  ~Simulator() {
    if (pid > 0) finish();
  }

  // Starts the simulator with args; true once it has printed its device.
  bool start(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {std::string(VEXASIM_PATH)};
    argv.insert(argv.end(), args.begin(), args.end());
    for (const char* f : {"--dump", "flash", "--status", "status", "--log", "log", "--trace", "trace"})
      argv.push_back(f[0] == '-' ? std::string(f) : dir.file(f));
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return false;
    std::vector<char*> args_c;
    for (std::string& a : argv) args_c.push_back(a.data());
    args_c.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    int spawned = ::posix_spawn(&pid, args_c[0], &actions, nullptr, args_c.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) pid = -1;
    ::close(in[0]);
    ::close(out[1]);
    control = in[1];
    if (pid < 0) {
      ::close(out[0]);
      return false;
    }
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
      char c[256];
      ssize_t n = ::read(out[0], c, sizeof c);
      if (n <= 0) break;
      line.append(c, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (line.find('\n') == std::string::npos) return false;
    device = line.substr(0, line.find('\n'));
    return true;
  }

  SimulatorResult finish() {
    SimulatorResult r;
    if (pid <= 0) return r;
    ::close(control);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
    r.flash = read_bytes(dir.file("flash"));
    r.log = read_file(dir.file("log"));
    r.trace = read_file(dir.file("trace"));
    std::istringstream in(read_file(dir.file("status")));
    std::string key;
    long long value;
    while (in >> key >> value) r.status[key] = value;
    return r;
  }
};

inline bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A DATA-FLASH image of two regions and the upload file that carries it.
struct UploadImage {
  int model = link::model_vexag6;
  long region2_start = 32768;
  std::vector<std::uint8_t> region1;  // starts with the system area fields
  std::vector<std::uint8_t> region2;
  std::string project = "TEST.DF";

  long total() const { return static_cast<long>(region1.size() + region2.size()); }

  // The image from address 0 to the end of region 2, gap as bytes 255.
  std::vector<std::uint8_t> object() const {
    std::vector<std::uint8_t> o(static_cast<std::size_t>(region2_start) + region2.size(), 255);
    std::copy(region1.begin(), region1.end(), o.begin());
    std::copy(region2.begin(), region2.end(), o.begin() + region2_start);
    return o;
  }

  // The payload in address order: region 1, then region 2.
  std::vector<std::uint8_t> payload() const {
    std::vector<std::uint8_t> p = region1;
    p.insert(p.end(), region2.begin(), region2.end());
    return p;
  }

  // Fills the lengths and checksum 1 as the layout does.
  void seal() {
    auto put24 = [&](std::size_t at, std::size_t v) {
      region1[at] = static_cast<std::uint8_t>(v);
      region1[at + 1] = static_cast<std::uint8_t>(v >> 8);
      region1[at + 2] = static_cast<std::uint8_t>(v >> 16);
    };
    put24(2, region1.size());
    put24(5, region2.size());
    std::uint16_t crc = xmodem_crc(region1, 2, region1.size());
    crc = xmodem_crc(region2, 0, region2.size(), crc);
    region1[0] = static_cast<std::uint8_t>(crc);
    region1[1] = static_cast<std::uint8_t>(crc >> 8);
  }

  std::uint16_t checksum2() const {
    std::vector<std::uint8_t> p = payload();
    return xmodem_crc(p, 0, p.size());
  }

  // The upload file: header text, records of region 1 ('D') and region 2
  // ('X'), trailer.
  std::string upload_file() const {
    const link::Model& m = link::models[static_cast<std::size_t>(model)];
    long p = total();
    long block = 1024;
    while (p / block > 254) block += 1024;
    long blocks = p / block;
    bool large = link::is_large_model(model);
    char header[1024];
    std::snprintf(header, sizeof header,
                  "#MS0;#AA0;#YA0;#VA0;%s#TC0;#FT8,%d;#TE#TW2,1,1,%s;program %s\r\n\n%s#TP%d,$%04X;#TP%d,$%04X;"
                  "#FB4,3,8;#BM0;#BR1,0,64,%d,90,0,%d,1;#BR2,0,64,%d,90,0,%d,1;",
                  large ? "#EA0;#DL;" : "", large ? 0 : 1, large ? "100,30" : "60,17", std::string(m.name).c_str(),
                  project.c_str(), static_cast<int>(region1.size()), static_cast<int>(region2_start),
                  static_cast<int>(p), checksum2(), m.width - 1, static_cast<int>(blocks), m.width - 1,
                  static_cast<int>(blocks));
    std::string file = header;
    int record = 1;
    auto records = [&](const std::vector<std::uint8_t>& bytes, char region, long address) {
      std::size_t at = 0;
      while (at < bytes.size()) {
        long length = std::min<long>(static_cast<long>(bytes.size() - at), block - address % 256);
        const char head[15] = {27, 'B', 'A', 1, static_cast<char>(record & 255), 27, '&', region,
                               static_cast<char>(address), static_cast<char>(address >> 8),
                               static_cast<char>(address >> 16), static_cast<char>(length),
                               static_cast<char>(length >> 8), static_cast<char>(length >> 16), 'W'};
        file.append(head, 15);
        file.append(reinterpret_cast<const char*>(bytes.data() + at), static_cast<std::size_t>(length));
        at += static_cast<std::size_t>(length);
        address += length;
        ++record;
      }
    };
    records(region1, 'D', 0);
    records(region2, 'X', region2_start);
    const char trailer[13] = {27, 'X', 2, 27, '&', 'D', 0, 0, 0, 0, 0, 0, 'J'};
    file.append(trailer, 13);
    return file;
  }
};

// An image of pseudo-random bytes (a fixed sequence, so runs repeat).
inline UploadImage random_image(long region1_length, long region2_length, int model = link::model_vexag6,
                                unsigned seed = 1) {
  UploadImage u;
  u.model = model;
  u.region2_start = link::is_large_model(model) ? 16384 : 32768;
  std::uint32_t x = seed * 2654435761u + 1;
  auto next = [&]() {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return static_cast<std::uint8_t>(x);
  };
  u.region1.resize(static_cast<std::size_t>(region1_length));
  u.region2.resize(static_cast<std::size_t>(region2_length));
  for (auto& b : u.region1) b = next();
  for (auto& b : u.region2) b = next();
  u.seal();
  return u;
}

}  // namespace vexa::test
