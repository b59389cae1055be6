// What a display module does with the bytes its serial line brings: it
// answers the identification probe in plain or Duzedadoridido mode, reports
// its flash size, stores what the write commands send and returns it to the
// read commands, follows the baud change command, and injects the faults it
// was given. It knows nothing of the line itself: bytes come in through
// receive(), and what it sends collects in outbox.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <initializer_list>
#include <vector>

#include "options.h"

namespace vexa::sim {

// The monotonic clock in nanoseconds.
std::uint64_t now_ns();

// What happened on the line, for the status file.
struct Counters {
  long rx = 0;            // bytes received
  long tx = 0;            // bytes sent
  long garbled = 0;       // bytes lost because they came at another rate
  long ops = 0;           // operations begun: ESC commands (plain) or packets (framed)
  long acks = 0;          // ACKs due (a withheld one counts too)
  long naks = 0;          // packets refused for their checksum
  long answers = 0;       // answers due
  long writes = 0;        // write commands
  long written_bytes = 0;
  long reads = 0;          // read commands other than the size query
  long data_packets = 0;   // DC1 packets
  long ends = 0;           // end-of-upload commands
  long fired = 0;          // faults that took effect
  std::uint64_t first_write_ns = 0;  // when the first write command began
  std::uint64_t last_write_ns = 0;   // when the last one was complete
};

struct Module {
  explicit Module(const Options& options);

  // One byte from the line, taken at the module's rate.
  void receive(std::uint8_t b);
  // The line was silent in the middle of a packet: the packet is given up.
  void packet_gap();
  bool in_packet() const { return packet_state != PacketState::idle; }
  // The module reads nothing more, or its line is gone.
  bool deaf() const { return hung || unplugged; }

  Options options;  // the faults in it are marked as they fire
  std::FILE* log = nullptr;  // one line per command or packet, when set
  std::vector<std::uint8_t> outbox;  // bytes to send, in order
  std::vector<std::uint8_t> flash;
  long rate;  // the rate the module's line runs at
  Counters counters;
  bool stopped = false;    // answers nothing, takes nothing in
  bool hung = false;       // reads nothing from the line
  bool unplugged = false;  // the line is to be closed

 private:
  enum class CommandState { idle, escape, flash_head, write_data, baud, bar_letter, bar_values, mode_letter, mode_value };
  enum class PacketState { idle, length, data, sum };

  void note(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool take_fault(FaultKind kind, long count);
  bool damage_last_byte(std::uint8_t& b);
  void send(std::initializer_list<std::uint8_t> bytes);
  void send_ack();
  void answer(std::vector<std::uint8_t> bytes);
  void send_answer_packet(std::vector<std::uint8_t> packet);
  std::vector<std::uint8_t> identification() const;
  void begin_operation();
  bool completes_command(std::uint8_t b) const;
  void command_byte(std::uint8_t b);
  void flash_command();
  void finish_write();
  void plain_byte(std::uint8_t b);
  void packet_byte(std::uint8_t b);
  void handle_packet();
  void protocol_command();

  // Commands (plain bytes, or the data of DC1 packets)
  CommandState state = CommandState::idle;
  std::uint8_t head[8] = {};  // region letter, address, count, operation
  int got = 0;
  long write_address = 0;
  long remaining = 0;  // data bytes of the write command still to come
  bool write_refused = false;

  // Packets
  PacketState packet_state = PacketState::idle;
  int packet_type = 0, packet_length = 0, packet_got = 0;
  std::uint8_t packet_data[255] = {};
  bool selected = false;                 // by its RS-485 address
  std::deque<std::uint8_t> send_buffer;  // answers waiting for a DC2 'S'
  std::vector<std::uint8_t> last_packet;  // for a DC2 'R'
};

}  // namespace vexa::sim
