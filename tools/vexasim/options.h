// The command line of vexasim: which module it plays, which faults it
// injects, and where it leaves its results.
#pragma once

#include <string>
#include <vector>

namespace vexa::sim {

// ORDER: fault_names in options.cpp lists the kinds in this order.
enum class FaultKind {
  drop_byte,     // the Nth byte received is lost
  corrupt_byte,  // the Nth byte received is changed
  drop,          // the last byte of the Nth operation is lost
  corrupt,       // the last byte of the Nth operation is changed
  noack,         // the Nth ACK is not sent
  bad_answer,    // the Nth answer goes out with its last byte changed
  lose_answer,   // the Nth answer is not sent
  error,         // the Nth write command (plain) or DC1 packet (framed) is refused with 'E'
  stop,          // from the Nth operation on, nothing is answered
  stop_write,    // from the Nth write command on, nothing is answered
  hang,          // from the Nth operation on, nothing is read from the line
  unplug,        // at the Nth operation the line is closed
};

struct Fault {
  FaultKind kind;
  long n;  // counts from 1
  bool fired = false;
};

// Form of the identification answer: the 3-byte short form can only describe
// a monochrome module of series A whose width fits its encoding.
enum class AnswerForm { automatic, short_form, long_form };

struct Options {
  // The module: a VexaG6 unless told otherwise.
  int width = 480, height = 272, type = 'H', colours = 65536, series = 'A';
  bool swapped = false;  // mounted the other way: width and height exchanged
  AnswerForm answer = AnswerForm::automatic;
  bool framed = false;  // speaks Duzedadoridido instead of plain bytes
  long rate = 115200;   // line rate at start
  long flash_kb = 1024;
  bool size_answer = true;  // answers the flash size query
  bool write_protected = false;
  int address = -1;  // RS-485 address, -1: none
  // Line behaviour
  bool throttle = false;  // every byte takes its time at the rate in force
  bool any_rate = false;  // bytes sent at another rate are taken all the same
  int gap_ms = 20;        // a packet silent this long is dropped
  std::vector<Fault> faults;
  // Results, written when the run ends (empty: not written)
  std::string dump, status, log, trace;
};

extern const char* const usage_text;

enum class ParseResult { run, help, error };

// Reads the arguments (argv[1] on) into options. On an error, message says
// what was wrong with which argument.
ParseResult parse_options(int argc, char** argv, Options& options, std::string& message);

}  // namespace vexa::sim
