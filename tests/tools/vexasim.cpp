// vexasim: a display module at the far end of a pseudo-terminal, for the
// link tests and the benchmark.
//
// It opens a pseudo-terminal pair, prints the path of the terminal side on
// standard output and then behaves as a module: it answers the
// identification probe in plain or Duzedadoridido mode, reports its flash
// size, stores what the write commands send and returns it to the read
// commands, follows the baud change command, and can be write-protected. On
// request it injects faults and sleeps the byte time of the rate in force.
// It runs until its standard input is closed, takes in what is still on the
// line, then writes its flash and its counters to the files named by --dump
// and --status.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "link/models.h"

namespace {

constexpr std::uint8_t esc = 27;
constexpr std::uint8_t dc1 = 17;
constexpr std::uint8_t dc2 = 18;
constexpr std::uint8_t ack = 6;
constexpr std::uint8_t nak = 21;

const char* const help_text =
    "usage: vexasim [options]\n"
    "A display module on a pseudo-terminal. Prints the terminal's path, then\n"
    "answers on it until standard input is closed.\n"
    "\n"
    "module:\n"
    "  --model NAME|ROW       answer as this model (default VexaG6)\n"
    "  --geometry W,H,T,C,S   custom module: width, height, type letter,\n"
    "                         colours, series letter (e.g. 320,240,H,2,A)\n"
    "  --swapped              mounted the other way: height and width swapped\n"
    "  --answer short|long    form of the identification answer (default: the\n"
    "                         short one when it can express the module)\n"
    "  --framed               speak Duzedadoridido (default: plain)\n"
    "  --rate BAUD            line rate at start (default 115200)\n"
    "  --flash-kb N           DATA-FLASH size in kB (default 1024)\n"
    "  --no-size              do not answer the flash size query\n"
    "  --write-protected      writes do not change the flash\n"
    "  --address N            RS-485 address; packets count only once selected\n"
    "  --throttle             take the byte time of the rate for every byte\n"
    "  --any-rate             accept bytes whatever rate the other side uses\n"
    "                         (otherwise bytes sent at another rate are lost)\n"
    "  --gap-ms N             a packet silent this long is dropped (default 20)\n"
    "\n"
    "faults (N counts from 1; may be given several times):\n"
    "  --fault drop-byte:N    the Nth byte received is lost\n"
    "  --fault corrupt-byte:N the Nth byte received is changed\n"
    "  --fault drop:N         the last byte of the Nth operation is lost\n"
    "  --fault corrupt:N      the last byte of the Nth operation is changed\n"
    "                         (operation: a packet in Duzedadoridido mode, an\n"
    "                         ESC command in plain mode)\n"
    "  --fault noack:N        the Nth ACK is not sent\n"
    "  --fault bad-answer:N   the Nth answer goes out with its last byte changed\n"
    "  --fault lose-answer:N  the Nth answer is not sent\n"
    "  --fault error:N        answer E after the Nth chunk: the Nth write\n"
    "                         command (plain) is not stored and answered with E;\n"
    "                         the Nth DC1 packet (framed) is refused with E\n"
    "  --fault stop:N         from the Nth operation on, answer nothing\n"
    "  --fault stop-write:N   from the Nth write command on, answer nothing\n"
    "  --fault hang:N         from the Nth operation on, read nothing\n"
    "  --fault unplug:N       at the Nth operation, close the line\n"
    "\n"
    "output:\n"
    "  --dump FILE            write the flash to FILE at the end\n"
    "  --status FILE          write the counters to FILE at the end\n"
    "  --log FILE             one line per command or packet handled\n"
    "  --trace FILE           every byte received, as it came\n";

enum class FaultKind {
  drop_byte, corrupt_byte, drop, corrupt, noack, bad_answer, lose_answer, error, stop, stop_write, hang, unplug
};

struct Fault {
  FaultKind kind;
  long n;
  bool fired = false;
};

struct Options {
  int width = 480, height = 272, type = 'H', colours = 65536, series = 'A';
  bool swapped = false;
  int answer_form = 0;  // 0: automatic, 3: short, 9: long
  bool framed = false;
  long rate = 115200;
  long flash_kb = 1024;
  bool size_answer = true;
  bool write_protected = false;
  int address = -1;
  bool throttle = false;
  bool any_rate = false;
  int gap_ms = 20;
  std::string dump, status, log, trace;
  std::vector<Fault> faults;
};

std::uint64_t now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

void sleep_until_ns(std::uint64_t t) {
  timespec ts{static_cast<time_t>(t / 1000000000u), static_cast<long>(t % 1000000000u)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
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
    case B460800: return 460800;
    default: return 0;
  }
}

struct Simulator {
  Options opt;
  int master = -1;
  int slave = -1;  // held open so that the line stays up between the compiler's opens
  long rate = 0;
  std::vector<std::uint8_t> flash;
  bool selected = false;

