#include "module.h"

#include <time.h>

#include <algorithm>
#include <cstdarg>

#include "base/bytes.h"
#include "base/models.h"

namespace vexa::sim {

namespace {

constexpr std::uint8_t esc = 27;
constexpr std::uint8_t dc1 = 17;
constexpr std::uint8_t dc2 = 18;
constexpr std::uint8_t ack = 6;
constexpr std::uint8_t nak = 21;
// How a fault changes a byte: every bit that matters to a checksum or a
// command letter is likely to flip.
constexpr std::uint8_t damage = 0x5A;
// Answers waiting in the send buffer beyond this are lost: a module's buffer
// is small, and a stream of read commands must not fill the memory here.
constexpr std::size_t send_buffer_limit = 1u << 20;

long u24(const std::uint8_t* p) { return static_cast<long>(vexa::base::get_u24(p)); }

std::vector<std::uint8_t> make_packet(std::uint8_t type, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> p(data.size() + 3);
  p[0] = type;
  p[1] = static_cast<std::uint8_t>(data.size());
  std::copy(data.begin(), data.end(), p.begin() + 2);
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < p.size(); ++i) sum += p[i];
  p.back() = static_cast<std::uint8_t>(sum);
  return p;
}

}  // namespace

std::uint64_t now_ns() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

Module::Module(const Options& o)
    : options(o), flash(static_cast<std::size_t>(o.flash_kb) * 1024u, 255), rate(o.rate) {}

