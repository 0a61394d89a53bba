#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace fwu::test {

// Telnet and RFC 2217 bytes as a server sends them, spelled out for scripted servers: the session under test
// must be checked against literal bytes, not against its own encoder.
namespace telnet {

inline constexpr std::uint8_t kIac = 0xFF;
inline constexpr std::uint8_t kDont = 0xFE;
inline constexpr std::uint8_t kDo = 0xFD;
inline constexpr std::uint8_t kWont = 0xFC;
inline constexpr std::uint8_t kWill = 0xFB;
inline constexpr std::uint8_t kSb = 0xFA;
inline constexpr std::uint8_t kSe = 0xF0;
inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kEcho = 1;
inline constexpr std::uint8_t kSga = 3;
inline constexpr std::uint8_t kComPort = 44;

inline std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

inline std::vector<std::uint8_t> Verb(std::uint8_t verb, std::uint8_t option) {
  return {kIac, verb, option};
}

// IAC SB COM-PORT-OPTION <command> <value, IAC doubled> IAC SE.
inline std::vector<std::uint8_t> ComPort(std::uint8_t command, std::initializer_list<std::uint8_t> value) {
  std::vector<std::uint8_t> bytes{kIac, kSb, kComPort, command};
  for (const std::uint8_t byte : value) {
    bytes.push_back(byte);
    if (byte == kIac) {
      bytes.push_back(kIac);
    }
  }
  bytes.insert(bytes.end(), {kIac, kSe});
  return bytes;
}

// A server's acknowledgements: the client's command plus 100.
inline std::vector<std::uint8_t> BaudAck(std::uint32_t baud) {
  return ComPort(101, {static_cast<std::uint8_t>(baud >> 24U), static_cast<std::uint8_t>(baud >> 16U),
                       static_cast<std::uint8_t>(baud >> 8U), static_cast<std::uint8_t>(baud)});
}
inline std::vector<std::uint8_t> DataSizeAck(std::uint8_t bits) {
  return ComPort(102, {bits});
}
inline std::vector<std::uint8_t> ParityAck(std::uint8_t parity) {
  return ComPort(103, {parity});
}
inline std::vector<std::uint8_t> StopSizeAck(std::uint8_t stop) {
  return ComPort(104, {stop});
}
inline std::vector<std::uint8_t> ControlAck(std::uint8_t value) {
  return ComPort(105, {value});
}

// The options a server agrees to, then every setting of the line acknowledged as asked; DTR and RTS unanswered,
// as a server in front of a pseudo-terminal leaves them.
inline std::vector<std::uint8_t> AgreeingServer() {
  return Join({Verb(kDo, kComPort), Verb(kDo, kBinary), Verb(kWill, kBinary), Verb(kDo, kSga), Verb(kWill, kSga),
               BaudAck(38400), DataSizeAck(8), ParityAck(1), StopSizeAck(1), ControlAck(1)});
}

}  // namespace telnet
}  // namespace fwu::test
