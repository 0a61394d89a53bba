#include "update/versions.h"

#include <algorithm>
#include <array>

#include "protocol/boot_entry.h"
#include "protocol/command_call.h"
#include "ui/control_ids.h"

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

}  // namespace

void ReadVersions(Link& link, DialogWindow& window, std::span<const std::uint8_t> mainImage) {
  if (SendBootId(link, window) == -1) {
    return;
  }
  std::array<std::uint8_t, kBootReplySize> bootReply{};
  ReceiveBootReply(link, window, bootReply);
  if (ConfirmBootLoader(link, window) < 0) {
    return;
  }

  std::string controllerVersion;
  std::string carriedVersion;
  QueryVersions(link, window, controllerVersion, carriedVersion, mainImage);
  window.SetControlText(kIdVersionText,
                        kFirmwareLabel + controllerVersion + kLineBreak + kNewFirmwareLabel + carriedVersion);
  ShowTitle(window, mainImage);
}

void QueryVersions(Link& link, DialogWindow& window, std::string& controllerVersion, std::string& carriedVersion,
                   std::span<const std::uint8_t> mainImage) {
  controllerVersion.clear();
  carriedVersion.clear();

  std::array<std::uint8_t, kVersionAnswerSize> answer{};
  const std::int16_t length = CallCommand(link, window, kVersionQuery, answer, kVersionAnswerCapacity);
  if (length < 0) {
    // The failure has been shown; both lines of the display stay without a value.
    return;
  }
  const std::size_t answerLength = std::min(static_cast<std::size_t>(length), answer.size());
  if (answerLength > kVersionTextStart) {
    // Byte for byte, a NUL included: the window shows the text only up to it.
    controllerVersion.assign(answer.begin() + kVersionTextStart, answer.begin() + answerLength);
  }
  carriedVersion = ImageTextOrEmpty(mainImage, kVersionPointer);
}

void ShowTitle(DialogWindow& window, std::span<const std::uint8_t> mainImage) {
  window.SetTitle(kTitleStart + ImageTextOrEmpty(mainImage, kModelNamePointer) + kTitleGap +
                  ImageTextOrEmpty(mainImage, kVersionPointer));
}

}  // namespace fwu