void Module::note(const char* format, ...) {
  if (log == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(log, format, args);
  va_end(args);
  std::fputc('\n', log);
  std::fflush(log);
}

// Whether a fault of this kind is due at this count; it fires once.
bool Module::take_fault(FaultKind kind, long count) {
  for (Fault& f : options.faults) {
    if (f.kind != kind || f.fired || f.n != count) continue;
    f.fired = true;
    ++counters.fired;
    return true;
  }
  return false;
}

void Module::send(std::initializer_list<std::uint8_t> bytes) { outbox.insert(outbox.end(), bytes); }

void Module::send_ack() {
  ++counters.acks;
  if (take_fault(FaultKind::noack, counters.acks)) {
    note("ack %ld withheld", counters.acks);
    return;
  }
  send({ack});
}

// An answer of the module: straight to the line in plain mode, into the send
// buffer in Duzedadoridido mode, where a DC2 'S' fetches it.
void Module::answer(std::vector<std::uint8_t> bytes) {
  if (options.framed) {
    if (send_buffer.size() + bytes.size() > send_buffer_limit) {
      note("send buffer full: answer lost");
      return;
    }
    send_buffer.insert(send_buffer.end(), bytes.begin(), bytes.end());
    return;
  }
  ++counters.answers;
  if (take_fault(FaultKind::lose_answer, counters.answers)) return;
  if (take_fault(FaultKind::bad_answer, counters.answers) && !bytes.empty()) bytes.back() ^= damage;
  outbox.insert(outbox.end(), bytes.begin(), bytes.end());
}

void Module::send_answer_packet(std::vector<std::uint8_t> packet) {
  ++counters.answers;
  if (take_fault(FaultKind::lose_answer, counters.answers)) {
    note("answer %ld lost", counters.answers);
    return;
  }
  if (take_fault(FaultKind::bad_answer, counters.answers)) packet.back() ^= damage;
  outbox.insert(outbox.end(), packet.begin(), packet.end());
}

// The answer to ESC '?'. Short: width (less 255 when above 255, which must
// leave it odd), height, type. Long: 255, 255, type, width and height as
// 16-bit values, the exponent of the colour count, the series.
std::vector<std::uint8_t> Module::identification() const {
  const Options& o = options;
  int w = o.swapped ? o.height : o.width;
  int h = o.swapped ? o.width : o.height;
  bool short_width = (w <= 255 && w % 2 == 0) || (w > 255 && w - 255 <= 255 && (w - 255) % 2 == 1);
  bool short_form = o.answer == AnswerForm::short_form ||
                    (o.answer == AnswerForm::automatic && o.colours == 2 && o.series == 'A' && h <= 255 && short_width);
  if (short_form)
    return {static_cast<std::uint8_t>(w <= 255 ? w : w - 255), static_cast<std::uint8_t>(h),
            static_cast<std::uint8_t>(o.type)};
  int exponent = 0;
  while ((1L << exponent) < o.colours && exponent < 62) ++exponent;
  return {255,
          255,
          static_cast<std::uint8_t>(o.type),
          static_cast<std::uint8_t>(w),
          static_cast<std::uint8_t>(w >> 8),
          static_cast<std::uint8_t>(h),
          static_cast<std::uint8_t>(h >> 8),
          static_cast<std::uint8_t>(exponent),
          static_cast<std::uint8_t>(o.series)};
}

// The faults that act when an operation begins.
void Module::begin_operation() {
  long n = ++counters.ops;
  if (take_fault(FaultKind::stop, n)) {
    note("stop at %ld", n);
    stopped = true;
  }
  if (take_fault(FaultKind::hang, n)) {
    note("hang at %ld", n);
    hung = true;
  }
  if (take_fault(FaultKind::unplug, n)) {
    note("unplug at %ld", n);
    unplugged = true;
  }
}

// Whether b, arriving now, is the last byte of the command under way.
bool Module::completes_command(std::uint8_t b) const {
  switch (state) {
    case CommandState::idle: return false;
    case CommandState::escape: return b != '&' && b != '+' && b != 'B' && b != 'M';
    case CommandState::flash_head: return got == 7 && (b != 'W' || u24(head + 4) == 0);
    case CommandState::write_data: return remaining == 1;
    case CommandState::baud: return true;
    case CommandState::bar_letter: return b != 'A';
    case CommandState::bar_values: return got == 1;
    case CommandState::mode_letter: return b != 'S';
    case CommandState::mode_value: return true;
  }
  return false;
}

// command -> ESC '?'                        identification
//          | ESC '&' region a0 a1 a2 n0 n1 n2 op [data]   flash read, write, end
//          | ESC '+' index                  baud change
//          | ESC 'B' 'A' bar value          bar graph
//          | ESC 'M' 'S' value              mode
// Any other byte is text for the display and changes nothing here.
void Module::command_byte(std::uint8_t b) {
  switch (state) {
    case CommandState::idle:
      if (b == esc) state = CommandState::escape;
      return;
    case CommandState::escape:
      state = CommandState::idle;
      got = 0;
      if (b == '?') {
        note("probe");
        answer(identification());
      } else if (b == '&') {
        state = CommandState::flash_head;
      } else if (b == '+') {
        state = CommandState::baud;
      } else if (b == 'B') {
        state = CommandState::bar_letter;
      } else if (b == 'M') {
        state = CommandState::mode_letter;
      }
      return;
    case CommandState::flash_head:
      head[got++] = b;
      if (got == 8) flash_command();
      return;
    case CommandState::write_data:
      if (!write_refused && !options.write_protected && write_address < static_cast<long>(flash.size()))
        flash[static_cast<std::size_t>(write_address)] = b;
      ++write_address;
      ++counters.written_bytes;
      if (--remaining == 0) finish_write();
      return;
    case CommandState::baud:
      state = CommandState::idle;
      if (b < base::baud_rates.size()) {
        rate = base::baud_rates[b];
        note("baud %d", b);
      }
      return;
    case CommandState::bar_letter:
      state = b == 'A' ? CommandState::bar_values : CommandState::idle;
      return;
    case CommandState::bar_values:
      head[got++] = b;
      if (got == 2) {
        note("bar %d %d", head[0], head[1]);
        state = CommandState::idle;
      }
      return;
    case CommandState::mode_letter:
      state = b == 'S' ? CommandState::mode_value : CommandState::idle;
      return;
    case CommandState::mode_value:
      note("mode %d", b);
      state = CommandState::idle;
      return;
  }
}

// The eight bytes after ESC '&' are in head: region, address, count, operation.
void Module::flash_command() {
  state = CommandState::idle;
  long address = u24(head + 1);
  long count = u24(head + 4);
  switch (head[7]) {
    case 'W':
      ++counters.writes;
      if (counters.first_write_ns == 0) counters.first_write_ns = now_ns();
      if (take_fault(FaultKind::stop_write, counters.writes)) {
        note("stop at write %ld", counters.writes);
        stopped = true;
      }
      write_refused = !options.framed && take_fault(FaultKind::error, counters.writes);
      write_address = address;
      remaining = count;
      if (count == 0)
        finish_write();
      else
        state = CommandState::write_data;
      return;
    case 'R':
      if (address == 0 && count == 0) {
        note("size");
        if (options.size_answer)
          answer({static_cast<std::uint8_t>(options.flash_kb), static_cast<std::uint8_t>(options.flash_kb >> 8)});
        return;
      }
      ++counters.reads;
      note("read %ld %ld", address, count);
      {
        // Beyond the end of the flash a read gives erased bytes.
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count), 255);
        long size = static_cast<long>(flash.size());
        if (address < size)
          std::copy_n(flash.begin() + address, std::min(count, size - address), bytes.begin());
        answer(std::move(bytes));
      }
      return;
    case 'J':
      ++counters.ends;
      note("end of upload");
      return;
    default:
      return;
  }
}

