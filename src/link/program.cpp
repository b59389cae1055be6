#include "link/program.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/crc16.h"
#include "base/format.h"
#include "base/models.h"
#include "base/output.h"
#include "base/paths.h"
#include "link/framing.h"
#include "link/identify.h"
#include "link/serial.h"
#include "link/upload_file.h"

namespace vexa::link {

namespace {

using base::report_text;
using base::to_all;
using base::to_console;
using base::to_log;
using base::to_window;

constexpr std::uint8_t esc = 27;
constexpr int framed_chunk = 255;
constexpr int plain_block_bytes = 128;
// A module that keeps answering the read-back with empty packets is given
// this many ticks (5 s) without a data byte before the verify fails: long
// enough for a slow flash read, short enough that a confused module cannot
// hold the compiler.
constexpr int empty_answer_limit = 500;

// The percentage display of the transfer and the read-back: the console
// shows the number, the front-end a dot per step. On a terminal the line
// also shows the rate and the time left, rewritten in place, and the last
// one the bytes, seconds and bytes per second of the whole phase; a file or
// pipe gets the bare percentages, the same on every run.
struct Progress {
  long shown = -1;
  long done = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_line = start;

  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  void update(base::Output& out, long bytes, long total) {
    done = bytes;
    long percent = total > 0 ? static_cast<long>(static_cast<long long>(bytes) * 100 / total) : 100;
    const auto now = std::chrono::steady_clock::now();
    const bool refresh = out.interactive && now - last_line >= std::chrono::milliseconds(500);
    if (percent == shown && !refresh) return;
    if (percent != shown) report_text(out, ".", to_window);
    shown = percent;
    last_line = now;
    if (!out.interactive) {
      report_text(out, base::format("\r%3ld%c", percent, '%'), to_console);
      return;
    }
    const double elapsed = seconds();
    const double rate = elapsed > 0 ? bytes / elapsed : 0;
    std::string line = base::format("\r%3ld%c", percent, '%');
    if (rate > 0) {
      const long left = static_cast<long>((total - bytes) / rate + 0.5);
      line += base::format("  %.0f bytes/s, %ld:%02ld left  ", rate, left / 60, left % 60);
    }
    report_text(out, line, to_console);
  }