  // Command interpreter (plain bytes, or the data of DC1 packets)
  enum CommandState { idle, escape, flash_head, write_data, baud, bar_letter, bar_values, mode_letter, mode_value };
  CommandState state = idle;
  std::uint8_t head[8] = {};
  int got = 0;
  long write_address = 0;
  long remaining = 0;
  bool write_refused = false;

  // Packet receiver
  enum PacketState { p_idle, p_length, p_data, p_sum };
  PacketState pstate = p_idle;
  int ptype = 0, plen = 0, pgot = 0;
  std::uint8_t pdata[255] = {};
  std::deque<std::uint8_t> send_buffer;
  std::vector<std::uint8_t> last_packet;

  // Counters
  long rx = 0, tx = 0, ops = 0, acks = 0, answers = 0, writes = 0, data_packets = 0;
  long garbled = 0, fired = 0, ends = 0, naks = 0, reads = 0;
  long written_bytes = 0;
  std::uint64_t first_write_ns = 0, last_write_ns = 0;  // first write command begun, last one done
  bool stopped = false, hung = false, unplugged = false;

  // Line timing (throttle)
  std::uint64_t arrival = 0;
  std::uint64_t tx_clock = 0;

  std::FILE* log = nullptr;
  std::FILE* trace = nullptr;

  std::uint64_t byte_ns() const { return 10000000000ull / static_cast<std::uint64_t>(std::max(1L, rate)); }

  void note(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (log == nullptr) return;
    va_list args;
    va_start(args, fmt);
    std::vfprintf(log, fmt, args);
    va_end(args);
    std::fputc('\n', log);
    std::fflush(log);
  }

  bool take_fault(FaultKind kind, long count) {
    for (Fault& f : opt.faults) {
      if (f.kind == kind && !f.fired && f.n == count) {
        f.fired = true;
        ++fired;
        return true;
      }
    }
    return false;
  }

  // Bytes to the line, after the time they take at the module's rate.
  void line_write(std::vector<std::uint8_t> bytes) {
    if (unplugged || bytes.empty()) return;
    if (opt.throttle) {
      tx_clock = std::max({tx_clock, arrival, now_ns()}) + bytes.size() * byte_ns();
      sleep_until_ns(tx_clock);
    }
    std::size_t done = 0;
    std::uint64_t give_up = now_ns() + 2000000000ull;
    while (done < bytes.size()) {
      ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) break;
      if (now_ns() > give_up) break;  // nobody reads: the bytes are lost
      pollfd p{master, POLLOUT, 0};
      ::poll(&p, 1, 10);
    }
    tx += static_cast<long>(done);
  }

  void send_ack() {
    ++acks;
    if (take_fault(FaultKind::noack, acks)) {
      note("ack %ld withheld", acks);
      return;
    }
    line_write({ack});
  }

  // An answer of the module: straight to the line in plain mode, into the
  // send buffer in Duzedadoridido mode.
  void answer(std::vector<std::uint8_t> bytes) {
    if (opt.framed) {
      send_buffer.insert(send_buffer.end(), bytes.begin(), bytes.end());
      return;
    }
    ++answers;
    if (take_fault(FaultKind::lose_answer, answers)) return;
    if (take_fault(FaultKind::bad_answer, answers) && !bytes.empty()) bytes.back() ^= 0x5A;
    line_write(std::move(bytes));
  }

  void send_answer_packet(std::vector<std::uint8_t> packet) {
    ++answers;
    if (take_fault(FaultKind::lose_answer, answers)) {
      note("answer %ld lost", answers);
      return;
    }
    if (take_fault(FaultKind::bad_answer, answers)) packet.back() ^= 0x5A;
    line_write(std::move(packet));
  }

  static std::vector<std::uint8_t> packet(std::uint8_t type, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> p(data.size() + 3);
    p[0] = type;
    p[1] = static_cast<std::uint8_t>(data.size());
    unsigned sum = p[0] + p[1];
    for (std::size_t i = 0; i < data.size(); ++i) {
      p[i + 2] = data[i];
      sum += data[i];
    }
    p[data.size() + 2] = static_cast<std::uint8_t>(sum);
    return p;
  }

