#include "network_port/rfc2217.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "protocol/hex_text.h"

namespace fwu::network_port {

namespace {

// Telnet's command bytes (RFC 854).
constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

// The options this client knows.
constexpr std::uint8_t kBinary = 0;  // RFC 856: all 256 byte values pass unchanged
constexpr std::uint8_t kEcho = 1;
constexpr std::uint8_t kSga = 3;       // RFC 858: no go-ahead turns
constexpr std::uint8_t kComPort = 44;  // RFC 2217

// COM-PORT-OPTION commands, client to server; the server answers each with the same code plus 100.
constexpr std::uint8_t kSignature = 0;
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kNotifyLineState = 6;
constexpr std::uint8_t kNotifyModemState = 7;
constexpr std::uint8_t kFlowSuspend = 8;
constexpr std::uint8_t kFlowResume = 9;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kServerOffset = 100;

// The values asked for: the controller's line.
constexpr std::uint32_t kBaudRate = 38400;
constexpr std::uint32_t kDataBits = 8;
constexpr std::uint32_t kParityNone = 1;
constexpr std::uint32_t kOneStopBit = 1;
constexpr std::uint32_t kNoFlowControl = 1;
constexpr std::uint32_t kDtrOn = 8;
constexpr std::uint32_t kRtsOn = 11;
constexpr std::uint8_t kPurgeBoth = 3;

// A suboption longer than this is no answer this client asked for (a signature text at most); it is dropped.
constexpr std::size_t kMaxSub = 64;
constexpr std::size_t kBaudRateBytes = 4;

std::string OptionName(std::uint8_t option) {
  switch (option) {
    case kBinary:
      return "BINARY";
    case kEcho:
      return "ECHO";
    case kSga:
      return "SGA";
    case kComPort:
      return "COM-PORT-OPTION";
    default:
      break;
  }
  return "option " + std::to_string(option);
}

std::string VerbName(std::uint8_t verb) {
  switch (verb) {
    case kWill:
      return "WILL";
    case kWont:
      return "WONT";
    case kDo:
      return "DO";
    default:
      break;
  }
  return "DONT";
}

std::string CommandName(std::uint8_t command) {
  constexpr std::array<const char*, 13> kNames{
      "SIGNATURE",          "SET-BAUDRATE",        "SET-DATASIZE",      "SET-PARITY",          "SET-STOPSIZE",
      "SET-CONTROL",        "NOTIFY-LINESTATE",    "NOTIFY-MODEMSTATE", "FLOWCONTROL-SUSPEND", "FLOWCONTROL-RESUME",
      "SET-LINESTATE-MASK", "SET-MODEMSTATE-MASK", "PURGE-DATA"};
  return command < kNames.size() ? kNames[command] : "command " + std::to_string(command);
}

std::string ControlName(std::uint32_t value) {
  constexpr std::array<const char*, 20> kNames{"flow control?",
                                               "no flow control",
                                               "XON/XOFF flow control",
                                               "hardware flow control",
                                               "BREAK?",
                                               "BREAK on",
                                               "BREAK off",
                                               "DTR?",
                                               "DTR on",
                                               "DTR off",
                                               "RTS?",
                                               "RTS on",
                                               "RTS off",
                                               "inbound flow control?",
                                               "no inbound flow control",
                                               "inbound XON/XOFF flow control",
                                               "inbound hardware flow control",
                                               "DCD flow control",
                                               "DTR flow control",
                                               "DSR flow control"};
  return value < kNames.size() ? kNames[value] : std::to_string(value);
}

std::string ValueName(std::uint8_t command, std::uint32_t value) {
  constexpr std::array<const char*, 6> kParities{"?", "NONE", "ODD", "EVEN", "MARK", "SPACE"};
  constexpr std::uint32_t kOneAndAHalf = 3;
  switch (command) {
    case kSetParity:
      return value < kParities.size() ? kParities[value] : std::to_string(value);
    case kSetStopSize:
      return value == kOneAndAHalf ? "1.5" : std::to_string(value);
    case kSetControl:
      return ControlName(value);
    default:
      break;
  }
  return std::to_string(value);
}

// The SET-CONTROL values that answer one question: outbound flow control, DTR or RTS. An answer is matched to
// the request it belongs to by this, since the server answers all three with the same command code.
enum class ControlGroup : std::uint8_t { Other, FlowControl, Dtr, Rts };

ControlGroup GroupOf(std::uint32_t value) {
  constexpr std::array<std::uint32_t, 5> kFlowControl{kNoFlowControl, 2, 3, 17,
                                                      19};  // none, XON/XOFF, RTS/CTS, DCD, DSR
  constexpr std::uint32_t kDtrOff = 9;
  constexpr std::uint32_t kRtsOff = 12;
  if (std::ranges::find(kFlowControl, value) != kFlowControl.end()) {
    return ControlGroup::FlowControl;
  }
  if (value == kDtrOn || value == kDtrOff) {
    return ControlGroup::Dtr;
  }
  if (value == kRtsOn || value == kRtsOff) {
    return ControlGroup::Rts;
  }
  return ControlGroup::Other;
}

void AppendEscaped(std::uint8_t byte, std::vector<std::uint8_t>& out) {
  out.push_back(byte);
  if (byte == kIac) {
    out.push_back(kIac);
  }
}

void AppendVerb(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out) {
  out.insert(out.end(), {kIac, verb, option});
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const auto& part : parts) {
    text += (text.empty() ? "" : ", ") + part;
  }
  return text;
}

}  // namespace

