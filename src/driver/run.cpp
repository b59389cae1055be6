#include "driver/run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "base/format.h"
#include "base/models.h"
#include "base/paths.h"
#include "command/command_list.h"
#include "command/context.h"
#include "command/macros.h"
#include "command/source.h"
#include "driver/dataflash.h"
#include "driver/dispatch.h"
#include "driver/dump.h"
#include "driver/handoff.h"
#include "driver/extract.h"
#include "driver/listing.h"
#include "link/link_state.h"
#include "link/program.h"

namespace vexa::driver {

namespace {

const char* const banner = "vexac " VEXAC_VERSION " - macro compiler for Vexa display modules\r\n\r\n";

const char* const usage =
    "usage: vexac [options] [macrofile | uploadfile.DF]\n"
    "\n"
    "Compiles a macro file into a DATA-FLASH upload file (.DF), or programs a\n"
    "module with an upload file named on the command line.\n"
    "\n"
    "options (the value follows the letter directly, letters in any case):\n"
    "  -b<rate>    baud rate for programming (1200 ... 460800)\n"
    "  -c<n>       COM port n for programming; -c<path> a serial device path\n"
    "  -s<n>       bytes per serial write (at most 256)\n"
    "  -m<fd>      front-end descriptor: every text is also written there as\n"
    "              12-byte message records\n"
    "  -o          also write the object file (.DFO)\n"
    "  -h, -?, --help\n"
    "              this text (wherever it stands)\n"
    "  --version   the version\n"
    "  --commands  list the display commands: name, parameters, models\n"
    "  --dump-image FILE [BASE]\n"
    "              load an image file as the compiler reads it, write every\n"
    "              image as BASE_nnn.bmp and list the images\n"
    "  --list FILE list an upload file (.DF) or object file (.DFO): model,\n"
    "              project, regions, checksums checked, every resource and macro\n"
    "  --extract FILE DIR\n"
    "              decode every image, string and macro of an upload or object\n"
    "              file into DIR: BMP files by kind, page, number and frame\n"
    "\n"
    "exit codes: 0 the run did what was asked; 1 errors were found in the macro\n"
    "file; 2 the run could not do what was asked (no macro file name, a macro\n"
    "file that cannot be opened, an unknown option, a programming run or a\n"
    "hand-off that failed).\n"
    "environment: VEXA_COM<n> (device of COM port n), VEXA_RANDOM_SEED (fixed\n"
    "seed of RANDOM), NO_COLOR (no colours on the console).\n";

// Exit codes. Scripts tell a run that did what was asked from one whose
// macro file has errors, and both from one that could not run at all.
constexpr int exit_done = 0;
constexpr int exit_errors = 1;
constexpr int exit_failed = 2;

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void seed_random(command::Context& ctx) {
  const char* seed = std::getenv("VEXA_RANDOM_SEED");
  if (seed != nullptr && *seed != '\0')
    ctx.eval.random.seed(static_cast<std::mt19937::result_type>(std::strtoul(seed, nullptr, 10)));
  else
    ctx.eval.random.seed(static_cast<std::mt19937::result_type>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
}

void read_command_line(command::Context& ctx, const std::vector<std::string>& args) {
  command::Settings& s = ctx.settings;
  for (const std::string& arg : args) {
    if (arg.empty()) continue;
    if (arg[0] != '-') {
      s.macro_file = base::to_slashes(arg);
      continue;
    }
    char letter = arg.size() > 1 ? static_cast<char>(std::tolower(static_cast<unsigned char>(arg[1]))) : '\0';
    const char* value = arg.c_str() + std::min<std::size_t>(2, arg.size());
    switch (letter) {
      case 'b': {
        long rate = std::strtol(value, nullptr, 10);
        if (base::baud_index(rate) < 0) {
          report_text(ctx.out, base::format("Baudrate %ld is not supported !\n", rate), base::to_console);
          s.baud = 0;
        } else {
          s.baud = static_cast<int>(rate);
        }
        break;
      }
      case 'c':
        if (std::isdigit(static_cast<unsigned char>(value[0]))) {
          s.com_port = static_cast<int>(std::min(std::strtol(value, nullptr, 10), 1000000L));
          s.com_device.clear();
        } else if (value[0] == '/') {
          s.com_device = value;  // a serial device named by its path
          s.com_port = 0;
        } else {
          report_text(ctx.out, base::format("Comport %s is not supported !\n", arg.c_str()), base::to_console);
        }
        break;
      case 's': {
        long size = std::strtol(value, nullptr, 10);
        s.send_block = static_cast<int>(std::min(size, 256L));
        break;
      }
      case 'm': {
        // A descriptor the front-end did not leave open is no window: the
        // log or the serial port opened later would take its number and
        // receive the window records.
        long fd = std::strtol(value, nullptr, 10);
        ctx.out.window_fd =
            fd > 0 && fd < 65536 && ::fcntl(static_cast<int>(fd), F_GETFD) != -1 ? static_cast<int>(fd) : -1;
        break;
      }
      case 'o': s.write_object = true; break;
      default: break;  // other letters are ignored
    }
  }
}

bool com_port_set(const command::Settings& s) { return s.com_port > 0 || !s.com_device.empty(); }

char char_at_or_zero(const std::string& text, std::size_t i) { return i < text.size() ? text[i] : '\0'; }

// Programs the module with the upload file of the run. The link to the
// module lives for this one programming; the upload file's model line
// selects the model again, as it would for a file given on the command line.
bool program_upload(command::Context& ctx) {
  const command::Settings& s = ctx.settings;
  link::LinkSettings link_settings{s.upload_file, s.com_port, s.com_device, s.baud, s.send_block,
                                   s.rs485_address, s.autoscan, s.check_write_protect, s.verify,
                                   s.usb_name, s.model, s.region1_size};
  link::LinkState link;
  const int programmed = link::program_module(link_settings, link, ctx.out);
  ctx.settings.model = link_settings.model;
  return programmed != 0;
}

// After the memory overview: the simulator or a simulator window gets the
// upload file, a USB device name becomes the COM port, and the module is
// programmed when a COM port is known.
void hand_over(command::Context& ctx) {
  hand_off(ctx);
  if (!com_port_set(ctx.settings)) return;
  if (ctx.out.window_fd >= 0) sleep_ms(200);
  if (!program_upload(ctx)) ctx.settings.handoff_failed = true;
}

// The outcome for a front-end; nothing of it goes to the console or the log.
int finish(command::Context& ctx) {
  base::Output& out = ctx.out;
  if (out.log != nullptr) {
    std::fclose(out.log);
    out.log = nullptr;
  }
  if (out.error_count == 0 && !ctx.settings.handoff_failed) {
    // A front-end may close its window at once; the pause lets the user read
    // it. A terminal stays open, so no pause there.
    if (out.window_fd >= 0) {
      sleep_ms(2000);
      base::report_text(out, "R E A D Y", base::to_window);
    }
  } else if (out.window_fd >= 0) {
    base::report_text(out, "E R R O R", base::to_window);
  }
  close_all_sources(ctx);
  if (out.error_count != 0) return exit_errors;
  return ctx.settings.handoff_failed ? exit_failed : exit_done;
}

}  // namespace

int run(command::Context& ctx, const std::vector<std::string>& args) {
  command::Settings& s = ctx.settings;
  base::Output& out = ctx.out;
  base::set_text_colour(out, base::colour_normal);
  base::report_text(out, banner, base::to_console);
  seed_random(ctx);
  read_command_line(ctx, args);

  if (s.macro_file.empty()) {
    report_text(out, "Filename: ", base::to_console);
    s.macro_file = base::to_slashes(base::read_console_line(out));
    if (s.macro_file.empty()) {
      base::report_error_text(out, "error: no File!", base::to_console | base::to_window);
      return exit_failed;
    }
  }

  // Run mode by extension: an upload file (.DF, .DFO ...) is programmed as it
  // is. Only a '.' in the file's own name counts: on Linux folders with a dot
  // in their names are common (~/.local, build.d), and "proj.d/panel" is a
  // macro file named panel, not an upload file.
  std::string base = s.macro_file;
  std::size_t slash = base.find_last_of('/');
  std::size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    if (std::tolower(static_cast<unsigned char>(char_at_or_zero(base, dot + 1))) == 'd' &&
        std::tolower(static_cast<unsigned char>(char_at_or_zero(base, dot + 2))) == 'f') {
      s.upload_file = s.macro_file;
      if (!com_port_set(s)) {
        report_text(out, base::format("warning: %s is not programmed: no port given; name one with -c<n> (its\r\n"
                                "device set by VEXA_COM<n>) or -c/dev/ttyUSB0\r\n",
                                s.upload_file.c_str()), base::to_console);
        return exit_failed;
      }
      return program_upload(ctx) ? exit_done : exit_failed;
    }
    base.resize(dot);
  }

