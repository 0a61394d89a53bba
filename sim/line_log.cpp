#include "sim/line_log.h"

#include "protocol/hex_text.h"

#include "protocol/control_chars.h"

namespace fwu::sim {

namespace {

// A block write carries its address in bytes 2-5.
constexpr std::size_t kBlockWriteHeader = 10;

std::string KindName(LineRecord::Kind kind) {
  switch (kind) {
    case LineRecord::Kind::Frame:
      return "frame";
    case LineRecord::Kind::Identification:
      return "id";
    case LineRecord::Kind::BootReply:
      return "boot-reply";
    case LineRecord::Kind::Skipped:
      return "skipped";
  }
  return "frame";
}

std::string ControlName(std::uint8_t control) {
  const char* name = ControlCharName(control);
  return name != nullptr ? std::string(name) : "0x" + HexValue(control, 2);
}

std::string OutcomeName(ReceivedFrame::Outcome outcome) {
  switch (outcome) {
    case ReceivedFrame::Outcome::Good:
      return "ok";
    case ReceivedFrame::Outcome::BadCrc:
      return "bad-crc";
    case ReceivedFrame::Outcome::NoControl:
      return "no-control";
    case ReceivedFrame::Outcome::Overrun:
      return "overrun";
    case ReceivedFrame::Outcome::Truncated:
      return "truncated";
  }
  return "ok";
}

std::string Details(const LineRecord& record) {
  const auto& p = record.payload;
  if (record.kind != LineRecord::Kind::Frame || record.control != kStx || p.size() < 2) {
    return {};
  }
  std::string text = " cmd=" + HexValue(p[0], 2) + ":" + HexValue(p[1], 2);
  if (record.direction == Direction::Out) {
    // An answer: byte 0 echoes the command byte, so only the status is told.
    text = " cmd=" + HexValue(p[0], 2);
    if (p.size() >= 3) {
      text += " status=" + HexValue(static_cast<unsigned>(p[1] << 8U | p[2]), 4);
    }
    return text;
  }
  if (p[0] == 0x03 && p.size() >= kBlockWriteHeader) {
    const unsigned address = static_cast<unsigned>(p[2]) << 24U | static_cast<unsigned>(p[3]) << 16U |
                             static_cast<unsigned>(p[4]) << 8U | static_cast<unsigned>(p[5]);
    text += " addr=0x" + HexValue(address, 8);
  }
  return text;
}

}  // namespace

std::string FormatLineRecord(const LineRecord& record) {
  const bool framed = record.kind == LineRecord::Kind::Frame;
  std::string line = std::to_string(record.atUs);
  line += record.direction == Direction::In ? " in " : " out ";
  // Appended piece by piece: "literal" + std::string trips a false -Wrestrict of GCC 12 at -O3.
  line += KindName(record.kind);
  line += ' ';
  line += framed ? ControlName(record.control) : "-";
  line += " len=";
  line += std::to_string(record.payload.size());
  line += " wire=";
  line += std::to_string(record.wireLength);
  line += ' ';
  line += OutcomeName(record.outcome);
  line += Details(record);
  return line;
}

}  // namespace fwu::sim