Rfc2217Session::Rfc2217Session(std::function<void(std::string_view)> notes)
    : notes_(std::move(notes)),
      // DTR and RTS go first: by the time the line's settings are answered, their answers, if any, have come.
      requests_{{kSetControl, kDtrOn, false},       {kSetControl, kRtsOn, false},    {kSetBaudRate, kBaudRate, true},
                {kSetDataSize, kDataBits, true},    {kSetParity, kParityNone, true}, {kSetStopSize, kOneStopBit, true},
                {kSetControl, kNoFlowControl, true}} {}

void Rfc2217Session::Begin(std::vector<std::uint8_t>& out) {
  AppendVerb(kWill, kComPort, out);
  AppendVerb(kWill, kBinary, out);
  AppendVerb(kDo, kBinary, out);
  AppendVerb(kWill, kSga, out);
  AppendVerb(kDo, kSga, out);
  ours_[kComPort] = ours_[kBinary] = ours_[kSga] = OptionState::Asked;
  theirs_[kBinary] = theirs_[kSga] = OptionState::Asked;
  Note("telnet -> WILL COM-PORT-OPTION, WILL BINARY, DO BINARY, WILL SGA, DO SGA");
}

void Rfc2217Session::Take(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
                          std::vector<std::uint8_t>& out) {
  for (const std::uint8_t byte : bytes) {
    TakeByte(byte, data, out);
  }
}

void Rfc2217Session::Escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) {
  for (const std::uint8_t byte : data) {
    AppendEscaped(byte, out);
  }
}

void Rfc2217Session::Purge(std::vector<std::uint8_t>& out) {
  out.insert(out.end(), {kIac, kSb, kComPort, kPurgeData, kPurgeBoth, kIac, kSe});
  if (stage_ != Stage::Ready) {
    Note("RFC 2217 -> PURGE-DATA both buffers");
  }
}

std::string Rfc2217Session::Waiting() const {
  std::vector<std::string> waiting;
  if (ours_[kComPort] != OptionState::On) {
    waiting.emplace_back("COM-PORT-OPTION");
  }
  if (ours_[kBinary] != OptionState::On) {
    waiting.emplace_back("BINARY to the server");
  }
  if (theirs_[kBinary] != OptionState::On) {
    waiting.emplace_back("BINARY from the server");
  }
  for (const Request& request : requests_) {
    if (request.required && !request.answered && settingsSent_) {
      waiting.push_back(CommandName(request.command) + " " + ValueName(request.command, request.value));
    }
  }
  return Joined(waiting);
}