void Module::finish_write() {
  counters.last_write_ns = now_ns();
  note("write %c %ld %ld", head[0], u24(head + 1), u24(head + 4));
  if (write_refused) {
    note("E after write %ld", counters.writes);
    answer({'E'});
  }
  state = CommandState::idle;
}

// The drop and corrupt faults strike the byte that completes an operation.
// False when the byte is dropped; a corrupted byte is changed in place.
bool Module::damage_last_byte(std::uint8_t& b) {
  if (take_fault(FaultKind::drop, counters.ops)) {
    note("dropped last byte of %ld", counters.ops);
    return false;
  }
  if (take_fault(FaultKind::corrupt, counters.ops)) {
    note("changed last byte of %ld", counters.ops);
    b ^= damage;
  }
  return true;
}

void Module::plain_byte(std::uint8_t b) {
  if (state == CommandState::idle && b == esc) {
    begin_operation();
    if (stopped || deaf()) return;
  }
  if (completes_command(b) && !damage_last_byte(b)) return;
  command_byte(b);
}

// packet -> type length data* sum; the type is DC1 (data) or DC2 (protocol).
void Module::packet_byte(std::uint8_t b) {
  if (packet_state == PacketState::idle) {
    if (b != dc1 && b != dc2) return;  // not the start of a packet
    begin_operation();
    if (stopped || deaf()) return;
  }
  if (packet_state == PacketState::sum && !damage_last_byte(b)) return;
  switch (packet_state) {
    case PacketState::idle:
      packet_type = b;
      packet_state = PacketState::length;
      return;
    case PacketState::length:
      packet_length = b;
      packet_got = 0;
      packet_state = packet_length > 0 ? PacketState::data : PacketState::sum;
      return;
    case PacketState::data:
      packet_data[packet_got++] = b;
      if (packet_got == packet_length) packet_state = PacketState::sum;
      return;
    case PacketState::sum: {
      packet_state = PacketState::idle;
      unsigned sum = static_cast<unsigned>(packet_type + packet_length);
      for (int i = 0; i < packet_length; ++i) sum += packet_data[i];
      if ((sum & 255u) != b) {
        ++counters.naks;
        note("checksum error");
        if (options.address < 0 || selected) send({nak});
        return;
      }
      handle_packet();
      return;
    }
  }
}

void Module::packet_gap() {
  note("packet dropped after a gap");
  packet_state = PacketState::idle;
}

void Module::handle_packet() {
  bool selection = packet_type == dc2 && packet_length == 3 && packet_data[0] == 'A' && packet_data[1] == 'S';
  // A module with an address hears nothing until it is selected.
  if (options.address >= 0 && !selected && !selection) {
    note("packet ignored: not selected");
    return;
  }
  if (packet_type == dc2) {
    protocol_command();
    return;
  }
  ++counters.data_packets;
  note("dc1 %d", packet_length);
  if (take_fault(FaultKind::error, counters.data_packets)) {
    note("E for packet %ld", counters.data_packets);
    send({'E'});
    return;
  }
  send_ack();
  for (int i = 0; i < packet_length; ++i) command_byte(packet_data[i]);
}

// The data of a DC2 packet: 'S' (send buffer), 'R' (repeat), 'C' 255,
// 'A' 'S' address, 'D' 128 10.
void Module::protocol_command() {
  const std::uint8_t* d = packet_data;
  int n = packet_length;
  if (n == 1 && d[0] == 'S') {
    note("dc2 S");
    send_ack();
    std::vector<std::uint8_t> data;
    while (!send_buffer.empty() && data.size() < 255) {
      data.push_back(send_buffer.front());
      send_buffer.pop_front();
    }
    last_packet = make_packet(dc1, data);
    send_answer_packet(last_packet);
  } else if (n == 1 && d[0] == 'R') {
    note("dc2 R");
    send_ack();
    if (last_packet.empty()) last_packet = make_packet(dc1, {});
    send_answer_packet(last_packet);
  } else if (n == 2 && d[0] == 'C' && d[1] == 255) {
    note("dc2 C");
    send_ack();
  } else if (n == 3 && d[0] == 'A' && d[1] == 'S') {
    note("dc2 A %d", d[2]);
    selected = options.address < 0 || d[2] == options.address;
    if (selected) send_ack();
  } else if (n == 3 && d[0] == 'D' && d[1] == 128 && d[2] == 10) {
    note("dc2 D");
    send_ack();
  } else {
    note("dc2 unknown");
    send({nak});
  }
}

void Module::receive(std::uint8_t b) {
  ++counters.rx;
  if (take_fault(FaultKind::drop_byte, counters.rx)) return;
  if (take_fault(FaultKind::corrupt_byte, counters.rx)) b ^= damage;
  if (stopped || deaf()) return;
  if (options.framed)
    packet_byte(b);
  else
    plain_byte(b);
}

}  // namespace vexa::sim
