#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "app/dialog_window.h"
#include "app/progress.h"
#include "serial/link.h"
#include "update/images.h"
#include "update/run_result.h"

namespace fwu {

// The dialog's face of the core: turns what the link, the version read and the update tell into the boxes,
// texts, title and progress-bar calls the operator sees, at the moment they happen.
class DialogAdapter final : public RunObserver {
 public:
  DialogAdapter(DialogWindow& window, Progress& progress, std::span<const std::uint8_t> mainImage)
      : window_(window), progress_(progress), mainImage_(mainImage) {}

  // A failure box: the same string as text and caption, the error icon and one OK button.
  void OnFailure(const Failure& failure) override;
  // The version display, then the title.
  void OnVersions(const Versions& versions) override;
  void OnTransferStart(std::uint8_t programKind, std::uint32_t positions) override;
  // The bar's step, then the window's messages.
  void OnBlock(const BlockStep& step) override;

  // The update's own outcome box, "Finished" or "Program unknown", when it has one.
  void ShowOutcome(const RunResult& result);
  void ShowError(const std::string& text);

 private:
  DialogWindow& window_;
  Progress& progress_;
  std::span<const std::uint8_t> mainImage_;
};

// The dialog's operations, each on the core's and through the adapter.

// Opens the port named by the selector text; a failure is shown ("Open Err1", "Open Err2", "Open Err3",
// "Open Err5") and leaves the port closed.
bool OpenPort(SerialPort& port, DialogWindow& owner, std::string_view selectorText);

std::int16_t CallCommand(Link& link, DialogWindow& owner, std::span<const std::uint8_t> command,
                         std::span<std::uint8_t> response, std::int16_t capacity);
std::int16_t SendBootId(Link& link, DialogWindow& owner);
std::int16_t ReceiveBootReply(Link& link, DialogWindow& owner, std::span<std::uint8_t> reply);
std::int16_t ConfirmBootLoader(Link& link, DialogWindow& owner);

// Shows the versions in the version display and refreshes the title.
void ReadVersions(Link& link, DialogWindow& window, std::span<const std::uint8_t> mainImage = MainImage());
void QueryVersions(Link& link, DialogWindow& window, std::string& controllerVersion, std::string& carriedVersion,
                   std::span<const std::uint8_t> mainImage = MainImage());
// Sets the title "UPDATE  " + model name + "  " + carried version.
void ShowTitle(DialogWindow& window, std::span<const std::uint8_t> mainImage = MainImage());

// The update with the progress display; ends with the box "Finished" or at the first failure, which has been
// shown. The result is what the operator saw, as values.
RunResult RunUpdate(Link& link, DialogWindow& window, Progress& progress,
                    const FirmwareImages& images = CarriedImages());

}  // namespace fwu
