#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fwu::network_port {

// The client's side of a telnet session with RFC 2217 (COM-PORT-OPTION) to a serial device server: the option
// negotiation, the line settings and their acknowledgements, the data stream with its IAC bytes doubled, and the
// server's notifications. No sockets and no clock: bytes in, bytes out, so it is tested on scripted server bytes.
//
// The session asks for BINARY both ways (the controller's bytes are all 256 values, 0xFF among the commonest),
// SGA both ways and COM-PORT-OPTION, refuses every other option, and once the server takes up COM-PORT-OPTION
// sends the line's settings: DTR and RTS on, 38400 baud, 8 data bits, no parity, 1 stop bit, no flow control.
// The session is ready when BINARY holds both ways and the server has acknowledged each of the line's five
// settings with the value asked for. DTR and RTS are asked for but not waited on: a server in front of a port
// without modem lines (a pseudo-terminal) never answers them, and the controller does not need them, as the
// serial ports ignore their own results for them.
class Rfc2217Session {
 public:
  enum class Stage { Negotiating, Ready, Failed };

  // notes: told every step of the negotiation, and afterwards what the server says besides data.
  explicit Rfc2217Session(std::function<void(std::string_view)> notes);

  // The options the client asks for, to go out first.
  void Begin(std::vector<std::uint8_t>& out);
  // Bytes from the server: its data goes to data, whatever the session answers (and the settings, once the
  // server takes up COM-PORT-OPTION) to out.
  void Take(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& out);
  // Data for the server, each 0xFF doubled.
  static void Escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);
  // Asks the server to discard both of its buffers for the line (PURGE-DATA).
  void Purge(std::vector<std::uint8_t>& out);

  [[nodiscard]] Stage CurrentStage() const { return stage_; }
  // Why the negotiation failed, naming the option or setting: "the server answered SET-BAUDRATE 38400 with 9600".
  [[nodiscard]] const std::string& Failure() const { return failure_; }
  // What the negotiation still waits for: "COM-PORT-OPTION", "SET-PARITY NONE, SET-STOPSIZE 1".
  [[nodiscard]] std::string Waiting() const;

 private:
  // Each side of an option: off, asked for and not yet answered, or on.
  enum class OptionState : std::uint8_t { Off, Asked, On };
  struct Request {
    std::uint8_t command;
    std::uint32_t value;
    bool required;  // the session is not ready before the server has acknowledged it
    bool answered = false;
  };
  enum class Parse : std::uint8_t { Data, Iac, Verb, SubOption, Sub, SubIac };

  void TakeByte(std::uint8_t byte, std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& out);
  void Negotiation(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out);
  void Subnegotiation();
  void ComPortAnswer(std::uint8_t command, std::span<const std::uint8_t> value);
  void SendSettings(std::vector<std::uint8_t>& out);
  void Fail(std::string reason);
  void UpdateStage();
  void Note(const std::string& text) const;

  std::function<void(std::string_view)> notes_;
  Stage stage_ = Stage::Negotiating;
  std::string failure_;
  std::array<OptionState, 256> ours_{};    // options the client performs (WILL / WONT)
  std::array<OptionState, 256> theirs_{};  // options the server performs (DO / DONT)
  std::array<bool, 256> refusedOurs_{};    // unknown options already refused, answered once only
  std::array<bool, 256> refusedTheirs_{};
  std::vector<Request> requests_;
  bool settingsSent_ = false;

  Parse parse_ = Parse::Data;
  std::uint8_t verb_ = 0;
  std::uint8_t subOption_ = 0;
  std::vector<std::uint8_t> sub_;
  bool subOverflow_ = false;
};

}  // namespace fwu::network_port
