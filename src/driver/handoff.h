// Passing the result of a successful compile on: starting the simulator
// program with the upload file, or handing the upload file to a running
// simulator window, and turning a USB device name into the port that the
// programming step uses.
#pragma once

#include <string>

namespace vexa::command {
struct Context;
}

namespace vexa::driver {

// The upload file name made absolute against the current directory. Also a
// name with a folder is made absolute: the simulator starts in its own
// folder, where a relative name would name another file.
std::string upload_file_path(const std::string& upload_file);

// Starts the simulator program with the upload file path as its only
// argument, in the program's own directory, without waiting for it.
// 1 when the program was started, 0 otherwise.
int start_simulator(const std::string& simulator, const std::string& upload_path);

// Called after the memory overview of a compile without errors: serves the
// simulator (SIMULATION) or a running simulator window, then resolves the USB
// device name (USB) to a port. Returns the hand-off failure flag, which is
// also set in ctx.settings.
bool hand_off(command::Context& ctx);

}  // namespace vexa::driver
