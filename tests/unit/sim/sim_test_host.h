#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/boot_loader.h"
#include "support/wire.h"

namespace fwu::sim {

// Plays the host against the boot loader model: sends bytes at a moving time and collects what comes back.
class TestHost {
 public:
  explicit TestHost(BootLoaderConfig config = {}) : loader(std::move(config)) {}

  // Sends bytes at the current time, then lets stepUs pass; returns everything the controller sent meanwhile.
  test::Bytes Send(std::span<const std::uint8_t> bytes, TimeUs stepUs = 1'000) {
    loader.Feed(bytes, nowUs);
    nowUs += stepUs;
    test::Bytes answer;
    for (const auto& chunk : loader.TakeOutput()) {
      answer.insert(answer.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    return answer;
  }
  test::Bytes Send(std::initializer_list<std::uint8_t> bytes, TimeUs stepUs = 1'000) {
    return Send(std::span<const std::uint8_t>(bytes.begin(), bytes.size()), stepUs);
  }
  test::Bytes SendFrame(std::uint8_t control, std::span<const std::uint8_t> payload = {}) {
    return Send(test::WireFrame(control, payload));
  }

  // The identification message in the host's three writes, 10 ms apart; returns the boot reply.
  test::Bytes Identify() {
    test::Bytes reply = Send({0x02}, 10'000);
    const test::Bytes reply2 = Send({'k', 'z', 'k', 'z', '4', '2'}, 10'000);
    const test::Bytes reply3 = Send({0x03, 0x05}, 10'000);
    reply.insert(reply.end(), reply2.begin(), reply2.end());
    reply.insert(reply.end(), reply3.begin(), reply3.end());
    return reply;
  }

  // Identification, enquiry and closing EOT, as the host's boot-mode entry does it.
  void EnterBootMode() {
    Identify();
    SendFrame(0x05);
    SendFrame(0x04);
  }

  // One whole exchange: command, EOT, ACK of the answer. Returns the answer payload (empty when none came).
  test::Bytes Call(std::span<const std::uint8_t> command) {
    SendFrame(0x02, command);
    const auto answer = test::ParseFrames(SendFrame(0x04));
    SendFrame(0x06);
    return answer.empty() ? test::Bytes{} : answer.front().payload;
  }
  test::Bytes Call(std::initializer_list<std::uint8_t> command) {
    return Call(std::span<const std::uint8_t>(command.begin(), command.size()));
  }

  BootLoader loader;
  TimeUs nowUs = 5'000'000;
};

// A block write payload: code bytes, address, length 256, the block.
inline test::Bytes BlockWrite(std::uint8_t qualifier, std::uint32_t address, std::uint8_t fill) {
  return test::BlockWritePayload(qualifier, address, fill);
}

}  // namespace fwu::sim
