#include "link/identify.h"

#include <array>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/models.h"
#include "base/output.h"
#include "link/framing.h"
#include "link/serial.h"

namespace vexa::link {

namespace {

using base::report_text;

constexpr std::uint8_t esc = 27;
// A DC1 packet holding one blank: harmless text for a plain module, a packet
// that a module in Duzedadoridido mode acknowledges.
constexpr std::array<std::uint8_t, 4> blank_packet = {17, 1, 32, 50};
// The highest rate the scan tries (index 8, 230400); 460800 is only ever
// switched to after identification.
constexpr int top_scan_index = 8;

struct Answer {
  int width = 0;
  int height = 0;
  int type = 0;
  int colours = 0;
  int series = 0;
};

bool is_type_letter(int c) { return c == 'H' || c == 'V' || c == 'h' || c == 'v'; }

// Colours from the exponent of the long answer; a value no module can have
// gives 0, which matches no model.
int colours_from_exponent(int exponent) { return exponent < 31 ? 1 << exponent : 0; }

// The short answer: width (255 more when odd, so that 320 fits a byte as
// 65), height, type letter; such a module has 2 colours and series A.
Answer short_answer(int b0, int b1, int b2) {
  return Answer{b0 + ((b0 & 1) ? 255 : 0), b1, b2, 2, 'A'};
}

// The long answer: 255, 255, type, width and height as 16-bit values, the
// colour exponent and the series letter.
Answer long_answer(const std::uint8_t* b) {
  return Answer{b[3] + 256 * b[4], b[5] + 256 * b[6], b[2], colours_from_exponent(b[7]), b[8]};
}

// Reads the rest of a plain answer whose first byte was b0.
bool read_plain_answer(LinkState& link, int b0, Answer& answer) {
  std::array<std::uint8_t, 9> b{};
  b[0] = static_cast<std::uint8_t>(b0);
  for (int i = 1; i < 3; ++i) {
    int c = read_byte(link, 5);
    if (c < 0) return false;
    b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(c);
  }
  if (!is_type_letter(b[2])) return false;
  if (b[0] == 255 && b[1] == 255) {
    for (int i = 3; i < 9; ++i) {
      int c = read_byte(link, 5);
      if (c < 0) return false;
      b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(c);
    }
    answer = long_answer(b.data());
  } else {
    answer = short_answer(b[0], b[1], b[2]);
  }
  return true;
}

// Asks a module in Duzedadoridido mode who it is.
bool ask_framed(LinkState& link, Answer& answer) {
  wait_ticks(link, 10);
  const std::uint8_t hello[] = {'C', 255};
  send_packet(link, packet_command, hello);
  wait_ticks(link, 10);
  rx_drain(link);
  // Empty the module's send buffer. A module that never runs dry is broken;
  // the bound keeps it from holding the compiler here.
  Packet packet;
  for (int round = 0; round < 256 && request_data(link, packet) > 0; ++round) {
  }
  const std::uint8_t query[] = {esc, 'M', 'S', 0, esc, '?'};
  if (!send_data(link, query)) return false;
  wait_ticks(link, 10);
  int n = request_data(link, packet);
  if (n == 3) {
    answer = short_answer(packet.data[0], packet.data[1], packet.data[2]);
    return true;
  }
  if (n == 9) {
    answer = long_answer(packet.data.data());
    return true;
  }
  return false;
}

bool same_module(const Answer& a, const base::Model& m, bool either_orientation) {
  bool size = (a.width == m.width && a.height == m.height) ||
              (either_orientation && a.width == m.height && a.height == m.width);
  return size && a.type == m.type && a.colours == m.colours && a.series == m.series;
}

}  // namespace

void query_flash_size(LinkState& link) {
  link.highest_address = -1;
  rx_drain(link);
  const std::uint8_t size_query[] = {esc, '&', 'D', 0, 0, 0, 0, 0, 0, 'R'};
  int low = -1;
  int high = -1;
  if (!link.duzedadoridido) {
    if (!send_raw(link, size_query)) return;
    low = read_byte(link, 50);
    high = read_byte(link, 50);
  } else {
    if (!send_data(link, size_query)) return;
    wait_ticks(link, 10);
    Packet answer;
    if (request_data(link, answer) != 2) return;
    low = answer.data[0];
    high = answer.data[1];
  }
  if (low < 0 || high < 0) return;
  link.highest_address = (static_cast<long>(low) + 256L * high) * 1024L - 1;
}

int identify_module(const LinkSettings& s, LinkState& link, base::Output& out) {
  link.duzedadoridido = false;
  link.baud_index = -1;
  link.highest_address = -1;

  send_raw(link, blank_packet);
  wait_ticks(link, 20);
  rx_drain(link);

  // probe -> ESC '?' ( blank DC1 packet | DC2 'A' 'S' address )
  std::vector<std::uint8_t> probe = {esc, '?'};
  if (s.rs485_address < 0) {
    probe.insert(probe.end(), blank_packet.begin(), blank_packet.end());
  } else {
    const std::uint8_t select[] = {'A', 'S', static_cast<std::uint8_t>(s.rs485_address)};
    std::vector<std::uint8_t> packet = make_packet(packet_command, select);
    probe.insert(probe.end(), packet.begin(), packet.end());
  }

  // With the scan off the rate is fixed; without a rate set (0) the port
  // refuses it and no module is found.
  bool fixed = !s.autoscan;
  int first = -1;
  int index = -1;
  if (fixed) {
    if (port_set_baud(link, s.baud)) {
      wait_ticks(link, 10);
      rx_drain(link);
      if (send_raw(link, probe)) {
        port_flush(link, 10);
        first = read_byte(link, 100);
      }
    }
    if (first == ack) link.duzedadoridido = true;
    if (first >= 0)
      for (int i = top_scan_index; i >= 0; --i)
        if (base::baud_rates[static_cast<std::size_t>(i)] == s.baud) index = i;
  } else {
    for (int i = top_scan_index; i >= 0; --i) {
      report_text(out, ".", base::to_console | base::to_window);
      if (!port_set_baud(link, base::baud_rates[static_cast<std::size_t>(i)])) continue;
      wait_ticks(link, 10);
      rx_drain(link);
      if (!send_raw(link, probe)) break;
      port_flush(link, 10);
      first = read_byte(link, 100);
      if (first == ack) link.duzedadoridido = true;
      if (first >= 0) {
        index = i;
        break;
      }
    }
  }
  report_text(out, "\r\n", base::to_console | base::to_window);
  if (index < 0) return no_module;
  link.baud_index = index;

  Answer answer;
  if (link.duzedadoridido ? !ask_framed(link, answer) : !read_plain_answer(link, first, answer)) return no_module;

  // With no model selected (an upload file naming none) nothing can match;
  // the messages then show an empty name.
  bool selected = s.model >= 0 && s.model < static_cast<int>(base::models.size());
  std::string selected_name = selected ? std::string(base::models[static_cast<std::size_t>(s.model)].name) : std::string();
  if (selected && same_module(answer, base::models[static_cast<std::size_t>(s.model)], true)) {
    query_flash_size(link);
    std::string kind = answer.colours < 3 ? "monochrome" : "color";
    if (link.duzedadoridido) kind += ", Duzedadoridido";
    long kilobytes = (link.highest_address + 1) / 1024;
    if (fixed)
      report_text(out,
                  base::format("found: %s %dx%d, %s, %ldkB FLASH\r\n", selected_name.c_str(), answer.width, answer.height,
                         kind.c_str(), kilobytes),
                  base::to_all);
    else
      report_text(out,
                  base::format("found: %s %dx%d, %s, %ldkB FLASH, %ld baud\r\n", selected_name.c_str(), answer.width,
                         answer.height, kind.c_str(), kilobytes,
                         static_cast<long>(base::baud_rates[static_cast<std::size_t>(index)])),
                  base::to_all);
    return index;
  }
  for (const base::Model& row : base::models) {
    if (!same_module(answer, row, false)) continue;
    report_text(out,
                base::format("ERROR: wrong Module!\r\n(Macrofile, written for Orix %s does not match with connected Orix "
                       "%s)\r\n",
                       selected_name.c_str(), std::string(row.name).c_str()),
                base::to_all);
    return other_module;
  }
  if (is_type_letter(answer.type)) {
    report_text(out,
                base::format("ERROR: Unknown Module!\r\n(%dx%d with %d colors)\r\n", answer.width, answer.height,
                       answer.colours),
                base::to_all);
    return other_module;
  }
  return no_module;
}

}  // namespace vexa::link
