#include "link/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "base/format.h"

namespace vexa::link {

namespace {

namespace fs = std::filesystem;

std::uint64_t now_us() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

timespec to_timespec(std::uint64_t us) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(us / 1000000u);
  ts.tv_nsec = static_cast<long>((us % 1000000u) * 1000u);
  return ts;
}

void sleep_until_us(std::uint64_t us) {
  timespec ts = to_timespec(us);
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

std::uint64_t tick_length(const LinkState& link) { return static_cast<std::uint64_t>(std::max(1L, link.tick_us)); }

speed_t speed_constant(long baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
#ifdef B460800
    case 460800: return B460800;
#endif
    default: return B0;
  }
}

std::size_t pending(const LinkState& link) { return link.rx.size() - link.rx_head; }

bool port_is_open(const LinkState& link) { return link.port_fd >= 0 || link.memory_port; }

// Moves everything the driver holds into the receive queue.
void pump(LinkState& link) {
  if (link.memory_port) return;  // the queue holds all there is
  if (link.rx_head > 0 && link.rx_head == link.rx.size()) {
    link.rx.clear();
    link.rx_head = 0;
  } else if (link.rx_head > 65536) {
    link.rx.erase(link.rx.begin(), link.rx.begin() + static_cast<std::ptrdiff_t>(link.rx_head));
    link.rx_head = 0;
  }
  std::uint8_t chunk[4096];
  for (;;) {
    ssize_t n = ::read(link.port_fd, chunk, sizeof chunk);
    if (n > 0) {
      link.rx.insert(link.rx.end(), chunk, chunk + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return;  // nothing more there (EAGAIN), end of line or an error
  }
}

// Yields the processor until input arrives or the next tick begins. The
// waiting loops count tick changes like a busy loop would, but sleep in
// between instead of spinning: a byte that arrives wakes them at once.
void wait_input_or_tick(const LinkState& link) {
  std::uint64_t tick = tick_length(link);
  std::uint64_t now = now_us();
  std::uint64_t next = (now / tick + 1) * tick;
  timespec ts = to_timespec(next - now);
  pollfd p{link.port_fd, POLLIN, 0};
  int r = ::ppoll(&p, 1, &ts, nullptr);
  // A hung-up or failed device reports itself at once and for ever; sleep
  // out the tick instead of spinning on it.
  if (r > 0 && !(p.revents & POLLIN)) sleep_until_us(next);
}

// Line errors since the last call, as a mask (1 receive overflow, 2 overrun,
// 4 parity, 8 framing, 16 break); 0 where the driver keeps no counters (a
// pseudo-terminal).
int line_error_mask(LinkState& link) {
#if defined(__linux__) && defined(TIOCGICOUNT)
  serial_icounter_struct counters{};
  if (::ioctl(link.port_fd, TIOCGICOUNT, &counters) != 0) return 0;
  const std::uint32_t now[5] = {static_cast<std::uint32_t>(counters.buf_overrun),
                                static_cast<std::uint32_t>(counters.overrun),
                                static_cast<std::uint32_t>(counters.parity),
                                static_cast<std::uint32_t>(counters.frame),
                                static_cast<std::uint32_t>(counters.brk)};
  int mask = 0;
  for (int i = 0; i < 5; ++i) {
    if (now[i] != link.line_errors[i]) mask |= 1 << i;
    link.line_errors[i] = now[i];
  }
  return mask;
#else
  (void)link;
  return 0;
#endif
}

std::string read_first_line(const fs::path& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// Letters a to z compared without regard to case, everything else exactly.
bool contains_folded(const std::string& text, const std::string& part) {
  auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  if (part.size() > text.size()) return false;
  for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
    std::size_t i = 0;
    while (i < part.size() && fold(text[at + i]) == fold(part[i])) ++i;
    if (i == part.size()) return true;
  }
  return false;
}

// The USB device above a tty's device in sysfs: the first directory upwards
// that holds a vendor id. Empty when the tty does not hang on USB.
fs::path usb_parent(const fs::path& device_link) {
  std::error_code ec;
  fs::path p = fs::canonical(device_link, ec);
  if (ec) return {};
  while (!p.empty()) {
    if (fs::exists(p / "idVendor", ec)) return p;
    fs::path up = p.parent_path();
    if (up == p) break;
    p = up;
  }
  return {};
}

}  // namespace

std::uint32_t tick_now(const LinkState& link) {
  return link.memory_port ? 0 : static_cast<std::uint32_t>(now_us() / tick_length(link));
}

void wait_ticks(const LinkState& link, int n) {
  if (link.memory_port) return;
  if (n < 0) n = 0;
  std::uint64_t tick = tick_length(link);
  std::uint64_t start = now_us() / tick;
  sleep_until_us((start + static_cast<std::uint64_t>(n) + 1) * tick);
}

void pause_ticks(const LinkState& link, int n) {
  if (link.memory_port) return;
  if (n <= 0) {
    ::sched_yield();
    return;
  }
  sleep_until_us(now_us() + static_cast<std::uint64_t>(n) * tick_length(link));
}

std::string port_device(const LinkSettings& settings) {
  if (!settings.com_device.empty()) return settings.com_device;
  if (settings.com_port <= 0) return {};
  const char* named = std::getenv(base::format("VEXA_COM%d", settings.com_port).c_str());
  if (named != nullptr && *named != '\0') return named;
  return base::format("/dev/ttyS%d", settings.com_port - 1);
}

std::string port_label(const LinkSettings& settings) {
  if (!settings.com_device.empty()) return settings.com_device;
  return base::format("COM%d", settings.com_port);
}

int port_open(LinkState& link, const std::string& device, long baud) {
  if (link.memory_port) return speed_constant(baud) != B0 ? 1 : 0;
  port_close(link);
  speed_t speed = speed_constant(baud);
  if (device.empty() || speed == B0) return 0;
  int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  // Exclusive use where the driver supports it; a refusal is not an error.
  ::ioctl(fd, TIOCEXCL);
  termios t;
  if (::tcgetattr(fd, &t) != 0) {
    ::close(fd);
    return 0;
  }
  // Raw 8N1, receiver on, modem lines ignored, no flow control of any kind;
  // reads return at once with what is there.
  ::cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return 0;
  }
  // Raise DTR and RTS: some adapters power the module's line driver from
  // them. A device without modem lines (a pseudo-terminal) refuses; fine.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd, TIOCMBIS, &lines);
  link.port_fd = fd;
  link.rx.clear();
  link.rx_head = 0;
  line_error_mask(link);  // the counters start from here
  return 1;
}

void port_close(LinkState& link) {
  if (link.memory_port) {
    link.memory_port = false;
    link.rx.clear();
    link.rx_head = 0;
  }
  if (link.port_fd < 0) return;
  pause_ticks(link, 5);
  rx_drain(link);
  ::ioctl(link.port_fd, TIOCNXCL);
  ::close(link.port_fd);
  link.port_fd = -1;
  link.rx.clear();
  link.rx_head = 0;
}

int port_set_baud(LinkState& link, long baud) {
  if (!port_is_open(link)) return 1;
  speed_t speed = speed_constant(baud);
  if (speed == B0) return 0;
  if (link.memory_port) return 1;
  termios t;
  if (::tcgetattr(link.port_fd, &t) != 0) return 0;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (::tcsetattr(link.port_fd, TCSANOW, &t) != 0) return 0;
  // tcsetattr succeeds when any part of the change was taken: check the rate.
  if (::tcgetattr(link.port_fd, &t) != 0 || ::cfgetospeed(&t) != speed) return 0;
  return 1;
}

void port_flush(LinkState& link, int n) {
  if (link.port_fd >= 0) ::tcdrain(link.port_fd);
  pause_ticks(link, n);
}

int rx_count(LinkState& link) {
  if (!port_is_open(link)) return -1;
  if (link.memory_port) return 0;  // the bytes come as they are read
  int errors = line_error_mask(link);
  if (errors != 0) return -errors;
  pump(link);
  return static_cast<int>(std::min<std::size_t>(pending(link), 0x7fffffff));
}

void rx_drain(LinkState& link) {
  if (link.port_fd < 0) return;  // nothing on a memory port: its bytes are the answers to come
  int count = rx_count(link);
  // Line errors are cleared by the query itself; a line that keeps failing
  // must not keep the compiler here, so the retries are bounded.
  for (int tries = 0; count < 0 && tries < 100; ++tries) count = rx_count(link);
  for (int i = 0; i <= count; ++i) read_byte(link, 0);
}

int read_byte(LinkState& link, int timeout) {
  if (!port_is_open(link)) return -1;
  std::uint32_t last = tick_now(link);
  for (;;) {
    if (pending(link) == 0) pump(link);
    if (pending(link) > 0) return link.rx[link.rx_head++];
    if (timeout <= 0 || link.memory_port) return -1;
    wait_input_or_tick(link);
    std::uint32_t now = tick_now(link);
    // Ticks that passed while this process was not running count too, so a
    // time-out never stretches under load.
    if (now != last) {
      timeout -= static_cast<int>(std::min<std::uint32_t>(now - last, 0x7fffffff));
      last = now;
    }
  }
}

int read_block(LinkState& link, std::span<std::uint8_t> bytes, int timeout) {
  if (!port_is_open(link)) return -1;
  std::uint32_t last = tick_now(link);
  for (;;) {
    pump(link);
    if (pending(link) >= bytes.size() || timeout <= 0 || link.memory_port) break;
    wait_input_or_tick(link);
    std::uint32_t now = tick_now(link);
    if (now != last) {
      timeout -= static_cast<int>(std::min<std::uint32_t>(now - last, 0x7fffffff));
      last = now;
    }
  }
  // Like one read of n bytes: what is there is taken, a shortfall fails.
  std::size_t n = std::min(pending(link), bytes.size());
  std::copy_n(link.rx.begin() + static_cast<std::ptrdiff_t>(link.rx_head), n, bytes.begin());
  link.rx_head += n;
  return n == bytes.size() ? static_cast<int>(n) : 0;
}

int write_byte(LinkState& link, int byte) {
  std::uint8_t b = static_cast<std::uint8_t>(byte);
  return write_block(link, std::span<const std::uint8_t>(&b, 1));
}

int write_block(LinkState& link, std::span<const std::uint8_t> bytes) {
  if (link.memory_port) return 1;
  if (link.port_fd < 0) return 0;
  // A write may take 1 ms per byte plus one second; a line that accepts
  // nothing for longer has failed.
  std::uint64_t deadline = now_us() + (bytes.size() + 1000u) * 1000u;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(link.port_fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return 0;
    std::uint64_t now = now_us();
    if (now >= deadline) return 0;
    pollfd p{link.port_fd, POLLOUT, 0};
    std::uint64_t left_ms = (deadline - now + 999) / 1000;
    int r = ::poll(&p, 1, static_cast<int>(std::min<std::uint64_t>(left_ms, 1000000)));
    if (r > 0 && !(p.revents & POLLOUT)) return 0;  // hung up
  }
  return 1;
}

int find_com_by_name(std::string& name, std::string& device) {
  const char* root_env = std::getenv("VEXA_SYSFS_ROOT");
  fs::path root = (root_env != nullptr && *root_env != '\0') ? fs::path(root_env) : fs::path("/sys");
  fs::path class_dir = root / "class" / "tty";
  std::error_code ec;
  if (!fs::is_directory(class_dir, ec)) return -1;
  std::vector<std::string> ttys;
  for (fs::directory_iterator it(class_dir, ec), end; !ec && it != end; it.increment(ec))
    ttys.push_back(it->path().filename().string());
  std::sort(ttys.begin(), ttys.end());
  int place = 0;
  for (const std::string& tty : ttys) {
    fs::path usb = usb_parent(class_dir / tty / "device");
    if (usb.empty()) continue;
    ++place;
    std::string manufacturer = read_first_line(usb / "manufacturer");
    std::string product = read_first_line(usb / "product");
    std::string friendly = manufacturer;
    if (!friendly.empty() && !product.empty()) friendly += ' ';
    friendly += product;
    std::string path = "/dev/" + tty;
    friendly += (friendly.empty() ? "(" : " (") + path + ")";
    if (!contains_folded(friendly, name)) continue;
    name = friendly;
    device = path;
    return place;
  }
  return 0;
}

}  // namespace vexa::link
