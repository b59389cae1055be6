// vexasim: a display module at the far end of a pseudo-terminal, for trying
// the programming of a module without having one, and for the link tests
// and benchmarks.
//
// It opens a pseudo-terminal pair, prints the path of the terminal side on
// standard output and then plays the module (module.h) on the other side
// until its standard input ends or it is interrupted (SIGINT, SIGTERM,
// SIGHUP). It then takes in what is still on the line and writes the result
// files the options name. Exit code 0; 1 when a result file could not be
// written; 2 for a wrong command line or when no pseudo-terminal is to be had.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "module.h"
#include "options.h"

namespace {

using namespace vexa::sim;

// Set by the signals that end the run; the main loop then ends as if
// standard input had.
volatile std::sig_atomic_t end_requested = 0;

void request_end(int) { end_requested = 1; }

void sleep_until_ns(std::uint64_t t) {
  timespec ts{static_cast<time_t>(t / 1000000000u), static_cast<long>(t % 1000000000u)};
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

long rate_of_speed(speed_t s) {
  switch (s) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
#ifdef B460800
    case B460800: return 460800;
#endif
    default: return 0;
  }
}

// The module's end of the line: the master side of a pseudo-terminal. The
// terminal side is held open as well, so that the line stays up between the
// compiler's opens and closes of it.
struct Line {
  int master = -1;
  int slave = -1;
  std::string path;  // of the terminal side
  // Line timing, when the module takes the byte time of its rate
  bool throttle = false;
  std::uint64_t arrival = 0;   // when the last byte received has come in whole
  std::uint64_t tx_clock = 0;  // when the last byte sent has gone out
};

bool open_line(Line& line) {
  line.master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (line.master < 0 || ::grantpt(line.master) != 0 || ::unlockpt(line.master) != 0) return false;
  const char* name = ::ptsname(line.master);
  if (name == nullptr) return false;
  line.path = name;
  line.slave = ::open(line.path.c_str(), O_RDWR | O_NOCTTY);
  if (line.slave < 0) return false;
  // Raw until the compiler sets the line up itself: no echo of the
  // module's answers back to it, no line editing of its bytes.
  termios t;
  if (::tcgetattr(line.slave, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(line.slave, TCSANOW, &t);
  }
  return ::fcntl(line.master, F_SETFL, ::fcntl(line.master, F_GETFL) | O_NONBLOCK) == 0;
}

void close_line(Line& line) {
  if (line.master >= 0) ::close(line.master);
  if (line.slave >= 0) ::close(line.slave);
  line.master = line.slave = -1;
}

// The rate the other side's port is set to: the master of a pseudo-terminal
// reads the settings of its terminal side.
long peer_rate(const Line& line) {
  termios t;
  if (::tcgetattr(line.master, &t) != 0) return 0;
  return rate_of_speed(::cfgetospeed(&t));
}

std::uint64_t byte_ns(long rate) { return 10000000000ull / static_cast<std::uint64_t>(std::max(1L, rate)); }

// Sends what the module has to send, after the time it takes at the
// module's rate when the line is throttled. Bytes that nobody takes within
// two seconds are lost, as on a real line.
void send_outbox(Line& line, Module& module) {
  std::vector<std::uint8_t> bytes;
  bytes.swap(module.outbox);
  if (line.master < 0 || bytes.empty()) return;
  if (line.throttle) {
    line.tx_clock = std::max({line.tx_clock, line.arrival, now_ns()}) + bytes.size() * byte_ns(module.rate);
    sleep_until_ns(line.tx_clock);
  }
  std::size_t done = 0;
  std::uint64_t give_up = now_ns() + 2000000000ull;
  while (done < bytes.size()) {
    ssize_t n = ::write(line.master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if ((n < 0 && errno != EAGAIN) || now_ns() > give_up) break;
    pollfd p{line.master, POLLOUT, 0};
    ::poll(&p, 1, 10);
  }
  module.counters.tx += static_cast<long>(done);
}

// Takes what the line holds and hands it to the module byte by byte.
void take_input(Line& line, Module& module, std::FILE* trace) {
  std::uint8_t chunk[4096];
  ssize_t n = ::read(line.master, chunk, sizeof chunk);
  if (n <= 0) {
    // Nothing after all, or a passing error of the terminal: do not spin.
    ::poll(nullptr, 0, 5);
    return;
  }
  if (trace != nullptr) std::fwrite(chunk, 1, static_cast<std::size_t>(n), trace);
  // Bytes sent at another rate arrive as garbage; a module cannot tell them
  // from noise, so they are lost.
  if (!module.options.any_rate && peer_rate(line) != module.rate) {
    module.counters.garbled += n;
    return;
  }
  std::uint64_t start = now_ns();
  for (ssize_t i = 0; i < n && !module.deaf(); ++i) {
    if (line.throttle) line.arrival = std::max(line.arrival, start) + byte_ns(module.rate);
    module.receive(chunk[i]);
    send_outbox(line, module);
  }
  if (module.unplugged) close_line(line);
  if (line.throttle) sleep_until_ns(line.arrival);
}

// Makes the signals that end the run set end_requested. They are blocked
// but while waiting (`waiting` is the signal mask for that), so that no wait
// elsewhere is cut short and none is missed between a check and the wait.
void catch_ending_signals(sigset_t& waiting) {
  sigset_t ending;
  sigemptyset(&ending);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, s);
  sigprocmask(SIG_BLOCK, &ending, &waiting);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&waiting, s);
  struct sigaction action {};
  action.sa_handler = request_end;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
}

// Plays the module until standard input ends or a signal asks to end.
void serve(Line& line, Module& module, std::FILE* trace, const sigset_t& waiting) {
  while (end_requested == 0) {
    pollfd fds[2] = {{0, POLLIN, 0}, {line.master, POLLIN, 0}};
    nfds_t count = module.deaf() ? 1 : 2;
    const int gap = module.options.gap_ms;
    timespec gap_time{gap / 1000, (gap % 1000) * 1000000L};
    bool packet_open = module.options.framed && module.in_packet();
    int r = ::ppoll(fds, count, packet_open ? &gap_time : nullptr, &waiting);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (r == 0) {
      module.packet_gap();
      continue;
    }
    if (fds[0].revents != 0) {
      char ignored[256];
      ssize_t n = ::read(0, ignored, sizeof ignored);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
    }
    if (count == 2 && fds[1].revents != 0) take_input(line, module, trace);
  }
  // The run is over, but bytes the compiler wrote before it closed the port
  // may still wait in the line: a module would get them.
  pollfd p{line.master, POLLIN, 0};
  while (!module.deaf() && line.master >= 0 && ::poll(&p, 1, 100) > 0 && (p.revents & POLLIN) != 0)
    take_input(line, module, trace);
}

bool write_results(const Options& o, const Module& module) {
  bool ok = true;
  auto write = [&](const std::string& name, const std::string& mode, auto&& fill) {
    if (name.empty()) return;
    std::FILE* f = std::fopen(name.c_str(), mode.c_str());
    bool written = f != nullptr && fill(f);
    if (f != nullptr && std::fclose(f) != 0) written = false;
    if (!written) {
      std::fprintf(stderr, "vexasim: cannot write %s\n", name.c_str());
      ok = false;
    }
  };
  write(o.dump, "wb", [&](std::FILE* f) {
    return std::fwrite(module.flash.data(), 1, module.flash.size(), f) == module.flash.size();
  });
  const Counters& c = module.counters;
  write(o.status, "w", [&](std::FILE* f) {
    return std::fprintf(f,
                        "rx %ld\ntx %ld\nops %ld\nacks %ld\nanswers %ld\nwrites %ld\ndata_packets %ld\nreads %ld\n"
                        "garbled %ld\nnaks %ld\nfired %ld\nends %ld\nrate %ld\nwritten_bytes %ld\n"
                        "first_write_ns %llu\nlast_write_ns %llu\n",
                        c.rx, c.tx, c.ops, c.acks, c.answers, c.writes, c.data_packets, c.reads, c.garbled, c.naks,
                        c.fired, c.ends, module.rate, c.written_bytes,
                        static_cast<unsigned long long>(c.first_write_ns),
                        static_cast<unsigned long long>(c.last_write_ns)) > 0;
  });
  return ok;
}

std::FILE* open_or_complain(const std::string& name, const char* mode) {
  if (name.empty()) return nullptr;
  std::FILE* f = std::fopen(name.c_str(), mode);
  if (f == nullptr) std::fprintf(stderr, "vexasim: cannot write %s\n", name.c_str());
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  // A test or script that stops reading our output must not end us.
  std::signal(SIGPIPE, SIG_IGN);
  Options options;
  std::string message;
  switch (parse_options(argc, argv, options, message)) {
    case ParseResult::help:
      std::fputs(usage_text, stdout);
      return 0;
    case ParseResult::error:
      std::fprintf(stderr, "vexasim: %s (vexasim --help lists the options)\n", message.c_str());
      return 2;
    case ParseResult::run:
      break;
  }
#ifdef __linux__
  // Sleeps end when asked, not up to 50 us later: the throttle measures.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
#endif
  Module module(options);
  std::FILE* trace = open_or_complain(options.trace, "wb");
  module.log = open_or_complain(options.log, "w");
  if ((!options.trace.empty() && trace == nullptr) || (!options.log.empty() && module.log == nullptr)) return 1;
  // Caught before the terminal is named: whoever reads the name may signal at once.
  sigset_t waiting;
  catch_ending_signals(waiting);
  Line line;
  line.throttle = options.throttle;
  if (!open_line(line)) {
    std::perror("vexasim: no pseudo-terminal");
    return 2;
  }
  std::printf("%s\n", line.path.c_str());
  std::fflush(stdout);
  if (::isatty(0))
    std::fprintf(stderr, "vexasim: module %dx%d on %s, %s, %ld baud, %ld kB flash; Ctrl-D or Ctrl-C ends\n", options.width,
                 options.height, line.path.c_str(), options.framed ? "Duzedadoridido" : "plain", options.rate,
                 options.flash_kb);

  serve(line, module, trace, waiting);
  close_line(line);
  if (trace != nullptr) std::fclose(trace);
  if (module.log != nullptr) std::fclose(module.log);
  return write_results(options, module) ? 0 : 1;
}
