#include "app/dialog_adapter.h"

#include "app/control_ids.h"
#include "protocol/boot_entry.h"
#include "protocol/command_call.h"
#include "serial/port_connection.h"
#include "update/update_sequence.h"
#include "update/versions.h"

namespace fwu {

namespace {

// The outcome boxes of an update: one OK button, no icon and an empty caption.
void ShowPlain(DialogWindow& window, const char* text) {
  window.ShowMessage(text, "", BoxStyle::Plain);
}

// The adapter of the operations that draw no progress.
class BoxesOnly {
 public:
  BoxesOnly(DialogWindow& window, std::span<const std::uint8_t> mainImage) : adapter(window, progress, mainImage) {}
  Progress progress;
  DialogAdapter adapter;
};

}  // namespace

void DialogAdapter::OnFailure(const Failure& failure) {
  ShowError(FailureText(failure));
}

void DialogAdapter::ShowError(const std::string& text) {
  window_.ShowMessage(text, text, BoxStyle::Error);
}

void DialogAdapter::OnVersions(const Versions& versions) {
  window_.SetControlText(kIdVersionText, VersionDisplayText(versions.controller, versions.carried));
  ShowTitle(window_, mainImage_);
}

void DialogAdapter::OnTransferStart(std::uint8_t /*programKind*/, std::uint32_t positions) {
  ProgressStart(window_, progress_, positions);
}

void DialogAdapter::OnBlock(const BlockStep& /*step*/) {
  ProgressStep(window_, progress_);
  window_.PumpMessages();
}

void DialogAdapter::ShowOutcome(const RunResult& result) {
  if (ProgramKindUnknown(result)) {
    ShowPlain(window_, kProgramUnknownText);
  } else if (result.outcome == Outcome::Finished) {
    ShowPlain(window_, kFinishedText);
  }
}

bool OpenPort(SerialPort& port, DialogWindow& owner, std::string_view selectorText) {
  const OpenResult result = OpenPort(port, selectorText);
  if (result == OpenResult::Ok) {
    return true;
  }
  BoxesOnly(owner, {}).adapter.ShowError(OpenFailureText(result));
  return false;
}

std::int16_t CallCommand(Link& link, DialogWindow& owner, std::span<const std::uint8_t> command,
                         std::span<std::uint8_t> response, std::int16_t capacity) {
  BoxesOnly boxes(owner, {});
  return CallCommand(link, boxes.adapter, command, response, capacity);
}

std::int16_t SendBootId(Link& link, DialogWindow& owner) {
  BoxesOnly boxes(owner, {});
  return SendBootId(link, boxes.adapter);
}

std::int16_t ReceiveBootReply(Link& link, DialogWindow& owner, std::span<std::uint8_t> reply) {
  BoxesOnly boxes(owner, {});
  return ReceiveBootReply(link, boxes.adapter, reply);
}

std::int16_t ConfirmBootLoader(Link& link, DialogWindow& owner) {
  BoxesOnly boxes(owner, {});
  return ConfirmBootLoader(link, boxes.adapter);
}

void ReadVersions(Link& link, DialogWindow& window, std::span<const std::uint8_t> mainImage) {
  BoxesOnly boxes(window, mainImage);
  ReadVersions(link, boxes.adapter, mainImage);
}

void QueryVersions(Link& link, DialogWindow& window, std::string& controllerVersion, std::string& carriedVersion,
                   std::span<const std::uint8_t> mainImage) {
  BoxesOnly boxes(window, mainImage);
  QueryVersions(link, boxes.adapter, controllerVersion, carriedVersion, mainImage);
}

void ShowTitle(DialogWindow& window, std::span<const std::uint8_t> mainImage) {
  window.SetTitle(TitleText(mainImage));
}

RunResult RunUpdate(Link& link, DialogWindow& window, Progress& progress, const FirmwareImages& images) {
  DialogAdapter adapter(window, progress, images.main);
  const RunResult result = RunUpdate(link, adapter, images);
  adapter.ShowOutcome(result);
  return result;
}

}  // namespace fwu
