#include "link/framing.h"

#include <algorithm>

#include "link/serial.h"

namespace vexa::link {

std::vector<std::uint8_t> make_packet(int type, std::span<const std::uint8_t> data) {
  std::size_t n = std::min<std::size_t>(data.size(), 255);
  std::vector<std::uint8_t> packet;
  packet.reserve(n + 3);
  packet.push_back(static_cast<std::uint8_t>(type));
  packet.push_back(static_cast<std::uint8_t>(n));
  packet.insert(packet.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
  unsigned sum = 0;
  for (std::uint8_t b : packet) sum += b;
  packet.push_back(static_cast<std::uint8_t>(sum));
  return packet;
}

int send_raw(LinkState& link, std::span<const std::uint8_t> bytes) {
  if (link.send_block <= 1) {
    for (std::uint8_t b : bytes)
      if (!write_byte(link, b)) return 0;
    return 1;
  }
  std::size_t block = static_cast<std::size_t>(link.send_block);
  for (std::size_t at = 0; at < bytes.size(); at += block)
    if (!write_block(link, bytes.subspan(at, std::min(block, bytes.size() - at)))) return 0;
  return 1;
}

int send_packet(LinkState& link, int type, std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> packet = make_packet(type, data);
  for (int attempt = 0; attempt < link.retries; ++attempt) {
    rx_drain(link);
    if (!write_block(link, packet)) continue;
    if (read_byte(link, ack_timeout) == ack) return 1;
  }
  return 0;
}

int send_command(LinkState& link, std::span<const std::uint8_t> bytes) {
  return link.duzedadoridido ? send_data(link, bytes) : send_raw(link, bytes);
}

int receive_packet(LinkState& link, Packet& packet) {
  std::uint8_t head[2];
  if (read_block(link, head, answer_timeout) != 2) return -1;
  packet.type = head[0];
  packet.length = head[1];
  // Anything else is not the start of a packet; it stays in the input.
  if (packet.type != packet_data && packet.type != packet_command) return -1;
  std::array<std::uint8_t, 256> rest;
  std::span<std::uint8_t> body(rest.data(), static_cast<std::size_t>(packet.length) + 1);
  if (read_block(link, body, answer_timeout) != static_cast<int>(body.size())) return -1;
  unsigned sum = head[0] + head[1];
  for (int i = 0; i < packet.length; ++i) {
    packet.data[static_cast<std::size_t>(i)] = rest[static_cast<std::size_t>(i)];
    sum += rest[static_cast<std::size_t>(i)];
  }
  return (sum & 255u) == rest[static_cast<std::size_t>(packet.length)] ? 1 : 0;
}

int request_data(LinkState& link, Packet& answer) {
  std::uint8_t request = 'S';
  if (!send_packet(link, packet_command, std::span<const std::uint8_t>(&request, 1))) return -2;
  int result = receive_packet(link, answer);
  if (result == 1) return answer.type == packet_data ? answer.length : 1;
  // A damaged answer was sent and may be asked for again; after a time-out
  // nothing arrived, so the buffer is asked for anew.
  if (result == 0) request = 'R';
  for (int attempt = 0; attempt < link.retries; ++attempt) {
    if (!send_packet(link, packet_command, std::span<const std::uint8_t>(&request, 1))) continue;
    result = receive_packet(link, answer);
    if (result == 1 && answer.type == packet_data) return answer.length;
  }
  return result;
}

}  // namespace vexa::link