  s.macro_directory = base::directory_of(base);
  s.upload_file = base + ".DF";
  s.object_file = base + ".DFO";
  s.log_file = base + ".log";
  out.log = std::fopen(s.log_file.c_str(), "wb");
  out.error_count = 0;
  report_text(out, banner, base::to_window | base::to_log);

  if (open_source(ctx, s.macro_file, 1)) {
    // The encoded commands are rarely longer than their text: room for that
    // many macro bytes saves growing the area step by step.
    ctx.flash.image.reserve(std::min(ctx.source.levels[0].content.size(), base::limits::work_area));
  } else {
    if (out.log != nullptr) {
      std::fclose(out.log);
      out.log = nullptr;
    }
    return exit_failed;
  }
  while (ctx.source.current >= 0) {
    if (read_source_line(ctx))
      dispatch_line(ctx);
    else if (!end_of_source(ctx))
      break;
  }

  command::close_macro(ctx);
  layout_image(ctx);
  if (out.error_count == 0) {
    write_outputs(ctx);
    if (out.error_count == 0) {
      print_memory_overview(ctx);
      hand_over(ctx);
    }
  }
  if (out.error_count != 0) {
    report_text(out, base::format("\r\n---> found %d Errors !\r\n", out.error_count), base::to_all);
    report_text(out, base::format("---> see File <%s>\r\n", s.log_file.c_str()), base::to_console);
  }
  return finish(ctx);
}

int run_program(int argc, char** argv) {
  // A front-end or pipe that goes away must not end the compiler: writes to
  // it fail quietly instead.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  // A tool named first takes the rest of the command line as its own.
  if (!args.empty() && args[0] == "--dump-image")
    return dump_image_command(std::vector<std::string>(args.begin() + 1, args.end()));
  if (!args.empty() && args[0] == "--extract")
    return extract_command(std::vector<std::string>(args.begin() + 1, args.end()));
  if (!args.empty() && args[0] == "--list") return list_command(std::vector<std::string>(args.begin() + 1, args.end()));
  for (const std::string& arg : args)
    if (arg == "--help" || arg == "-h" || arg == "-H" || arg == "-?") {
      std::fputs(usage, stdout);
      return exit_done;
    }
  for (const std::string& arg : args) {
    if (arg == "--version") {
      std::printf("vexac %s\n", VEXAC_VERSION);
      return exit_done;
    }
    if (arg == "--commands") {
      std::fputs(command::command_list().c_str(), stdout);
      return exit_done;
    }
    if (arg.rfind("--", 0) == 0) {
      std::fprintf(stderr, "vexac: unknown option %s\n%s(vexac --help lists the options)\n", arg.c_str(),
                   std::string(usage, std::strchr(usage, '\n') + 1).c_str());
      return exit_failed;
    }
  }
  auto ctx = std::make_unique<command::Context>();
  ctx->out.interactive = ::isatty(1);
  ctx->out.ansi_colour = ctx->out.interactive && std::getenv("NO_COLOR") == nullptr;
  int code = run(*ctx, args);
  std::fflush(stdout);
  return code;
}

}  // namespace vexa::driver
