// Programming speed: a 1 MB image is programmed into the module simulator,
// which takes the byte time of the line rate in force for every byte, once
// in plain mode and once with the Duzedadoridido. Reported is the payload
// rate (image bytes per second while the writes arrive) as a fraction of
// the line's byte rate (baud / 10); any waiting beyond what the protocol
// needs shows as a fraction well below 1.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/models.h"
#include "base/output.h"
#include "link/link_state.h"
#include "link/program.h"
#include "link/upload_file.h"

extern char** environ;

namespace {

using namespace vexa;

// The simulator's clock: the monotonic clock in nanoseconds.
long long now_ns() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

struct Simulator {
  pid_t pid = -1;
  int control = -1;
  std::string device;
  std::string status_file;

  bool start(std::vector<std::string> args, const std::string& status) {
    status_file = status;
    args.insert(args.begin(), std::string(VEXASIM_PATH));
    args.insert(args.end(), {"--status", status});
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return false;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    control = in[1];
    if (rc != 0) return false;
    char line[256];
    std::size_t got = 0;
    pollfd p{out[0], POLLIN, 0};
    while (got < sizeof line - 1 && ::poll(&p, 1, 10000) > 0) {
      ssize_t n = ::read(out[0], line + got, sizeof line - 1 - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
      if (std::string(line, got).find('\n') != std::string::npos) break;
    }
    ::close(out[0]);
    std::string text(line, got);
    if (text.find('\n') == std::string::npos) return false;
    device = text.substr(0, text.find('\n'));
    return true;
  }

  std::map<std::string, long long> finish() {
    ::close(control);
    int status;
    ::waitpid(pid, &status, 0);
    std::map<std::string, long long> values;
    std::ifstream in(status_file);
    std::string key;
    long long value;
    while (in >> key >> value) values[key] = value;
    return values;
  }
};

struct Case {
  const char* title;
  std::vector<std::string> sim_args;
  int baud;          // requested rate, 0: the one found
  int packet_bytes;  // data bytes per packet, 0 in plain mode
};

int run_case(const Case& c, const std::string& file, const std::string& dir, long payload) {
  Simulator sim;
  if (!sim.start(c.sim_args, dir + "/status")) {
    std::fprintf(stderr, "bench_link: cannot start %s\n", VEXASIM_PATH);
    return 1;
  }
  base::Output out;
  std::string console = dir + "/console";
  out.console = std::fopen(console.c_str(), "wb");
  link::LinkSettings settings;
  settings.upload_file = file;
  settings.com_device = sim.device;
  settings.baud = c.baud;
  settings.check_write_protect = 1;
  link::LinkState link;
  long long start = now_ns();
  int result = link::program_module(settings, link, out);
  long long end = now_ns();
  std::fclose(out.console);
  out.console = nullptr;
  std::map<std::string, long long> st = sim.finish();
  if (result != 1) {
    std::fprintf(stderr, "bench_link: %s: programming failed, see %s\n", c.title, console.c_str());
    return 1;
  }
  double transfer = static_cast<double>(st["last_write_ns"] - st["first_write_ns"]) / 1e9;
  // In plain mode the compiler is done when the last bytes are in the
  // line's buffer; the run ends for the module when it has stored them.
  double seconds = static_cast<double>(std::max(end, st["last_write_ns"]) - start) / 1e9;
  double line_bytes = static_cast<double>(st["rate"]) / 10.0;
  double bytes_per_second = static_cast<double>(payload) / transfer;
  std::printf("%s: %ld bytes at %lld baud\n", c.title, payload, st["rate"]);
  std::printf("  transfer %.2f s, %.0f bytes/s = %.3f of baud/10\n", transfer, bytes_per_second,
              bytes_per_second / line_bytes);
  if (c.packet_bytes > 0) {
    // What each packet costs beyond its bytes on the line (and its ACK):
    // the turnaround of the compiler, the simulator and the pseudo-terminal.
    double packets = static_cast<double>(payload) / c.packet_bytes;
    double line_time = packets * (c.packet_bytes + 4) / line_bytes;
    std::printf("  turnaround per packet %.0f us\n", (transfer - line_time) / packets * 1e6);
  }
  std::printf("  whole run %.2f s (identification, rate switch, protection test), %.0f bytes/s = %.3f\n", seconds,
              static_cast<double>(payload) / seconds, static_cast<double>(payload) / seconds / line_bytes);
  return 0;
}

}  // namespace

// Arguments: "plain" or "framed" to run one case only.
int main(int argc, char** argv) {
  std::string only = argc > 1 ? argv[1] : "";
  char pattern[] = "/tmp/bench-link-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  std::string dir = pattern;
  // 1 MB payload for a VexaG6: a full region 1 and the rest in region 2,
  // which follows it directly.
  const long payload = 1048576;
  const link::FlashRegions regions{32768, 32768, payload - 32768};
  std::vector<std::uint8_t> image(static_cast<std::size_t>(regions.image_bytes()));
  std::uint32_t x = 12345;
  for (auto& b : image) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  std::string file = dir + "/bench.DF";
  {
    std::ofstream out(file, std::ios::binary);
    std::string bytes = link::upload_file_bytes(
        {image, regions, base::model_vexag6, "BENCH.DF", link::regions_checksum(image, regions, 0)});
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  // Plain mode cannot go above 57600: the module found at 115200 is switched
  // down to it, and that is the rate the fraction is taken of.
  const Case cases[] = {
      {"plain, module at 115200", {"--rate", "115200", "--flash-kb", "2048", "--throttle"}, 0, 0},
      {"Duzedadoridido, 460800", {"--framed", "--rate", "230400", "--flash-kb", "2048", "--throttle"}, 460800, 255},
  };
  int failures = 0;
  for (const Case& c : cases) {
    bool framed = c.packet_bytes > 0;
    if (only.empty() || only == (framed ? "framed" : "plain")) failures += run_case(c, file, dir, payload);
  }
  std::remove((dir + "/bench.DF").c_str());
  std::remove((dir + "/status").c_str());
  std::remove((dir + "/console").c_str());
  ::rmdir(dir.c_str());
  return failures == 0 ? 0 : 1;
}