  std::vector<std::uint8_t> identification() const {
    int w = opt.swapped ? opt.height : opt.width;
    int h = opt.swapped ? opt.width : opt.height;
    bool short_width = (w <= 255 && w % 2 == 0) || (w > 255 && w - 255 <= 255 && (w - 255) % 2 == 1);
    int form = opt.answer_form;
    if (form == 0) form = (opt.colours == 2 && opt.series == 'A' && h <= 255 && short_width) ? 3 : 9;
    if (form == 3)
      return {static_cast<std::uint8_t>(w <= 255 ? w : w - 255), static_cast<std::uint8_t>(h),
              static_cast<std::uint8_t>(opt.type)};
    int exponent = 0;
    while ((1L << exponent) < opt.colours && exponent < 62) ++exponent;
    return {255,
            255,
            static_cast<std::uint8_t>(opt.type),
            static_cast<std::uint8_t>(w),
            static_cast<std::uint8_t>(w >> 8),
            static_cast<std::uint8_t>(h),
            static_cast<std::uint8_t>(h >> 8),
            static_cast<std::uint8_t>(exponent),
            static_cast<std::uint8_t>(opt.series)};
  }

  static long u24(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<long>(p[2]) << 16); }

  void finish_write() {
    last_write_ns = now_ns();
    note("write %c %ld %ld", head[0], u24(head + 1), u24(head + 4));
    if (write_refused) {
      note("E after write %ld", writes);
      answer({'E'});
    }
    state = idle;
  }

  // Does byte b end the command being received?
  bool completes_command(std::uint8_t b) const {
    switch (state) {
      case idle: return false;
      case escape: return b != '&' && b != '+' && b != 'B' && b != 'M';
      case flash_head: return got == 7 && (b != 'W' || u24(head + 4) == 0);
      case write_data: return remaining == 1;
      case baud: return true;
      case bar_letter: return b != 'A';
      case bar_values: return got == 1;
      case mode_letter: return b != 'S';
      case mode_value: return true;
    }
    return false;
  }

  void command_byte(std::uint8_t b) {
    switch (state) {
      case idle:
        if (b == esc) state = escape;
        return;  // anything else is text for the display
      case escape:
        state = idle;
        if (b == '?') {
          note("probe");
          answer(identification());
        } else if (b == '&') {
          state = flash_head;
          got = 0;
        } else if (b == '+') {
          state = baud;
        } else if (b == 'B') {
          state = bar_letter;
        } else if (b == 'M') {
          state = mode_letter;
        }
        return;
      case flash_head: {
        head[got++] = b;
        if (got < 8) return;
        state = idle;
        long address = u24(head + 1);
        long count = u24(head + 4);
        if (head[7] == 'W') {
          ++writes;
          if (first_write_ns == 0) first_write_ns = now_ns();
          if (take_fault(FaultKind::stop_write, writes)) {
            note("stop at write %ld", writes);
            stopped = true;
          }
          write_refused = !opt.framed && take_fault(FaultKind::error, writes);
          write_address = address;
          remaining = count;
          if (count == 0)
            finish_write();
          else
            state = write_data;
        } else if (head[7] == 'R') {
          if (address == 0 && count == 0) {
            note("size");
            if (opt.size_answer) answer({static_cast<std::uint8_t>(opt.flash_kb), static_cast<std::uint8_t>(opt.flash_kb >> 8)});
          } else {
            ++reads;
            note("read %ld %ld", address, count);
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count), 255);
            for (long i = 0; i < count; ++i)
              if (address + i < static_cast<long>(flash.size())) bytes[static_cast<std::size_t>(i)] = flash[static_cast<std::size_t>(address + i)];
            answer(std::move(bytes));
          }
        } else if (head[7] == 'J') {
          ++ends;
          note("end of upload");
        }
        return;
      }
      case write_data:
        if (!write_refused && !opt.write_protected && write_address < static_cast<long>(flash.size()))
          flash[static_cast<std::size_t>(write_address)] = b;
        ++write_address;
        ++written_bytes;
        if (--remaining == 0) finish_write();
        return;
      case baud:
        state = idle;
        if (b < ::vexa::link::baud_rates.size()) {
          rate = ::vexa::link::baud_rates[b];
          note("baud %d", b);
        }
        return;
      case bar_letter:
        state = b == 'A' ? bar_values : idle;
        got = 0;
        return;
      case bar_values:
        head[got++] = b;
        if (got == 2) {
          note("bar %d %d", head[0], head[1]);
          state = idle;
        }
        return;
      case mode_letter:
        state = b == 'S' ? mode_value : idle;
        return;
      case mode_value:
        note("mode %d", b);
        state = idle;
        return;
    }
  }

  // Checks the faults that act when operation number `ops` begins.
  void begin_operation() {
    ++ops;
    if (take_fault(FaultKind::stop, ops)) {
      note("stop at %ld", ops);
      stopped = true;
    }
    if (take_fault(FaultKind::hang, ops)) {
      note("hang at %ld", ops);
      hung = true;
    }
    if (take_fault(FaultKind::unplug, ops)) {
      note("unplug at %ld", ops);
      unplugged = true;
      ::close(master);
      ::close(slave);
      master = slave = -1;
    }
  }

  void plain_byte(std::uint8_t b) {
    if (state == idle && b == esc) {
      begin_operation();
      if (stopped || hung || unplugged) return;
    }
    if (completes_command(b)) {
      if (take_fault(FaultKind::drop, ops)) {
        note("dropped last byte of %ld", ops);
        return;
      }
      if (take_fault(FaultKind::corrupt, ops)) {
        note("changed last byte of %ld", ops);
        b ^= 0x5A;
      }
    }
    command_byte(b);
  }

  void handle_packet() {
    bool selection = ptype == dc2 && plen == 3 && pdata[0] == 'A' && pdata[1] == 'S';
    if (opt.address >= 0 && !selected && !selection) {
      note("packet ignored: not selected");
      return;
    }
    if (ptype == dc1) {
      ++data_packets;
      note("dc1 %d", plen);
      if (take_fault(FaultKind::error, data_packets)) {
        note("E for packet %ld", data_packets);
        line_write({'E'});
        return;
      }
      send_ack();
      for (int i = 0; i < plen; ++i) command_byte(pdata[i]);
      return;
    }
    int c = plen > 0 ? pdata[0] : 0;
    if (c == 'S' && plen == 1) {
      note("dc2 S");
      send_ack();
      std::vector<std::uint8_t> data;
      while (!send_buffer.empty() && data.size() < 255) {
        data.push_back(send_buffer.front());
        send_buffer.pop_front();
      }
      last_packet = packet(dc1, data);
      send_answer_packet(last_packet);
    } else if (c == 'R' && plen == 1) {
      note("dc2 R");
      send_ack();
      if (last_packet.empty()) last_packet = packet(dc1, {});
      send_answer_packet(last_packet);
    } else if (c == 'C' && plen == 2 && pdata[1] == 255) {
      note("dc2 C");
      send_ack();
    } else if (selection) {
      note("dc2 A %d", pdata[2]);
      selected = opt.address < 0 || pdata[2] == opt.address;
      if (selected) send_ack();
    } else if (c == 'D' && plen == 3 && pdata[1] == 128 && pdata[2] == 10) {
      note("dc2 D");
      send_ack();
    } else {
      note("dc2 unknown");
      line_write({nak});
    }
  }

  void packet_byte(std::uint8_t b) {
    if (pstate == p_idle) {
      if (b != dc1 && b != dc2) return;  // not the start of a packet
      begin_operation();
      if (stopped || hung || unplugged) return;
    }
    if (pstate == p_sum) {
      if (take_fault(FaultKind::drop, ops)) {
        note("dropped last byte of %ld", ops);
        return;
      }
      if (take_fault(FaultKind::corrupt, ops)) {
        note("changed last byte of %ld", ops);
        b ^= 0x5A;
      }
    }
    switch (pstate) {
      case p_idle:
        ptype = b;
        pstate = p_length;
        return;
      case p_length:
        plen = b;
        pgot = 0;
        pstate = plen > 0 ? p_data : p_sum;
        return;
      case p_data:
        pdata[pgot++] = b;
        if (pgot == plen) pstate = p_sum;
        return;
      case p_sum: {
        pstate = p_idle;
        unsigned sum = static_cast<unsigned>(ptype + plen);
        for (int i = 0; i < plen; ++i) sum += pdata[i];
        if ((sum & 255u) != b) {
          ++naks;
          note("checksum error");
          if (opt.address < 0 || selected) line_write({nak});
          return;
        }
        handle_packet();
        return;
      }
    }
  }

  void receive(std::uint8_t b) {
    ++rx;
    if (take_fault(FaultKind::drop_byte, rx)) return;
    if (take_fault(FaultKind::corrupt_byte, rx)) b ^= 0x5A;
    if (stopped || hung || unplugged) return;
    if (opt.framed)
      packet_byte(b);
    else
      plain_byte(b);
  }

  // The rate the other side's port is set to: a pseudo-terminal's master
  // reads the settings of its terminal side.
  long peer_rate() const {
    termios t;
    if (tcgetattr(master, &t) != 0) return 0;
    return rate_of_speed(cfgetospeed(&t));
  }

  void on_input() {
    std::uint8_t chunk[4096];
    ssize_t n = ::read(master, chunk, sizeof chunk);
    if (n <= 0) {
      ::poll(nullptr, 0, 5);
      return;
    }
    if (trace != nullptr) std::fwrite(chunk, 1, static_cast<std::size_t>(n), trace);
    // Bytes sent at another rate arrive as garbage; a module cannot tell
    // them from noise, so they are lost.
    if (!opt.any_rate && peer_rate() != rate) {
      garbled += n;
      return;
    }
    std::uint64_t start = now_ns();
    for (ssize_t i = 0; i < n && !hung && !unplugged; ++i) {
      if (opt.throttle) arrival = std::max(arrival, start) + byte_ns();
      receive(chunk[i]);
    }
    if (opt.throttle) sleep_until_ns(arrival);
  }

  int run() {
    // Sleeps end when asked, not up to 50 us later: the throttle measures.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
      std::perror("vexasim: pseudo-terminal");
      return 2;
    }
    const char* name = ptsname(master);
    if (name == nullptr) return 2;
    std::string path = name;
    slave = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) return 2;
    termios t;
    if (tcgetattr(slave, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(slave, TCSANOW, &t);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    rate = opt.rate;
    flash.assign(static_cast<std::size_t>(opt.flash_kb) * 1024u, 255);
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    for (;;) {
      pollfd fds[2] = {{0, POLLIN, 0}, {master, POLLIN, 0}};
      nfds_t count = (hung || unplugged) ? 1 : 2;
      int timeout = (opt.framed && pstate != p_idle) ? opt.gap_ms : -1;
      int r = ::poll(fds, count, timeout);
      if (r < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (r == 0) {
        note("packet dropped after a gap");
        pstate = p_idle;
        continue;
      }
      if (fds[0].revents != 0) {
        char buffer[256];
        ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n <= 0) {
          // The run is over, but bytes the compiler wrote before it closed
          // the port may still wait in the line: a module would get them.
          pollfd line{master, POLLIN, 0};
          while (!hung && !unplugged && ::poll(&line, 1, 100) > 0 && (line.revents & POLLIN)) on_input();
          break;
        }
      }
      if (count == 2 && fds[1].revents != 0) on_input();
    }
    finish();
    return 0;
  }

  void finish() {
    if (!opt.dump.empty()) {
      if (std::FILE* f = std::fopen(opt.dump.c_str(), "wb")) {
        std::fwrite(flash.data(), 1, flash.size(), f);
        std::fclose(f);
      }
    }
    if (!opt.status.empty()) {
      if (std::FILE* f = std::fopen(opt.status.c_str(), "w")) {
        std::fprintf(f,
                     "rx %ld\ntx %ld\nops %ld\nacks %ld\nanswers %ld\nwrites %ld\ndata_packets %ld\nreads %ld\n"
                     "garbled %ld\nnaks %ld\nfired %ld\nends %ld\nrate %ld\nwritten_bytes %ld\n"
                     "first_write_ns %llu\nlast_write_ns %llu\n",
                     rx, tx, ops, acks, answers, writes, data_packets, reads, garbled, naks, fired, ends, rate,
                     written_bytes, static_cast<unsigned long long>(first_write_ns),
                     static_cast<unsigned long long>(last_write_ns));
        std::fclose(f);
      }
    }
    if (log != nullptr) std::fclose(log);
    if (trace != nullptr) std::fclose(trace);
  }
};

