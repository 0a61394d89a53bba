// Known wire bytes, each decoded into the lines a trace shows for them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/wire.h"
#include "trace/trace.h"
#include "trace/wire_decoder.h"

namespace fwu::trace {
namespace {

using test::Bytes;
using test::Concat;

struct Case {
  const char* name;
  Direction direction;
  Bytes bytes;
  std::vector<std::string> lines;  // what each event says, in order
  std::size_t quietFrom = 0;       // when nonzero, the bytes from here on come two seconds later
};

Bytes Repeat(std::size_t count, std::uint8_t byte) {
  return Bytes(count, byte);
}

const Bytes kAckFrame{0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x66};

const std::vector<Case> kCases = {
    {"identification message",
     Direction::Sent,
     {0x02, 'k', 'z', 'k', 'z', '4', '2', 0x03, 0x05},
     {"identification, 6 body bytes \"kzkz42\", check ok"}},
    {"boot reply after a stray byte",
     Direction::Received,
     {0x55, 0x02, 0x41, 0x42, 0x03, 0x00},
     {"noise, 1 byte", "boot reply, 2 body bytes \"AB\", check ok"}},
    {"boot reply with a wrong check byte",
     Direction::Received,
     {0x02, 0x41, 0x0A, 0x03, 0x77},
     {"boot reply, 2 body bytes \"A\\x0A\", check bad (received 0x77, computed 0x48)"}},
    {"handshake Frames",
     Direction::Sent,
     Concat({{0x10, 0x02, 0x05, 0x10, 0x03, 0x23, 0x4C}, kAckFrame}),
     {"Frame ENQ, CRC ok", "Frame ACK, CRC ok"}},
    {"program kind query",
     Direction::Sent,
     {0x10, 0x02, 0x02, 0x0A, 0x00, 0x10, 0x03, 0x97, 0x78},
     {"Frame STX, command 0A 00, program kind query (0A 00), payload 2 bytes, CRC ok"}},
    {"doubled DLEs and a bare ETX in the payload",
     Direction::Sent,
     {0x10, 0x02, 0x02, 0x0A, 0x10, 0x10, 0x05, 0x03, 0x10, 0x10, 0x10, 0x03, 0xCC, 0x8C},
     {"Frame STX, command 0A 10, payload 5 bytes, CRC ok"}},
    {"block write to the second image",
     Direction::Sent,
     test::WireFrame(0x02, test::BlockWritePayload(0x10, 0x30100, std::uint8_t{0x10})),
     {"Frame STX, command 03 10, block write, second image, address 0x30100, payload 266 bytes, CRC ok"}},
    {"block write with a qualifier of no image",
     Direction::Sent,
     test::WireFrame(0x02, {0x03, 0x05, 0x00, 0x00, 0x01, 0x00}),
     {"Frame STX, command 03 05, block write, address 0x00100 (03 05), payload 6 bytes, CRC ok"}},
    {"answers with and without a device status",
     Direction::Received,
     Concat({test::WireFrame(0x02, {0x00, 0x00, 0x12}), {0x10, 0x02, 0x02, 0x20, 0x10, 0x03, 0x10, 0xA4}}),
     {"Frame STX, answer status 0012, payload 3 bytes, CRC ok", "Frame STX, payload 1 byte, CRC ok"}},
    {"damaged CRC",
     Direction::Received,
     {0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x67},
     {"Frame ACK, CRC bad (received 0x674B, computed 0x664B)"}},
    {"Frame without a control byte",
     Direction::Received,
     {0x10, 0x02, 0x10, 0x03, 0x9B, 0x32},
     {"Frame without control byte, CRC ok"}},
    {"truncated Frame, then silence",
     Direction::Received,
     {0x10, 0x02, 0x02, 0x03, 0x00, 0x00},
     {"Frame STX, truncated after 6 bytes"}},
    {"truncated Frame, then a whole one after a pause",
     Direction::Received,
     Concat({{0x10, 0x02, 0x06, 0x10}, kAckFrame}),
     {"Frame ACK, truncated after 4 bytes", "Frame ACK, CRC ok"},
     4},
    {"repeated DLE before the STX",
     Direction::Received,
     Concat({{0x10}, kAckFrame}),
     {"noise, 1 byte", "Frame ACK, CRC ok"}},
    {"lone control bytes and a late STX",
     Direction::Received,
     Concat({kAckFrame, {0x06, 0x02, 0x41, 0x15}}),
     {"Frame ACK, CRC ok", "lone control byte ACK", "noise, 2 bytes", "lone control byte NAK"}},
    {"overlong Frame",
     Direction::Received,
     Concat({{0x10, 0x02, 0x02}, Repeat(600, 0x41), {0x06}}),
     {"Frame STX, overlong (content beyond 600 bytes)", "lone control byte ACK"}},
    {"overlong boot reply",
     Direction::Received,
     Concat({{0x02}, Repeat(257, 0x41)}),
     {"boot reply, overlong (more than 256 body bytes)"}},
    {"flood of noise",
     Direction::Received,
     Repeat(130, 0x41),
     {"noise, 64 bytes", "noise, 64 bytes", "noise, 2 bytes"}},
};

TEST(WireDecoder, DecodesKnownWireBytes) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines;
    Bytes seen;
    WireDecoder decoder(c.direction, [&](const WireEvent& event) {
      lines.push_back(DescribeEvent(event));
      seen.insert(seen.end(), event.wire.begin(), event.wire.end());
    });
    const std::size_t split = c.quietFrom == 0 ? c.bytes.size() : c.quietFrom;
    decoder.Push(std::span(c.bytes).first(split), 1000);
    decoder.Push(std::span(c.bytes).subspan(split), 2'001'000);
    decoder.Flush();
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(seen, c.bytes) << "every byte belongs to exactly one event, in order";
  }
}

TEST(WireDecoder, TraceLineCarriesTimeDirectionAndBytes) {
  std::vector<std::string> lines;
  WireDecoder decoder(Direction::Received, [&](const WireEvent& event) { lines.push_back(FormatTraceLine(event)); });
  decoder.Push(kAckFrame, 1234567);
  EXPECT_EQ(lines, std::vector<std::string>{"   1234567 <- Frame ACK, CRC ok | 10 02 06 10 03 4B 66"});
}

}  // namespace
}  // namespace fwu::trace
