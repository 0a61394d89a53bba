#include "sim/server_options.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

namespace fwu::sim {

namespace {

constexpr std::uint64_t kUsPerMs = 1'000;
// A reply later than the host's longest wait (3000 ms for an answer) is no reply; the bound keeps the sum safe.
constexpr std::uint64_t kMaxReplyDelayMs = 60'000;
constexpr int kMaxCount = 1'000'000;

std::optional<std::uint64_t> ParseNumber(std::string_view text, int base, std::uint64_t max) {
  if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) {
    text.remove_prefix(2);
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > max) {
    return std::nullopt;
  }
  return value;
}

// Two hex code bytes: "03:20", "03-20" or "0320".
std::optional<CommandCode> ParseCode(std::string_view text) {
  std::string_view first;
  std::string_view second;
  if (text.size() == 5 && (text[2] == ':' || text[2] == '-')) {
    first = text.substr(0, 2);
    second = text.substr(3, 2);
  } else if (text.size() == 4) {
    first = text.substr(0, 2);
    second = text.substr(2, 2);
  } else {
    return std::nullopt;
  }
  const auto command = ParseNumber(first, 16, 0xFF);
  const auto qualifier = ParseNumber(second, 16, 0xFF);
  if (!command || !qualifier) {
    return std::nullopt;
  }
  return CommandCode{static_cast<std::uint8_t>(*command), static_cast<std::uint8_t>(*qualifier)};
}

// "CODE=VALUE" with VALUE read in base and bounded by max.
std::optional<std::pair<CommandCode, std::uint64_t>> ParseCodeValue(std::string_view text, int base,
                                                                    std::uint64_t max) {
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) {
    return std::nullopt;
  }
  const auto code = ParseCode(text.substr(0, equals));
  const auto value = ParseNumber(text.substr(equals + 1), base, max);
  if (!code || !value) {
    return std::nullopt;
  }
  return std::pair{*code, *value};
}

using Setter = std::function<std::string(ServerOptions&, std::string_view)>;

std::string Text(std::string ServerOptions::*field, ServerOptions& options, std::string_view value) {
  if (value.empty()) {
    return "needs a non-empty value";
  }
  options.*field = std::string(value);
  return {};
}

Setter Path(std::string ServerOptions::*field) {
  return [field](ServerOptions& options, std::string_view value) { return Text(field, options, value); };
}

Setter Count(int Faults::*field) {
  return [field](ServerOptions& options, std::string_view value) -> std::string {
    const auto count = ParseNumber(value, 10, kMaxCount);
    if (!count) {
      return "needs a count from 0 to " + std::to_string(kMaxCount);
    }
    options.loader.faults.*field = static_cast<int>(*count);
    return {};
  };
}

const std::map<std::string_view, Setter>& ValueOptions() {
  static const std::map<std::string_view, Setter> options{
      {"--link", Path(&ServerOptions::linkPath)},
      {"--log", Path(&ServerOptions::logPath)},
      {"--load-main", Path(&ServerOptions::loadMain)},
      {"--load-second", Path(&ServerOptions::loadSecond)},
      {"--dump-main", Path(&ServerOptions::dumpMain)},
      {"--dump-second", Path(&ServerOptions::dumpSecond)},
      {"--expect-main", Path(&ServerOptions::expectMain)},
      {"--expect-second", Path(&ServerOptions::expectSecond)},
      {"--program-kind",
       [](ServerOptions& o, std::string_view v) -> std::string {
         const auto kind = ParseNumber(v, 16, 0xFF);
         if (!kind) {
           return "needs a hex byte, such as 10 or 0x20";
         }
         o.loader.programKind = static_cast<std::uint8_t>(*kind);
         return {};
       }},
      {"--version",
       [](ServerOptions& o, std::string_view v) -> std::string {
         o.loader.version = std::string(v);
         return {};
       }},
      {"--boot-reply",
       [](ServerOptions& o, std::string_view v) -> std::string {
         o.loader.bootReplyBody = std::string(v);
         return {};
       }},
      {"--reply-delay",
       [](ServerOptions& o, std::string_view v) -> std::string {
         const auto ms = ParseNumber(v, 10, kMaxReplyDelayMs);
         if (!ms) {
           return "needs milliseconds from 0 to " + std::to_string(kMaxReplyDelayMs);
         }
         o.loader.replyDelayUs = *ms * kUsPerMs;
         return {};
       }},
      {"--nak-commands", Count(&Faults::nakCommands)},
      {"--damage-responses", Count(&Faults::damageResponses)},
      {"--stop-after-blocks",
       [](ServerOptions& o, std::string_view v) -> std::string {
         const auto count = ParseNumber(v, 10, kMaxCount);
         if (!count) {
           return "needs a count from 0 to " + std::to_string(kMaxCount);
         }
         o.loader.faults.stopAfterBlockWrites = static_cast<int>(*count);
         return {};
       }},
      {"--status",
       [](ServerOptions& o, std::string_view v) -> std::string {
         const auto parsed = ParseCodeValue(v, 16, 0xFFFF);
         if (!parsed || parsed->second == 0) {
           return "needs CODE=STATUS, such as 03:20=0102 (code bytes and a nonzero status, in hex)";
         }
         o.loader.faults.statusFor.push_back({parsed->first, static_cast<std::uint16_t>(parsed->second)});
         return {};
       }},
      {"--response-length",
       [](ServerOptions& o, std::string_view v) -> std::string {
         const auto parsed = ParseCodeValue(v, 10, kMaxFaultLength);
         if (!parsed) {
           return "needs CODE=LENGTH, such as 0A:00=5 (code bytes in hex, a length from 0 to " +
                  std::to_string(kMaxFaultLength) + ")";
         }
         o.loader.faults.lengthFor.push_back({parsed->first, static_cast<std::size_t>(parsed->second)});
         return {};
       }},
  };
  return options;
}