bool parse_fault(const std::string& text, Fault& fault) {
  static const struct {
    const char* name;
    FaultKind kind;
  } kinds[] = {{"drop-byte", FaultKind::drop_byte}, {"corrupt-byte", FaultKind::corrupt_byte},
               {"drop", FaultKind::drop},           {"corrupt", FaultKind::corrupt},
               {"noack", FaultKind::noack},         {"bad-answer", FaultKind::bad_answer},
               {"lose-answer", FaultKind::lose_answer},
               {"error", FaultKind::error},         {"stop", FaultKind::stop},
               {"stop-write", FaultKind::stop_write},
               {"hang", FaultKind::hang},           {"unplug", FaultKind::unplug}};
  std::size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  std::string name = text.substr(0, colon);
  for (const auto& k : kinds) {
    if (name != k.name) continue;
    char* end = nullptr;
    long n = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (end == text.c_str() + colon + 1 || *end != '\0' || n < 1) return false;
    fault = Fault{k.kind, n};
    return true;
  }
  return false;
}

bool set_model(const std::string& text, Options& opt) {
  int row = -1;
  if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])))
    row = std::atoi(text.c_str());
  else
    row = ::vexa::link::find_model(text);
  if (row < 0 || row >= static_cast<int>(::vexa::link::models.size())) return false;
  const auto& m = ::vexa::link::models[static_cast<std::size_t>(row)];
  opt.width = m.width;
  opt.height = m.height;
  opt.type = m.type;
  opt.colours = m.colours;
  opt.series = m.series;
  return true;
}

