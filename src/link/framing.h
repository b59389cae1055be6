// The two ways of talking to a module: plain bytes written straight to the
// line, and the Duzedadoridido, framed packets with a checksum that the
// module acknowledges with ACK and that are repeated until it does.
//
// Packet: type (17 DC1 data, 18 DC2 protocol command), length n (0 to 255),
// n data bytes, checksum = sum of all preceding bytes modulo 256.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "link/link_state.h"

namespace vexa::link {

inline constexpr int packet_data = 17;     // DC1
inline constexpr int packet_command = 18;  // DC2
inline constexpr int ack = 6;

// Time-outs in ticks: for the ACK of a packet and for each of the two reads
// of an answer packet.
inline constexpr int ack_timeout = 50;
inline constexpr int answer_timeout = 50;

struct Packet {
  int type = 0;
  int length = 0;
  std::array<std::uint8_t, 255> data{};
};

// The bytes of a packet; data beyond 255 bytes is not sent.
std::vector<std::uint8_t> make_packet(int type, std::span<const std::uint8_t> data);

// Writes bytes in pieces of the send block size (byte by byte below 2).
// 1 when all were written, 0 at the first failed write.
int send_raw(LinkState& link, std::span<const std::uint8_t> bytes);

// Sends a packet until a try is acknowledged, at most link.retries tries.
// 1 when acknowledged, 0 when every try failed.
int send_packet(LinkState& link, int type, std::span<const std::uint8_t> data);
inline int send_data(LinkState& link, std::span<const std::uint8_t> data) {
  return send_packet(link, packet_data, data);
}

// Sends a module command in the protocol mode of the link: raw bytes in
// plain mode, one DC1 packet in Duzedadoridido mode. 1 when sent.
int send_command(LinkState& link, std::span<const std::uint8_t> bytes);

// Reads one packet: 1 for a DC1 or DC2 packet with a correct checksum, 0 for
// a checksum error (the packet is handed out all the same), -1 on a time-out
// or a byte that starts no packet.
int receive_packet(LinkState& link, Packet& packet);

// Asks the module for the contents of its send buffer (DC2 "S"). Returns the
// number of data bytes of the DC1 packet received, 1 when the first answer
// was a good DC2 packet, 0 or -1 (the last receive result) when every
// repetition failed, -2 when the first request was not acknowledged.
int request_data(LinkState& link, Packet& answer);

}  // namespace vexa::link