void Rfc2217Session::TakeByte(std::uint8_t byte, std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& out) {
  switch (parse_) {
    case Parse::Data:
      if (byte == kIac) {
        parse_ = Parse::Iac;
      } else {
        data.push_back(byte);
      }
      return;
    case Parse::Iac:
      parse_ = Parse::Data;
      if (byte == kIac) {
        data.push_back(kIac);  // a doubled IAC is one 0xFF of data
      } else if (byte >= kWill) {
        verb_ = byte;
        parse_ = Parse::Verb;
      } else if (byte == kSb) {
        parse_ = Parse::SubOption;
      }
      // Any other command (NOP, GA, a stray SE ...) carries nothing for a serial line.
      return;
    case Parse::Verb:
      parse_ = Parse::Data;
      Negotiation(verb_, byte, out);
      // Judged after every command, so that the outcome does not depend on where the network cut the bytes.
      UpdateStage();
      return;
    case Parse::SubOption:
      subOption_ = byte;
      sub_.clear();
      subOverflow_ = false;
      parse_ = Parse::Sub;
      return;
    case Parse::Sub:
      if (byte == kIac) {
        parse_ = Parse::SubIac;
      } else if (sub_.size() < kMaxSub) {
        sub_.push_back(byte);
      } else {
        subOverflow_ = true;
      }
      return;
    case Parse::SubIac:
      if (byte == kIac) {
        parse_ = Parse::Sub;
        if (sub_.size() < kMaxSub) {
          sub_.push_back(kIac);
        } else {
          subOverflow_ = true;
        }
        return;
      }
      if (byte == kSe) {
        parse_ = Parse::Data;
        if (subOverflow_) {
          Note("telnet <- a suboption of " + OptionName(subOption_) + " longer than " + std::to_string(kMaxSub) +
               " bytes, ignored");
        } else {
          Subnegotiation();
          UpdateStage();
        }
        return;
      }
      // IAC and anything but IAC or SE ends a suboption that never closed; the command is taken as it stands.
      Note("telnet <- a suboption of " + OptionName(subOption_) + " without its end, ignored");
      parse_ = Parse::Iac;
      TakeByte(byte, data, out);
      return;
  }
}

void Rfc2217Session::Negotiation(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out) {
  const bool negotiating = stage_ == Stage::Negotiating;
  const bool serverSide = verb == kWill || verb == kWont;
  const bool enable = verb == kWill || verb == kDo;
  const bool wanted = option == kBinary || option == kSga || (!serverSide && option == kComPort);
  auto& state = serverSide ? theirs_[option] : ours_[option];
  const std::uint8_t agree = serverSide ? kDo : kWill;
  const std::uint8_t refuse = serverSide ? kDont : kWont;
  // Appended piece by piece: GCC 12 at -O3 takes "literal" + temporary for an overlapping copy (-Wrestrict).
  std::string note = "telnet <- ";
  note += VerbName(verb);
  note += ' ';
  note += OptionName(option);

  if (!wanted) {
    // Options this client does not know are refused, once: a server repeating itself gets no loop out of us.
    auto& refused = serverSide ? refusedTheirs_[option] : refusedOurs_[option];
    if (enable && !refused) {
      refused = true;
      AppendVerb(refuse, option, out);
      note += "; -> " + VerbName(refuse) + " " + OptionName(option);
    }
    if (negotiating) {
      Note(note);
    }
    return;
  }

  const OptionState before = state;
  if (enable) {
    state = OptionState::On;
    if (before == OptionState::Off) {
      AppendVerb(agree, option, out);  // the server asked first; asked for again after a refusal
      note += "; -> " + VerbName(agree) + " " + OptionName(option);
    }
    if (negotiating || before != OptionState::On) {
      Note(note);
    }
    if (option == kComPort && !settingsSent_) {
      SendSettings(out);
    }
    return;
  }

  state = OptionState::Off;
  if (before == OptionState::On) {
    AppendVerb(refuse, option, out);  // acknowledges the server's turning it off
    note += "; -> " + VerbName(refuse) + " " + OptionName(option);
  }
  if (before != OptionState::Off || negotiating) {
    Note(note);
  }
  if (option == kComPort && before != OptionState::Off) {
    Fail("the server refused COM-PORT-OPTION, so it cannot set the line (is this an RFC 2217 port?)");
  } else if (option == kBinary && before != OptionState::Off) {
    Fail(std::string("the server refused BINARY ") + (serverSide ? "from" : "to") +
         " the line: the controller's bytes would not pass unchanged");
  }
}

void Rfc2217Session::Subnegotiation() {
  if (subOption_ != kComPort || sub_.empty() || sub_[0] < kServerOffset) {
    Note("telnet <- a suboption of " + OptionName(subOption_) + ", ignored");
    return;
  }
  ComPortAnswer(static_cast<std::uint8_t>(sub_[0] - kServerOffset), std::span(sub_).subspan(1));
}

