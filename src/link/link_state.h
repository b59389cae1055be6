// State of the serial link to a module for one programming run: the open
// port with its receive queue, the framing's retry count, and what the
// identification found out about the module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexa::link {

// Length of one tick of the link's time-outs, in microseconds.
inline constexpr long tick_microseconds = 10000;

// What a programming run takes from the run's settings (command line and
// directives); the driver fills it from them.
struct LinkSettings {
  std::string upload_file;
  int com_port = 0;             // 0: no port
  std::string com_device;       // a device path given with -c instead of a number
  int baud = 0;                 // 0: automatic
  int send_block = 8;           // bytes per serial write
  int rs485_address = -1;       // -1: none
  int autoscan = 1;
  int check_write_protect = 1;
  bool verify = false;
  std::string usb_name;         // shown instead of the port
  int model = -1;               // selected model; the upload file's model line selects again
  int region1_size = 0;
};

struct LinkState {
  // Serial port
  int port_fd = -1;
  // A port backed by memory instead of a device (fuzzing): rx holds every
  // byte the module will send, and the reads take them in order, one read
  // after the other, and time out at once when none are left; a drain
  // discards nothing, writes are swallowed and waits take no time. Such a
  // port is open until it is closed.
  bool memory_port = false;
  std::vector<std::uint8_t> rx;  // bytes taken from the driver, not yet consumed
  std::size_t rx_head = 0;       // first unconsumed byte of rx
  std::uint32_t line_errors[5] = {0, 0, 0, 0, 0};  // last error counters of the driver
  int send_block = 8;                 // bytes per write of a raw transfer
  long tick_us = tick_microseconds;   // tests shorten the tick to run faster

  // Framing
  int retries = 100;  // attempts per packet

  // Identification
  bool duzedadoridido = false;  // protocol mode: framed packets instead of plain bytes
  int baud_index = -1;          // rate at which the module answered
  long highest_address = -1;    // last DATA-FLASH address, -1 when unknown
};

}  // namespace vexa::link