  void finish(base::Output& out) const {
    if (out.interactive) {
      const double elapsed = seconds();
      report_text(out, base::format("\r100%c Ok  %ld bytes in %.1f s, %.0f bytes/s%s\r\n", '%', done, elapsed,
                              elapsed > 0 ? done / elapsed : 0.0, "          "),
                  to_console);
    } else {
      report_text(out, base::format("\r100%c Ok\r\n", '%'), to_console);
    }
    report_text(out, "Ok\r\n", to_window | to_log);
  }
};

// One byte of the flash, or -1 when the module does not answer.
int read_flash_byte(LinkState& link, long address, int wait) {
  rx_drain(link);
  if (!send_command(link, flash_command('D', address, 1, 'R'))) return -1;
  if (!link.duzedadoridido) return read_byte(link, wait);
  wait_ticks(link, wait);
  Packet answer;
  return request_data(link, answer) >= 1 ? answer.data[0] : -1;
}

// Reads the whole payload back, block by block, and compares its CRC with
// the header's. Prints the verify's lines; 1 when the flash is right.
int verify_flash(LinkState& link, base::Output& out, const UploadHeader& h, long region2_start) {
  pause_ticks(link, 50);
  link.retries = 100;
  report_text(out, "Verify:", to_all);
  report_text(out, "\r\n", to_console);

  std::string title = base::format("#RI%ld,%ld,%ld,%ld;\x1bTP%c%cverify ", h.bar_left + 1, h.bar_top + 1, h.bar_right - 1,
                             h.bar_bottom - 1, 1, 1);
  bool ok = send_command(link, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(title.data()),
                                                            title.size())) != 0;
  const long total = std::max(0L, h.total);
  const long region1 = std::clamp(h.region1_length, 0L, total);
  // A header with no verify blocks (or a payload smaller than their count)
  // is read back in blocks of at least one byte; the CRC still decides.
  const long initial_block = std::max(1L, total / std::max(1L, h.verify_blocks));
  long block_length = initial_block;
  long address = 0;
  long read = 0;
  long rest = 0;
  int block_number = 0;
  std::uint16_t crc = 0;
  Progress progress;
  std::uint32_t last_data = tick_now(link);
  std::array<std::uint8_t, 255> bytes;
  while (ok && read < total) {
    if (rest == 0) {
      if (read == region1) {
        address = region2_start;
        block_length = initial_block;
      }
      long end = read < region1 ? region1 : total;
      block_length = std::min(block_length, end - read);
      ++block_number;
      std::array<std::uint8_t, 15> request;
      const auto bar = bar_command(2, block_number);
      const auto command = flash_command('D', address, block_length, 'R');
      std::copy(command.begin(), command.end(), std::copy(bar.begin(), bar.end(), request.begin()));
      if (!send_command(link, request)) {
        ok = false;
        break;
      }
      address += block_length;
      rest = block_length;
      last_data = tick_now(link);
    }
    long got = 0;
    if (!link.duzedadoridido) {
      got = std::min<long>(rest, plain_block_bytes);
      if (read_block(link, std::span<std::uint8_t>(bytes.data(), static_cast<std::size_t>(got)), 100) != got) {
        ok = false;
        break;
      }
    } else {
      Packet answer;
      got = request_data(link, answer);
      // More than the block still owes means the module answers something
      // else than was asked for.
      if (got < 0 || got > rest) {
        ok = false;
        break;
      }
      if (got == 0) {
        if (static_cast<std::uint32_t>(tick_now(link) - last_data) > empty_answer_limit) ok = false;
        continue;
      }
      last_data = tick_now(link);
      std::copy_n(answer.data.begin(), got, bytes.begin());
    }
    crc = base::crc16(bytes.data(), static_cast<std::size_t>(got), crc);
    read += got;
    rest -= got;
    progress.update(out, read, total);
  }
  if (!ok || crc != h.crc) {
    report_text(out, "\r\nERROR during verify\r\n", to_all);
    return 0;
  }
  progress.finish(out);
  send_command(link, end_of_upload);
  return 1;
}

// Sends the first `count` bytes of the file. Prints the percentages, the
// closing "Ok" and, on a failure, its message; 1 when everything was sent.
int transfer(LinkState& link, base::Output& out, const std::string& file, long count) {
  const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(file.data());
  long chunk = link.duzedadoridido ? framed_chunk : std::max(1, link.send_block);
  if (link.duzedadoridido) link.retries = 100;
  Progress progress;
  for (long sent = 0; sent < count;) {
    long n = std::min(chunk, count - sent);
    std::span<const std::uint8_t> piece(data + sent, static_cast<std::size_t>(n));
    if (!link.duzedadoridido) {
      if (!send_raw(link, piece)) {
        report_text(out, "\r\nERROR: Timeout (CTS) !\r\n", to_all);
        return 0;
      }
      sent += n;
      if (read_byte(link, 0) == 'E') {
        report_text(out, base::format("\r\nERROR: Cannot program DATA-FLASH at filepos %ld !\r\n", sent), to_all);
        return 0;
      }
    } else {
      // A chunk the module never acknowledged is reported like a chunk it
      // refused: the file position says where programming stopped.
      if (!send_data(link, piece)) {
        report_text(out, base::format("\r\nERROR: Cannot program DATA-FLASH at filepos %ld !\r\n", sent), to_all);
        return 0;
      }
      sent += n;
    }
    progress.update(out, sent, count);
  }
  progress.finish(out);
  return 1;
}

// Everything of a programming run between opening and closing the port.
int program_open_port(LinkSettings& s, LinkState& link, base::Output& out, const std::string& file,
                      const UploadHeader& h, bool complete) {
  std::string model_name =
      s.model >= 0 && s.model < static_cast<int>(base::models.size()) ? std::string(base::models[static_cast<std::size_t>(s.model)].name) : "";
  // With the scan off the rate is fixed, also when none was set: the module
  // is then looked for at 0 baud, which finds none.
  bool fixed = !s.autoscan;

  std::string line = base::format("\r\nconnecting %s", model_name.c_str());
  if (s.rs485_address >= 0) line = base::format("%s with RS485 address %d", line.c_str(), s.rs485_address);
  if (!s.usb_name.empty())
    line = base::format("%s on \"%s\"", line.c_str(), s.usb_name.c_str());
  else
    line = base::format("%s on %s", line.c_str(), port_label(s).c_str());
  if (fixed) line = base::format("%s with %d baud", line.c_str(), s.baud);
  report_text(out, line + "\r\n", to_all);

  link.retries = 2;
  int found = identify_module(s, link, out);
  if (found < 0) {
    if (found != other_module) report_text(out, "ERROR: not found !\r\n", to_all);
    return 0;
  }
  if (link.highest_address < h.total) {
    report_text(out, base::format("ERROR: not enough DATA-FLASH Memory !  (%ld bytes are needed)\r\n", h.total), to_all);
    return 0;
  }
  const long found_rate = base::baud_rates[static_cast<std::size_t>(found)];
  long rate = s.baud != 0 ? s.baud : found_rate;
  if (!link.duzedadoridido) {
    long limit = base::is_large_model(s.model) ? 19200 : 57600;
    if (rate > limit) {
      report_text(out, base::format("%ld baud is not possible without Duzedadoridido\r\n", rate), to_all);
      if (!s.autoscan) return 0;
      rate = limit;
    }
  } else {
    static constexpr std::uint8_t prepare[] = {packet_command, 3, 'D', 128, 10, 227};
    send_raw(link, prepare);
    wait_ticks(link, 20);
    rx_drain(link);
  }
  // A file without the end-of-upload command at its end is not sent; the
  // module was still looked for, so that the user sees whether it answers.
  if (!complete) return 0;

  bool changed = false;
  if (s.autoscan && rate != found_rate) {
    int index = base::baud_index(rate);
    if (index < 0 || !port_set_baud(link, rate)) {
      report_text(out, base::format("%s: it is not possible to change baudrate to %ld baud\r\n", port_label(s).c_str(), rate),
                  to_all);
      rate = found_rate;
    } else {
      wait_ticks(link, 10);
      port_set_baud(link, found_rate);
      wait_ticks(link, 10);
      const std::uint8_t change[] = {esc, '+', static_cast<std::uint8_t>(index)};
      if (link.duzedadoridido)
        send_raw(link, make_packet(packet_data, change));
      else
        send_raw(link, change);
      wait_ticks(link, 20);
      port_set_baud(link, rate);
      wait_ticks(link, 10);
      changed = true;
    }
  }
  if (changed)
    report_text(out, base::format("program file %s with %ld baud\r\n", s.upload_file.c_str(), rate), to_all);
  else
    report_text(out, base::format("program file %s\r\n", s.upload_file.c_str()), to_all);

  if (s.check_write_protect && flash_write_protected(link, link.highest_address, 20) &&
      flash_write_protected(link, link.highest_address, 50)) {
    report_text(out, base::format("ERROR: %s is write protected !\r\n", model_name.c_str()), to_all);
    return 0;
  }

  // With VERIFY the end-of-upload command is held back until the read-back
  // has shown the flash to be right.
  long count = static_cast<long>(file.size()) - (s.verify ? static_cast<long>(end_of_upload.size()) : 0L);
  if (!transfer(link, out, file, count)) return 0;

  if (s.verify) {
    // The region 2 start of the compile that wrote the file: the model line
    // sets it in a compile run; a programming-only run reads no macro file,
    // so it takes the value the header carries (the second number after the
    // first "#TP"), and failing that the usual start for the header's model.
    long region2_start = s.region1_size > 0    ? s.region1_size
                         : h.region2_start > 0 ? h.region2_start
                                               : base::region1_size(std::max(s.model, 0));
    if (!verify_flash(link, out, h, region2_start)) return 0;
  }
  report_text(out,
              base::format("Ready: Vexa is programed,  %ld bytes used, %ld bytes free\r\n", h.total,
                     link.highest_address - h.total + 1),
              to_all);
  return 1;
}

}  // namespace