const std::map<std::string_view, std::function<void(ServerOptions&)>>& Flags() {
  static const std::map<std::string_view, std::function<void(ServerOptions&)>> flags{
      {"--pace", [](ServerOptions& o) { o.pace = true; }},
      {"--silent", [](ServerOptions& o) { o.loader.faults.silent = true; }},
      {"--nak-enq", [](ServerOptions& o) { o.loader.faults.nakEnquiry = true; }},
      {"--no-boot-entry", [](ServerOptions& o) { o.loader.needsIdentification = false; }},
      {"--exit-after-update", [](ServerOptions& o) { o.exitAfterUpdate = true; }},
      {"--exit-on-close", [](ServerOptions& o) { o.exitOnClose = true; }},
      {"--help", [](ServerOptions& o) { o.help = true; }},
      {"-h", [](ServerOptions& o) { o.help = true; }},
  };
  return flags;
}

}  // namespace

ParsedOptions ParseServerOptions(std::span<const std::string_view> args) {
  ParsedOptions parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view name = args[i];
    std::optional<std::string_view> value;
    if (const auto equals = name.find('='); name.starts_with("--") && equals != std::string_view::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    if (const auto flag = Flags().find(name); flag != Flags().end()) {
      if (value) {
        parsed.error = std::string(name) + " takes no value";
        return parsed;
      }
      flag->second(parsed.options);
      continue;
    }
    const auto option = ValueOptions().find(name);
    if (option == ValueOptions().end()) {
      parsed.error = "unknown option '" + std::string(args[i]) + "'";
      return parsed;
    }
    if (!value) {
      if (i + 1 == args.size()) {
        parsed.error = std::string(name) + " needs a value";
        return parsed;
      }
      value = args[++i];
    }
    if (auto problem = option->second(parsed.options, *value); !problem.empty()) {
      parsed.error = std::string(name) + " " + problem + ", not '" + std::string(*value) + "'";
      return parsed;
    }
  }
  if (auto problem = CheckConfig(parsed.options.loader); !problem.empty()) {
    parsed.error = problem;
  }
  return parsed;
}

std::string ServerUsage() {
  return R"(Usage: fwsim [OPTION]...
Simulates the controller's boot loader behind a pseudo-terminal. The first line on standard output is the
terminal's path; fwsim then serves it until SIGINT or SIGTERM (or --exit-after-update), also across the
updater closing and reopening the terminal.

Line:
  --link PATH              also make PATH a symbolic link to the terminal (an old link there is replaced;
                           the link is removed at exit)
  --pace                   send at the pace of a 38400-baud line (about 260 us a byte)
  --reply-delay MS         wait MS milliseconds before every reply (default 0)
  --log FILE               log every Frame to FILE, one line each ('-' for standard error):
                             <us> <in|out> <kind> <control> len=<payload bytes> wire=<line bytes> <outcome> [...]
                           <us> is when the Frame arrived or was queued to go out, in microseconds from the
                           start; kind is frame, id, boot-reply or skipped; outcome is ok, bad-crc,
                           no-control, overrun or truncated; commands add cmd=CC:QQ (block writes also
                           addr=0xAAAAAAAA), answers cmd=CC status=SSSS
  --exit-on-close          exit when the updater closes the terminal (default: keep serving)

Controller:
  --program-kind BYTE      program kind answered to 0A 00, hex (default 10; 20, or any other byte)
  --version TEXT           version text answered to F0 10 (default "1.00", at most 275 characters)
  --boot-reply TEXT        body of the boot reply (default "BOOT")
  --no-boot-entry          take commands without the identification message and enquiry first
  --load-main FILE         start with FILE in the main region (524288 bytes; a shorter file leaves the rest
                           erased)
  --load-second FILE       start with FILE in the second region (65536 bytes)

Faults:
  --nak-commands K         answer the first K command Frames with NAK
  --damage-responses K     send the first K answer Frames (resendings included) with a damaged CRC
  --silent                 answer nothing at all
  --nak-enq                answer the ENQ Frame with NAK
  --status CODE=STATUS     answer command CODE with device STATUS (hex, nonzero) and leave memory alone;
                           CODE is the two code bytes in hex, e.g. --status 03:20=0102; repeatable
  --stop-after-blocks N    fall silent once the N-th block write (03 00 or 03 10) has been closed (0: at the
                           first block write)
  --response-length CODE=N answer command CODE with an N-byte payload (0 to 600; the normal answer cut short
                           or padded with 00), e.g. --response-length 0A:00=5; repeatable

Device status in bytes 1-2 of an answer: 0000 done; 0001 unknown command; 0002 wrong payload length;
0003 address outside the region; 0004 address not on a 256-byte boundary; 0005 block length not 256;
0006 bad argument; 0007 verify failed (a block written over without an erase).

At exit (also on SIGINT and SIGTERM):
  --dump-main FILE         write the main region to FILE
  --dump-second FILE       write the second region to FILE
  --expect-main FILE       compare the main region with FILE and print a verdict line, e.g.
                             memory: main equal, second equal
  --expect-second FILE     the same for the second region
  --exit-after-update      exit once a 07 00 has been answered and its exchange closed

  -h, --help               show this text

Exit status: 0 done; 1 memory differs from an --expect file; 2 bad arguments or unreadable input file;
3 the terminal or an output file failed.
)";
}

}  // namespace fwu::sim