bool set_geometry(const std::string& text, Options& opt) {
  char type = 0, series = 0;
  int w = 0, h = 0, colours = 0;
  if (std::sscanf(text.c_str(), "%d,%d,%c,%d,%c", &w, &h, &type, &colours, &series) != 5) return false;
  opt.width = w;
  opt.height = h;
  opt.type = static_cast<unsigned char>(type);
  opt.colours = colours;
  opt.series = static_cast<unsigned char>(series);
  return true;
}

int usage_error(const std::string& what) {
  std::fprintf(stderr, "vexasim: %s\n%s", what.c_str(), help_text);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  Simulator sim;
  Options& opt = sim.opt;
  set_model("VexaG6", opt);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help") {
      std::fputs(help_text, stdout);
      return 0;
    } else if (arg == "--model") {
      if (!value(v) || !set_model(v, opt)) return usage_error("unknown model");
    } else if (arg == "--geometry") {
      if (!value(v) || !set_geometry(v, opt)) return usage_error("bad geometry");
    } else if (arg == "--swapped") {
      opt.swapped = true;
    } else if (arg == "--answer") {
      if (!value(v) || (v != "short" && v != "long")) return usage_error("--answer short|long");
      opt.answer_form = v == "short" ? 3 : 9;
    } else if (arg == "--framed") {
      opt.framed = true;
    } else if (arg == "--rate") {
      if (!value(v)) return usage_error("--rate BAUD");
      opt.rate = std::atol(v.c_str());
      if (::vexa::link::baud_index(opt.rate) < 0) return usage_error("unsupported rate");
    } else if (arg == "--flash-kb") {
      if (!value(v)) return usage_error("--flash-kb N");
      opt.flash_kb = std::clamp(std::atol(v.c_str()), 0L, 65535L);
    } else if (arg == "--no-size") {
      opt.size_answer = false;
    } else if (arg == "--write-protected") {
      opt.write_protected = true;
    } else if (arg == "--address") {
      if (!value(v)) return usage_error("--address N");
      opt.address = std::atoi(v.c_str()) & 255;
    } else if (arg == "--throttle") {
      opt.throttle = true;
    } else if (arg == "--any-rate") {
      opt.any_rate = true;
    } else if (arg == "--gap-ms") {
      if (!value(v)) return usage_error("--gap-ms N");
      opt.gap_ms = std::max(1, std::atoi(v.c_str()));
    } else if (arg == "--fault") {
      Fault f{FaultKind::stop, 0};
      if (!value(v) || !parse_fault(v, f)) return usage_error("bad fault");
      opt.faults.push_back(f);
    } else if (arg == "--dump") {
      if (!value(opt.dump)) return usage_error("--dump FILE");
    } else if (arg == "--status") {
      if (!value(opt.status)) return usage_error("--status FILE");
    } else if (arg == "--log") {
      if (!value(opt.log)) return usage_error("--log FILE");
    } else if (arg == "--trace") {
      if (!value(opt.trace)) return usage_error("--trace FILE");
    } else {
      return usage_error("unknown option " + arg);
    }
  }
  if (!opt.log.empty()) sim.log = std::fopen(opt.log.c_str(), "w");
  if (!opt.trace.empty()) sim.trace = std::fopen(opt.trace.c_str(), "wb");
  return sim.run();
}