int flash_write_protected(LinkState& link, long address, int wait) {
  int before = read_flash_byte(link, address, wait);
  if (before < 0) return 1;
  std::uint8_t inverted = static_cast<std::uint8_t>(before ^ 255);
  std::array<std::uint8_t, 11> write = {};
  auto command = flash_command('D', address, 1, 'W');
  std::copy(command.begin(), command.end(), write.begin());
  write[10] = inverted;
  send_command(link, write);
  wait_ticks(link, wait);
  return read_flash_byte(link, address, wait) == inverted ? 0 : 1;
}

int program_module(LinkSettings& s, LinkState& link, base::Output& out) {
  // The file is read once, whole; the transfer sends these bytes.
  std::string file;
  if (!base::read_whole_file(s.upload_file, file)) {
    report_text(out, base::format("Cannot open file %s !\r\n", s.upload_file.c_str()), to_all);
    return 0;
  }
  return program_upload(s, link, out, file);
}

int program_upload(LinkSettings& s, LinkState& link, base::Output& out, const std::string& file) {
  link.send_block = s.send_block;
  bool complete = has_end_of_upload(file);
  UploadHeader h = read_upload_header(file);
  if (!h.found) {
    report_text(out, base::format("%s is not a valid DATA-FLASH File for a Vexa !\r\n", s.upload_file.c_str()), to_all);
    return 0;
  }
  s.model = base::select_model(s.model, h.model_text);

  if (!port_open(link, port_device(s), 9600)) {
    report_text(out, base::format("\r\nERROR: cannot open %s: !\r\n", port_label(s).c_str()), to_all);
    return 0;
  }
  int result = 0;
  if (!s.autoscan && s.baud != 0 && !port_set_baud(link, s.baud))
    report_text(out, base::format("\r\nERROR: cannot open %s with %d baud !\r\n", port_label(s).c_str(), s.baud), to_all);
  else
    result = program_open_port(s, link, out, file, h, complete);
  port_close(link);
  return result;
}

}  // namespace vexa::link
