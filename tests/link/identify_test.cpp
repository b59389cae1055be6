#include <gtest/gtest.h>

#include "link/identify.h"
#include "link/models.h"
#include "link/serial.h"
#include "link_harness.h"

namespace vexa::link {
namespace {

using test::CapturedContext;
using test::Simulator;
using namespace std::string_literals;

struct Outcome {
  int result = 0;
  std::string console;
  LinkState link;
  test::SimulatorResult sim;
};

// Identifies the simulated module started with sim_args, with the model
// `model` selected, at the fixed rate `baud` (0: scan).
Outcome identify(const std::vector<std::string>& sim_args, std::string_view model, long baud, int address = -1) {
  Outcome o;
  Simulator sim;
  EXPECT_TRUE(sim.start(sim_args));
  CapturedContext cc;
  Context& ctx = *cc.ctx;
  ctx.link.tick_us = 1000;
  ctx.settings.model = find_model(model);
  ctx.settings.autoscan = baud == 0;
  ctx.settings.baud = static_cast<int>(baud);
  ctx.settings.rs485_address = address;
  EXPECT_EQ(port_open(ctx.link, sim.device, 9600), 1);
  o.result = identify_module(ctx);
  port_close(ctx.link);
  o.console = cc.console();
  o.link = ctx.link;
  o.sim = sim.finish();
  return o;
}

// The result and the console of an identification.
std::pair<int, std::string> seen(const Outcome& o) { return {o.result, o.console}; }

TEST(Identification, ShortAnswersAndTheirMeaning) {
  // 65, 240, 'H': 65 is odd, so the width is 65 + 255 = 320; a Panel09.
  Outcome o = identify({"--geometry", "320,240,H,2,A", "--rate", "19200"}, "Panel09", 19200);
  EXPECT_EQ(seen(o), std::make_pair(4, "\r\nfound: Panel09 320x240, monochrome, 1024kB FLASH\r\n"s));
  EXPECT_FALSE(o.link.duzedadoridido);
  EXPECT_EQ(o.link.highest_address, 1024L * 1024 - 1);
  // The probe: ESC '?' and a DC1 packet with a blank, after the same
  // packet alone; then the size query.
  EXPECT_EQ(o.sim.trace, std::string("\x11\x01\x20\x32\x1b?\x11\x01\x20\x32\x1b&D\0\0\0\0\0\0R", 20));
  EXPECT_EQ(seen(identify({"--geometry", "320,240,H,2,A", "--rate", "19200"}, "VexaG4", 19200)),
            std::make_pair(other_module, "\r\nERROR: wrong Module!\r\n(Macrofile, written for Orix VexaG4 does not "
                                         "match with connected Orix Panel09)\r\n"s));
  // A Panel06 mounted upright answers 128, 160 (128 is even: no correction),
  // which matches in either orientation only for the selected model.
  EXPECT_EQ(seen(identify({"--model", "Panel06", "--swapped", "--rate", "9600", "--flash-kb", "512"}, "Panel06", 9600)),
            std::make_pair(3, "\r\nfound: Panel06 128x160, monochrome, 512kB FLASH\r\n"s));
  o = identify({"--model", "Panel04", "--rate", "9600"}, "VexaG1", 9600);
  EXPECT_EQ(o.result, other_module);  // Panel03 and Panel04 look alike: the first row is named
  EXPECT_NE(o.console.find("connected Orix Panel03)"), std::string::npos);
}

TEST(Identification, LongAnswersInBothModes) {
  EXPECT_EQ(seen(identify({"--model", "VexaG6", "--rate", "57600"}, "VexaG6", 57600)),
            std::make_pair(6, "\r\nfound: VexaG6 480x272, color, 1024kB FLASH\r\n"s));
  Outcome o = identify({"--model", "VexaG6", "--framed", "--rate", "115200", "--flash-kb", "2048"}, "VexaG6", 115200);
  EXPECT_EQ(seen(o), std::make_pair(7, "\r\nfound: VexaG6 480x272, color, Duzedadoridido, 2048kB FLASH\r\n"s));
  EXPECT_TRUE(o.link.duzedadoridido);
  EXPECT_EQ(o.link.highest_address, 2048L * 1024 - 1);
  // The probe's packet, C 255, the send buffer emptied, the query packet
  // (ESC M S 0, ESC ?), then the size.
  EXPECT_EQ(o.sim.log, "dc1 1\ndc2 C\ndc2 S\ndc1 6\nmode 0\nprobe\ndc2 S\ndc1 10\nsize\ndc2 S\n");

  // A module of the short kind in Duzedadoridido mode, selected by address.
  const std::vector<std::string> addressed = {"--model", "Panel08", "--framed", "--rate", "38400", "--address", "7"};
  o = identify(addressed, "Panel08", 38400, 7);
  EXPECT_EQ(seen(o), std::make_pair(5, "\r\nfound: Panel08 240x128, monochrome, Duzedadoridido, 1024kB FLASH\r\n"s));
  EXPECT_EQ(o.sim.trace.substr(4, 8), std::string("\x1b?\x12\x03\x41\x53\x07\xb0", 8));
  EXPECT_EQ(seen(identify(addressed, "Panel08", 38400, 8)), std::make_pair(no_module, "\r\n"s));
}

TEST(Identification, ScanFindsTheRateAndReportsIt) {
  Outcome o = identify({"--model", "VexaG3", "--rate", "57600"}, "VexaG3", 0);
  EXPECT_EQ(seen(o), std::make_pair(6, "...\r\nfound: VexaG3 240x128, monochrome, 1024kB FLASH, 57600 baud\r\n"s));
  EXPECT_EQ(o.link.baud_index, 6);
  EXPECT_GT(o.sim.stat("garbled"), 0);  // the probes at 230400 and 115200

  o = identify({"--model", "VexaG3", "--rate", "230400", "--no-size"}, "VexaG3", 0);
  EXPECT_EQ(seen(o), std::make_pair(8, ".\r\nfound: VexaG3 240x128, monochrome, 0kB FLASH, 230400 baud\r\n"s));
  EXPECT_EQ(o.link.highest_address, -1);
}

TEST(Identification, ModulesThatDoNotCount) {
  EXPECT_EQ(seen(identify({"--geometry", "100,50,H,2,A", "--rate", "9600"}, "VexaG1", 9600)),
            std::make_pair(other_module, "\r\nERROR: Unknown Module!\r\n(100x50 with 2 colors)\r\n"s));
  EXPECT_EQ(seen(identify({"--geometry", "640,480,v,256,B", "--rate", "9600", "--framed"}, "VexaG1", 9600)),
            std::make_pair(other_module, "\r\nERROR: Unknown Module!\r\n(640x480 with 256 colors)\r\n"s));
  // No type letter: not a module at all, nothing printed here.
  EXPECT_EQ(seen(identify({"--geometry", "100,50,X,2,A", "--rate", "9600"}, "VexaG1", 9600)),
            std::make_pair(no_module, "\r\n"s));
  // 460800 is never an identification rate, even when the module answers.
  Outcome o = identify({"--model", "VexaG6", "--rate", "460800", "--framed"}, "VexaG6", 460800);
  EXPECT_EQ(o.result, no_module);
  EXPECT_EQ(o.sim.stat("acks"), 1);  // it did answer
  // A silent line.
  EXPECT_EQ(identify({"--model", "VexaG6", "--rate", "9600", "--fault", "stop:1"}, "VexaG6", 9600).result, no_module);
}

}  // namespace
}  // namespace vexa::link