void Rfc2217Session::ComPortAnswer(std::uint8_t command, std::span<const std::uint8_t> value) {
  const std::string name = "RFC 2217 <- " + CommandName(command);
  const bool negotiating = stage_ == Stage::Negotiating;
  const std::size_t size = command == kSetBaudRate ? kBaudRateBytes : 1;
  if (command == kSignature) {
    // The server's own text, shown only as far as it is printable: it goes into the trace's lines.
    std::string text;
    std::ranges::transform(value, std::back_inserter(text), [](std::uint8_t byte) {
      return byte >= ' ' && byte < 0x7F ? static_cast<char>(byte) : '.';
    });
    Note(name + " '" + text + "'");
    return;
  }
  if (command == kFlowSuspend || command == kFlowResume) {
    Note(name);
    return;
  }
  if (value.size() != size) {
    Note(name + " with " + std::to_string(value.size()) + " value bytes, ignored");
    return;
  }
  std::uint32_t number = 0;
  for (const std::uint8_t byte : value) {
    number = number << 8U | byte;  // network byte order
  }
  if (command == kNotifyLineState || command == kNotifyModemState) {
    Note(name + " 0x" + HexValue(number, 2));
    return;
  }
  if (command == kPurgeData) {
    if (negotiating) {
      Note(name + " " + std::to_string(number));
    }
    return;
  }

  const auto request = std::ranges::find_if(requests_, [&](const Request& r) {
    return r.command == command && (command != kSetControl || GroupOf(r.value) == GroupOf(number));
  });
  const std::string answer = name + " " + ValueName(command, number);
  if (request == requests_.end() || !settingsSent_) {
    Note(answer + ", not asked for");
    return;
  }
  const std::string asked = CommandName(command) + " " + ValueName(command, request->value);
  const bool repeated = request->answered;
  request->answered = true;
  if (number == request->value) {
    if (!repeated || negotiating) {
      Note(answer + ": as asked");
    }
    return;
  }
  if (request->required && negotiating) {
    Fail("the server answered " + asked + " with " + ValueName(command, number));
  }
  Note(answer + ", asked for " + ValueName(command, request->value) +
       (request->required ? "" : " (the line works without it)"));
}

void Rfc2217Session::SendSettings(std::vector<std::uint8_t>& out) {
  settingsSent_ = true;
  std::vector<std::string> sent;
  for (const Request& request : requests_) {
    out.insert(out.end(), {kIac, kSb, kComPort, request.command});
    if (request.command == kSetBaudRate) {
      for (unsigned shift = 24; shift != 0; shift -= 8) {
        AppendEscaped(static_cast<std::uint8_t>(request.value >> shift), out);
      }
    }
    AppendEscaped(static_cast<std::uint8_t>(request.value), out);
    out.insert(out.end(), {kIac, kSe});
    sent.push_back(CommandName(request.command) + " " + ValueName(request.command, request.value));
  }
  Note("RFC 2217 -> " + Joined(sent));
}

void Rfc2217Session::Fail(std::string reason) {
  if (stage_ == Stage::Negotiating) {
    stage_ = Stage::Failed;
    failure_ = std::move(reason);
  }
}

void Rfc2217Session::UpdateStage() {
  if (stage_ != Stage::Negotiating) {
    return;
  }
  const bool options =
      ours_[kComPort] == OptionState::On && ours_[kBinary] == OptionState::On && theirs_[kBinary] == OptionState::On;
  const bool settings = std::ranges::all_of(requests_, [](const Request& r) { return r.answered || !r.required; });
  if (!options || !settingsSent_ || !settings) {
    return;
  }
  stage_ = Stage::Ready;
  for (const Request& request : requests_) {
    if (!request.answered) {
      Note("RFC 2217: no answer to " + CommandName(request.command) + " " + ValueName(request.command, request.value) +
           " (the line works without it)");
    }
  }
  Note("RFC 2217: the line is set to 38400 baud 8-N-1, no flow control");
}

void Rfc2217Session::Note(const std::string& text) const {
  if (notes_) {
    notes_(text);
  }
}

}  // namespace fwu::network_port
