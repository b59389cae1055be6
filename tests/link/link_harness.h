// Helpers of the link tests: the module simulator (build/vexasim) as a child
// process, upload files written by build/vexac, and a programming run of the
// compiler against the simulator.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "link/link_state.h"
#include "link/program.h"
#include "test_support.h"
#include "wire_helpers.h"

namespace vexa::test {

// What the simulator left behind when it ended.
struct SimulatorResult {
  std::vector<std::uint8_t> flash;
  std::map<std::string, long long> status;  // its counters
  std::string log;    // one line per command or packet
  std::string trace;  // every byte received
  long long stat(const std::string& key) const { return status.count(key) ? status.at(key) : -1; }
};

struct Simulator {
  TempDir dir;
  std::FILE* control = nullptr;  // the simulator's standard input; closing it ends the run
  std::string device;

  ~Simulator() { finish(); }

  // Starts the simulator with args; true once it has named its terminal.
  bool start(const std::vector<std::string>& args) {
    std::string command = VEXASIM_PATH;
    for (const std::string& a : args) command += " '" + a + "'";
    for (std::string f : {"dump", "status", "log", "trace"}) command += " --" + f + " " + dir.file(f);
    control = ::popen((command + " >" + dir.file("device")).c_str(), "we");
    for (int i = 0; control != nullptr && i < 5000 && device.find('\n') == std::string::npos; ++i, ::usleep(200))
      device = read_file(dir.file("device"));
    bool named = device.find('\n') != std::string::npos;
    device = device.substr(0, device.find('\n'));
    return named;
  }

  SimulatorResult finish() {
    SimulatorResult r;
    if (control == nullptr) return r;
    ::pclose(control);
    control = nullptr;
    r.flash = read_bytes(dir.file("dump"));
    r.log = read_file(dir.file("log"));
    r.trace = read_file(dir.file("trace"));
    std::istringstream in(read_file(dir.file("status")));
    std::string key;
    for (long long value; in >> key >> value;) r.status[key] = value;
    return r;
  }
};

// The upload file and the object file of one compile of folder/main.txt.
struct Compiled {
  std::string upload;  // path of the .DF
  std::vector<std::uint8_t> object;
};

inline Compiled compile_in(const std::string& folder) {
  ProcessResult r = run_vexac({"main.txt", "-o"}, folder);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  return {folder + "/main.DF", read_bytes(folder + "/main.DFO")};
}

// The case tests/projects/<name>, compiled once per test program.
inline const Compiled& link_case(const std::string& name) {
  static TempDir dir;
  static std::map<std::string, Compiled> cases;
  if (cases.count(name) == 0) {
    std::filesystem::copy(VEXA_SOURCE_DIR "/tests/projects/" + name, dir.file(name),
                          std::filesystem::copy_options::recursive);
    cases[name] = compile_in(dir.file(name));
  }
  return cases[name];
}

inline bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Programming {
  int result = -1;
  std::string console;
  std::string window;  // the texts a front-end got, '?' after one without end code 3
  SimulatorResult sim;
  long milliseconds = 0;
};

// What the driver hands a programming run: its link settings and link.
struct LinkRun {
  link::LinkSettings settings;
  link::LinkState link;
};

// Programs the upload file `file` into a simulator started with sim_args.
// The settings start fresh (the simulator's device, the scan on, verify off)
// with ticks of 1 ms; setup changes them. One context serves many runs.
inline Programming program(CapturedContext& cc, const std::string& file, const std::vector<std::string>& sim_args,
                           const std::function<void(LinkRun&)>& setup = {}) {
  Programming p;
  Simulator sim;
  EXPECT_TRUE(sim.start(sim_args));
  command::Context& ctx = *cc.ctx;
  std::size_t console_before = cc.console().size();
  LinkRun run;
  run.link.tick_us = 1000;
  run.settings.upload_file = file;
  run.settings.com_device = sim.device;
  ctx.out.window_fd = ::open(sim.dir.file("window").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (setup) setup(run);
  auto start = std::chrono::steady_clock::now();
  p.result = link::program_module(run.settings, run.link, ctx.out);
  p.milliseconds = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  ::close(ctx.out.window_fd);
  ctx.out.window_fd = -1;
  for (const auto& [text, end] : window_texts(read_file(sim.dir.file("window")))) p.window += text + (end == 3 ? "" : "?");
  p.console = cc.console().substr(console_before);
  p.sim = sim.finish();
  return p;
}

// The flash holds the object file; every other byte is erased but the one
// at the top that the write-protect check inverted.
inline void expect_programmed(const SimulatorResult& sim, const std::vector<std::uint8_t>& object) {
  ASSERT_FALSE(object.empty());
  ASSERT_GE(sim.flash.size(), object.size());
  std::vector<std::uint8_t> expected = object;
  expected.resize(sim.flash.size() - 1, 255);
  expected.push_back(0);
  EXPECT_TRUE(sim.flash == expected) << "the flash is not the object file";
}

}  // namespace vexa::test
