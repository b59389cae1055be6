#include <gtest/gtest.h>

#include "link/framing.h"
#include "link/serial.h"
#include "link_harness.h"

namespace vexa::link {
namespace {

using test::Simulator;
using test::SimulatorResult;

std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<std::uint8_t> v;
  for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
  return v;
}

std::string wire(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

// A link to a simulated module at 115200 with fast ticks.
struct FramedLink {
  Simulator sim;
  LinkState link;
  explicit FramedLink(std::vector<std::string> args) {
    args.insert(args.end(), {"--framed", "--rate", "115200"});
    EXPECT_TRUE(sim.start(args));
    link.tick_us = 1000;
    EXPECT_EQ(port_open(link, sim.device, 115200), 1);
  }
  SimulatorResult finish() {
    port_close(link);
    return sim.finish();
  }
};

TEST(Framing, PacketBytes) {
  EXPECT_EQ(make_packet(packet_data, bytes({32})), bytes({17, 1, 32, 50}));
  EXPECT_EQ(make_packet(packet_command, bytes({'S'})), bytes({18, 1, 83, 102}));
  EXPECT_EQ(make_packet(packet_command, bytes({'A', 'S', 5})), bytes({18, 3, 65, 83, 5, 174}));
  EXPECT_EQ(make_packet(packet_command, {}), bytes({18, 0, 18}));
  std::vector<std::uint8_t> full(255, 1);
  std::vector<std::uint8_t> p = make_packet(packet_data, full);
  ASSERT_EQ(p.size(), 258u);
  EXPECT_EQ(p[1], 255);
  EXPECT_EQ(p[257], (17 + 255 + 255) % 256);
}

TEST(Framing, PacketsAreAcknowledgedAndRepeatedUntilTheyAre) {
  const std::string packet = wire({17, 1, 32, 50});
  // A damaged packet is refused and sent again; a lost ACK makes it go again
  // after the ACK time-out.
  for (const char* fault : {"", "corrupt:1", "noack:1"}) {
    SCOPED_TRACE(fault);
    FramedLink f(*fault ? std::vector<std::string>{"--fault", fault} : std::vector<std::string>{});
    EXPECT_EQ(send_data(f.link, bytes({32})), 1);
    SimulatorResult r = f.finish();
    EXPECT_EQ(r.trace, *fault ? packet + packet : packet);
    // (an ACK the line loses still counts as sent)
    EXPECT_EQ(r.stat("acks"), std::string(fault) == "noack:1" ? 2 : 1);
    EXPECT_EQ(r.stat("naks"), std::string(fault) == "corrupt:1" ? 1 : 0);
  }
  // The address selects the module; another address is never answered,
  // and the tries end after the retry count.
  FramedLink f({"--address", "5"});
  f.link.retries = 3;
  EXPECT_EQ(send_packet(f.link, packet_command, bytes({'A', 'S', 6})), 0);
  EXPECT_EQ(send_packet(f.link, packet_command, bytes({'A', 'S', 5})), 1);
  std::string wrong = wire({18, 3, 65, 83, 6, 175});
  EXPECT_EQ(f.finish().trace, wrong + wrong + wrong + wire({18, 3, 65, 83, 5, 174}));
}

TEST(Framing, RequestDataAsksAgainWithROnlyAfterADamagedAnswer) {
  // The module's long identification answer for VexaG6: 480 x 272, 2^16 colours.
  const std::vector<std::uint8_t> who = bytes({255, 255, 'H', 224, 1, 16, 1, 16, 'A'});
  const std::uint8_t query[] = {27, '?'};
  // A lost answer is asked for with S again, but the module has moved on.
  struct Case {
    const char* fault;
    int received;
    std::string requests;  // what followed the query
  } cases[] = {{"", 9, wire({18, 1, 'S', 102, 18, 1, 'S', 102})},  // the second finds the buffer empty
               {"bad-answer:1", 9, wire({18, 1, 'S', 102, 18, 1, 'R', 101})},
               {"lose-answer:1", 0, wire({18, 1, 'S', 102, 18, 1, 'S', 102})}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.fault);
    FramedLink f(*k.fault ? std::vector<std::string>{"--fault", k.fault} : std::vector<std::string>{});
    ASSERT_EQ(send_data(f.link, query), 1);
    Packet answer;
    ASSERT_EQ(request_data(f.link, answer), k.received);
    if (k.received != 0) {
      EXPECT_EQ(std::vector<std::uint8_t>(answer.data.begin(), answer.data.begin() + 9), who);
      if (!*k.fault) {
        EXPECT_EQ(request_data(f.link, answer), 0);
      }
    }
    EXPECT_EQ(f.finish().trace.substr(5), k.requests);
  }
  FramedLink f({"--fault", "stop:1"});
  f.link.retries = 2;
  Packet answer;
  EXPECT_EQ(request_data(f.link, answer), -2);
}

TEST(Framing, ReceivePacketResults) {
  {
    Simulator sim;
    ASSERT_TRUE(sim.start({"--rate", "115200", "--model", "Panel09"}));
    LinkState link;
    link.tick_us = 1000;
    ASSERT_EQ(port_open(link, sim.device, 115200), 1);
    Packet p;
    EXPECT_EQ(receive_packet(link, p), -1);  // nothing comes: time-out
    // A plain module answers 65, 240, 'H': 65 starts no packet, and what
    // follows stays in the input.
    const std::uint8_t probe[] = {27, '?'};
    ASSERT_EQ(send_raw(link, probe), 1);
    EXPECT_EQ(receive_packet(link, p), -1);
    EXPECT_EQ(read_byte(link, 10), 'H');
    port_close(link);
  }
  {
    FramedLink f({"--fault", "bad-answer:1"});
    f.link.retries = 1;
    const std::uint8_t request[] = {'S'};
    Packet p;
    ASSERT_EQ(send_packet(f.link, packet_command, request), 1);
    EXPECT_EQ(receive_packet(f.link, p), 0);  // damaged, but handed out
    EXPECT_EQ(p.type, packet_data);
    EXPECT_EQ(p.length, 0);
    ASSERT_EQ(send_packet(f.link, packet_command, request), 1);
    EXPECT_EQ(receive_packet(f.link, p), 1);
  }
}

TEST(Framing, SendRawWritesEverythingInBlocks) {
  Simulator sim;
  ASSERT_TRUE(sim.start({"--rate", "9600"}));
  LinkState link;
  link.tick_us = 1000;
  ASSERT_EQ(port_open(link, sim.device, 9600), 1);
  std::vector<std::uint8_t> text(1000);
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<std::uint8_t>('a' + i % 26);
  for (int block : {0, 1, 7, 256}) {
    link.send_block = block;
    EXPECT_EQ(send_raw(link, text), 1);
  }
  port_close(link);
  SimulatorResult r = sim.finish();
  std::string one(text.begin(), text.end());
  EXPECT_EQ(r.trace, one + one + one + one);
}

}  // namespace
}  // namespace vexa::link
