// fwupdate-cli through a serial device server: ser2net, started here on 127.0.0.1 from a configuration written
// here, in front of fwsim's pseudo-terminal, reached as rfc2217:// and socket://.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fwsim_process.h"
#include "protocol/frame.h"
#include "ser2net_server.h"
#include "support/image_builder.h"
#include "update/images.h"
#include "update/update_commands.h"

namespace fwu::test {
namespace {

constexpr std::uint32_t kBlock = 256;
constexpr int kWaitRounds = 12;  // Wait() gives up after its deadline; an update of these images takes seconds

std::optional<int> WaitLong(FwsimProcess& process) {
  for (int round = 0; round < kWaitRounds; ++round) {
    if (const auto status = process.Wait()) {
      return status;
    }
  }
  return std::nullopt;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Block k's Frame content as the CRC covers it: STX, the block-write payload, ETX.
std::uint16_t BlockCrc(std::span<const std::uint8_t> image, std::uint32_t k) {
  BlockPayload payload{};
  FillBlockWrite(payload, image, kMainQualifier, 0, k);
  std::vector<std::uint8_t> content{0x02};
  content.insert(content.end(), payload.begin(), payload.end());
  content.push_back(0x03);
  return Crc16(content.data(), static_cast<std::int32_t>(content.size()));
}

bool HasIac(std::uint16_t crc) {
  return (crc & 0xFFU) == 0xFF || (crc >> 8U) == 0xFF;
}

// Images whose Frames carry 0xFF in both directions: the blocks are mostly erased bytes, the first main block's
// CRC holds a 0xFF, and the controller's version (its answer to F0 10) is chosen so that its CRC does too.
struct IacImages {
  explicit IacImages(const TempDir& dir) : main(dir.Path("main.bin")), second(dir.Path("second.bin")) {
    ImageBuilder mainImage(kMainImageSize);
    ImageBuilder secondImage(kSecondImageSize);
    mainImage.U32le(kModelNamePointer, 0xFFF81020).Text(0x1020, "KX-7").U32le(kVersionPointer, 0xFFF81030);
    mainImage.Text(0x1030, "0213");
    for (std::uint32_t k = 1; k < 20; ++k) {
      mainImage.Byte(k * kBlock + 7, static_cast<std::uint8_t>(k));
    }
    for (std::uint32_t k = 0; k < 10; ++k) {
      secondImage.Byte(k * kBlock, static_cast<std::uint8_t>(k));
    }
    for (unsigned value = 0; value < 0x10000 && !HasIac(BlockCrc(mainImage.Bytes(), 0)); ++value) {
      mainImage.Byte(7, static_cast<std::uint8_t>(value)).Byte(8, static_cast<std::uint8_t>(value >> 8U));
    }
    for (int n = 100; n < 1000 && version.empty(); ++n) {
      const std::string text = std::to_string(n / 100) + "." + std::to_string(n % 100 / 10) + std::to_string(n % 10);
      std::vector<std::uint8_t> answer{0x02, 0xF0, 0x00, 0x00};
      answer.insert(answer.end(), text.begin(), text.end());
      answer.push_back(0x03);
      if (HasIac(Crc16(answer.data(), static_cast<std::int32_t>(answer.size())))) {
        version = text;
      }
    }
    WriteFile(main, mainImage.Bytes());
    WriteFile(second, secondImage.Bytes());
  }
  std::string main;
  std::string second;
  std::string version;
};

// The trace's Frame lines in one direction whose CRC (the last two bytes on the wire) holds a 0xFF, and that
// were taken as whole.
int FramesWithIacInCrc(const std::string& trace, const std::string& arrow) {
  int count = 0;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const auto bar = line.find(" | ");
    if (line.find(arrow + " Frame") == std::string::npos || line.find("CRC ok") == std::string::npos ||
        bar == std::string::npos || line.size() < 6) {
      continue;
    }
    const std::string crc = line.substr(line.size() - 5);
    count += crc.find("FF") != std::string::npos ? 1 : 0;
  }
  return count;
}

struct SchemeCase {
  const char* scheme;
  bool rfc2217;
};

// A whole update through the device server, one scheme at a time: the controller's memory equals the images,
// and the images' 0xFF bytes and the 0xFF bytes of Frame CRCs crossed in both directions. Over RFC 2217 the
// trace shows the negotiation, with the line's settings acknowledged, before the line's first byte.
TEST(NetworkUpdateTest, WholeUpdateThroughSer2net) {
  for (const SchemeCase& c : {SchemeCase{"rfc2217", true}, SchemeCase{"socket", false}}) {
    TempDir dir;
    const IacImages images(dir);
    ASSERT_FALSE(images.version.empty());
    FwsimProcess controller({"--expect-main", images.main, "--expect-second", images.second, "--version",
                             images.version, "--exit-after-update"});
    const std::string terminal = controller.ReadLine();
    ASSERT_FALSE(terminal.empty()) << controller.ErrorOutput();
    const Ser2net server(dir, terminal, c.rfc2217);
    ASSERT_TRUE(server.Ready()) << "ser2net did not listen: " << server.Output();
    const std::string url = std::string(c.scheme) + "://127.0.0.1:" + std::to_string(server.Port());

    FwsimProcess cli({"update", url, "--main", images.main, "--second", images.second, "--json",
                      dir.Path("summary.json"), "--trace", dir.Path("trace.txt")},
                     CLI_PATH);
    ASSERT_EQ(WaitLong(cli), 0) << c.scheme << "\n" << cli.RestOfOutput() << cli.ErrorOutput();
    EXPECT_NE(cli.RestOfOutput().find(url + ": Finished\n"), std::string::npos) << c.scheme;
    EXPECT_EQ(WaitLong(controller), 0) << c.scheme;
    EXPECT_NE(controller.RestOfOutput().find("memory: main equal, second equal"), std::string::npos) << c.scheme;
    std::ifstream json(dir.Path("summary.json"));
    const nlohmann::json record = nlohmann::json::parse(json, nullptr, false)["ports"][0];
    EXPECT_EQ(record["outcome"], "finished") << c.scheme;
    EXPECT_EQ(record["controller_version"], images.version) << c.scheme;

    const std::string trace = ReadText(dir.Path("trace.txt"));
    EXPECT_GE(FramesWithIacInCrc(trace, "->"), 1) << c.scheme << "\n" << trace;
    EXPECT_GE(FramesWithIacInCrc(trace, "<-"), 1) << c.scheme << "\n" << trace;
    const auto firstByte = trace.find(" -> identification");
    ASSERT_NE(firstByte, std::string::npos) << c.scheme;
    if (c.rfc2217) {
      for (const char* note : {"-- telnet <- DO COM-PORT-OPTION", "-- RFC 2217 <- SET-BAUDRATE 38400: as asked",
                               "-- RFC 2217 <- SET-CONTROL no flow control: as asked",
                               "-- RFC 2217: the line is set to 38400 baud 8-N-1, no flow control"}) {
        EXPECT_LT(trace.find(note), firstByte) << note << "\n" << trace;
      }
    }
  }
}

// ser2net stopped in the middle of the main image: the update fails as on a serial line that vanished, within
// the link's own limits (its longest wait is 3 s for an answer), reports a link failure and closes the port.
TEST(NetworkUpdateTest, ServerStoppedMidUpdateIsALinkFailure) {
  TempDir dir;
  ImageBuilder mainImage(kMainImageSize);
  mainImage.U32le(kModelNamePointer, 0xFFF81020).Text(0x1020, "KX-7").U32le(kVersionPointer, 0xFFF81030);
  mainImage.Text(0x1030, "0213");
  for (std::uint32_t k = 0; k < 400; ++k) {
    mainImage.Byte(k * kBlock + 7, static_cast<std::uint8_t>(k));
  }
  WriteFile(dir.Path("main.bin"), mainImage.Bytes());
  WriteFile(dir.Path("second.bin"), std::vector<std::uint8_t>(kSecondImageSize, 0xFF));
  FwsimProcess controller({"--log", dir.Path("frames.log")});
  const std::string terminal = controller.ReadLine();
  ASSERT_FALSE(terminal.empty()) << controller.ErrorOutput();
  const Ser2net server(dir, terminal, true);
  ASSERT_TRUE(server.Ready()) << server.Output();
  FwsimProcess cli(
      {"update", "rfc2217://127.0.0.1:" + std::to_string(server.Port()), "--main", dir.Path("main.bin"), "--second",
       dir.Path("second.bin"), "--json", dir.Path("summary.json"), "--trace", dir.Path("trace.txt")},
      CLI_PATH);
  for (int polls = 0; ReadText(dir.Path("frames.log")).find("cmd=03:00") == std::string::npos; ++polls) {
    ASSERT_LT(polls, kDeadlineMs / 10) << "no main block written: " << cli.ErrorOutput();
    poll(nullptr, 0, 10);  // the condition waited for is the controller's log
  }
  server.Stop();
  ASSERT_EQ(WaitLong(cli), 7) << cli.RestOfOutput() << cli.ErrorOutput();
  std::ifstream json(dir.Path("summary.json"));
  const nlohmann::json record = nlohmann::json::parse(json, nullptr, false)["ports"][0];
  EXPECT_EQ(record["outcome"], "link_failure");

  // From the connection's end to the port's close, in the trace's own microseconds.
  const std::string trace = ReadText(dir.Path("trace.txt"));
  const auto gone = trace.rfind('\n', trace.find(" is gone"));
  const auto closed = trace.rfind('\n', trace.find(" -- close"));
  ASSERT_NE(gone, std::string::npos) << trace;
  ASSERT_NE(closed, std::string::npos) << trace;
  const double seconds = (std::stod(trace.substr(closed + 1)) - std::stod(trace.substr(gone + 1))) / 1e6;
  EXPECT_LT(seconds, 5.0) << trace;
  EXPECT_TRUE(trace.ends_with(" -- close\n")) << trace;
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> ports;
  int status;
  std::string output;  // in standard output and error together
};

// Nothing listening: "Open Err1" with the reason, status 3, at once. A name that is no URL of ours (also one
// without its "//", which is no device path either), or one server's line named twice: status 2 before anything
// opens.
TEST(NetworkUpdateTest, RefusedConnectionsAndMalformedNames) {
  const std::string port = std::to_string(FreePort());
  const std::string url = "rfc2217://127.0.0.1:" + port;
  const std::vector<RefusalCase> cases = {
      {"nothing listening", {url}, 3, url + ": Open Err1: connection refused by 127.0.0.1:" + port + "\n"},
      {"unknown scheme", {"telnet://127.0.0.1:" + port}, 2, "unknown scheme 'telnet' (rfc2217:// or socket://)"},
      {"port outside 1-65535", {"socket://127.0.0.1:70000"}, 2, "the port '70000' is not a number in 1-65535"},
      {"no // after the scheme", {"rfc2217:127.0.0.1:" + port}, 2, "no '//' after 'rfc2217:'"},
      {"one server twice",
       {url, "SOCKET://127.0.0.1:" + port + "/"},
       2,
       "the port SOCKET://127.0.0.1:" + port + "/ is given twice (also as " + url + ")"},
  };
  for (const RefusalCase& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> args{"update"};
    args.insert(args.end(), c.ports.begin(), c.ports.end());
    FwsimProcess cli(args, CLI_PATH);
    EXPECT_EQ(WaitLong(cli), c.status) << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6)) << c.name;
    const std::string output = cli.RestOfOutput() + cli.ErrorOutput();
    EXPECT_NE(output.find(c.output), std::string::npos) << c.name << "\n" << output;
  }
  // Two device servers on the same port number get a trace each, named by host and port.
  TempDir dir;
  FwsimProcess cli(
      {"update", "--trace", dir.Path("t.txt"), "rfc2217://127.0.0.1:" + port, "socket://127.0.0.2:" + port}, CLI_PATH);
  EXPECT_EQ(WaitLong(cli), 3);
  for (const auto& [host, name] : {std::pair{"127.0.0.1", "127_0_0_1"}, std::pair{"127.0.0.2", "127_0_0_2"}}) {
    EXPECT_NE(ReadText(dir.Path("t-" + std::string(name) + "_" + port + ".txt"))
                  .find(": connection refused by " + std::string(host) + ":" + port),
              std::string::npos)
        << host;
  }
}

}  // namespace
}  // namespace fwu::test
