// The serial port: one open port per link, raw 8N1 without flow control,
// byte and block transfer with time-outs counted in ticks of 10 ms, rate
// changes, draining of pending input, and the search of a USB serial device
// by its name. Nothing here prints; results say what happened.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "link/link_state.h"

namespace vexa::link {

// Ticks: the monotonic clock in units of link.tick_us (10 ms).
std::uint32_t tick_now(const LinkState& link);
// Waits until the tick value has changed n + 1 times (between n and n + 1 ticks).
void wait_ticks(const LinkState& link, int n);
// A fixed pause of n ticks (n times 10 ms).
void pause_ticks(const LinkState& link, int n);

// The device of the port the settings name: a device path given with -c;
// else for COM port n the path in the environment variable VEXA_COM<n>, or
// /dev/ttyS<n-1>. Empty when no port is set.
std::string port_device(const LinkSettings& settings);
// How messages name the port: "COM<n>", or the device path given with -c.
std::string port_label(const LinkSettings& settings);

// Opens and configures the port at baud. 1 when open, 0 otherwise.
int port_open(LinkState& link, const std::string& device, long baud);
// Waits 50 ms, drains the input and closes; nothing when no port is open.
void port_close(LinkState& link);
// 1 on success or when no port is open, 0 when the rate is refused.
int port_set_baud(LinkState& link, long baud);
// Waits until the output is sent, then pauses n ticks.
void port_flush(LinkState& link, int n);
// Bytes waiting; a negative value is the negated mask of line errors seen
// since the last call; -1 when no port is open.
int rx_count(LinkState& link);
// Discards all pending input.
void rx_drain(LinkState& link);
// The next byte (0 to 255), or -1 when none came within timeout ticks.
// With timeout 0 exactly one attempt is made.
int read_byte(LinkState& link, int timeout);
// Waits up to timeout ticks for bytes.size() bytes and takes them: the count
// when all came, else 0 (what came is consumed); -1 when no port is open.
int read_block(LinkState& link, std::span<std::uint8_t> bytes, int timeout);
// 1 when written, 0 otherwise. A write is bounded by 1 ms per byte + 1000 ms.
int write_byte(LinkState& link, int byte);
int write_block(LinkState& link, std::span<const std::uint8_t> bytes);

// Searches the USB serial devices for one whose friendly name
// "<manufacturer> <product> (<device path>)" contains name (letters compared
// without regard to case). On a match name becomes the friendly name, device
// the device path, and the result is the device's place (1, 2, ...) among the
// USB serial devices in name order. 0 when none matches, -1 when the system
// has no tty class to search.
int find_com_by_name(std::string& name, std::string& device);

}  // namespace vexa::link
