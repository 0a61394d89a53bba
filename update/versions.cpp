#include "update/versions.h"

#include <algorithm>
#include <array>

#include "protocol/command_call.h"
#include "update/run_session.h"

namespace fwu {

namespace {

constexpr char kFirmwareLabel[] = "FIRMWARE          :";
constexpr char kLineBreak[] = "\r\n";
constexpr char kNewFirmwareLabel[] = "NEW FIRMWARE  :";
constexpr char kTitleStart[] = "UPDATE  ";
constexpr char kTitleGap[] = "  ";

// The boot reply is read and dropped; this holds any reply the boot loader is known to send.
constexpr std::size_t kBootReplySize = 100;

constexpr std::array<std::uint8_t, 2> kVersionQuery{0xF0, 0x10};
// The answer's capacity counts the control byte and the ETX besides the payload.
constexpr std::int16_t kVersionAnswerCapacity = 280;
constexpr std::size_t kVersionAnswerSize = kVersionAnswerCapacity - 2;
// Answer bytes 0 to 2 are the header with the device status; the version text follows, unterminated.
constexpr std::size_t kVersionTextStart = 3;

std::string ImageTextOrEmpty(std::span<const std::uint8_t> mainImage, std::uint32_t pointerOffset) {
  return ImageText(mainImage, pointerOffset).value_or(std::string());
}

// Sends the query through call and fills both texts from its answer.
template <typename Call>
bool Query(const Call& call, std::string& controllerVersion, std::string& carriedVersion,
           std::span<const std::uint8_t> mainImage) {
  controllerVersion.clear();
  carriedVersion.clear();

  std::array<std::uint8_t, kVersionAnswerSize> answer{};
  const std::int16_t length = call(std::span<std::uint8_t>(answer));
  if (length < 0) {
    // The failure has been told; both lines of the display stay without a value.
    return false;
  }
  const std::size_t answerLength = std::min(static_cast<std::size_t>(length), answer.size());
  if (answerLength > kVersionTextStart) {
    // Byte for byte, a NUL included: the window shows the text only up to it.
    controllerVersion.assign(answer.begin() + kVersionTextStart, answer.begin() + answerLength);
  }
  carriedVersion = ImageTextOrEmpty(mainImage, kVersionPointer);
  return true;
}

}  // namespace

std::optional<Versions> ReadVersionsIn(RunSession& session, std::span<const std::uint8_t> mainImage) {
  session.EnterPhase(Phase::VersionRead);
  std::array<std::uint8_t, kBootReplySize> bootReply{};
  if (!session.EnterBootMode(bootReply)) {
    return std::nullopt;
  }
  Versions versions;
  versions.answered =
      Query([&](std::span<std::uint8_t> answer) { return session.Call(kVersionQuery, answer, kVersionAnswerCapacity); },
            versions.controller, versions.carried, mainImage);
  session.Observer().OnVersions(versions);
  return versions;
}

RunResult ReadVersions(Link& link, RunObserver& observer, std::span<const std::uint8_t> mainImage) {
  RunResult result;
  RunSession session(link, observer, result);
  result.versions = ReadVersionsIn(session, mainImage);
  if (!result.versions || !result.versions->answered) {
    session.Fail();
  }
  return result;
}

bool QueryVersions(Link& link, LinkObserver& observer, std::string& controllerVersion, std::string& carriedVersion,
                   std::span<const std::uint8_t> mainImage) {
  return Query(
      [&](std::span<std::uint8_t> answer) {
        return CallCommand(link, observer, kVersionQuery, answer, kVersionAnswerCapacity);
      },
      controllerVersion, carriedVersion, mainImage);
}

std::string VersionDisplayText(const std::string& controllerVersion, const std::string& carriedVersion) {
  return kFirmwareLabel + controllerVersion + kLineBreak + kNewFirmwareLabel + carriedVersion;
}

std::string TitleText(std::span<const std::uint8_t> mainImage) {
  return kTitleStart + ImageTextOrEmpty(mainImage, kModelNamePointer) + kTitleGap +
         ImageTextOrEmpty(mainImage, kVersionPointer);
}

}  // namespace fwu
