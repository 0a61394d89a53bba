#pragma once

#include <cstdint>
#include <span>

#include "serial/link.h"
#include "update/run_result.h"

namespace fwu {

// One run on the link, shared by the update and the version read: it sends through the boot-mode entry and the
// command call, keeps where the run is and what failed last in the run's result, and passes every failure on to
// the run's observer at the moment it happens.
class RunSession final : public LinkObserver {
 public:
  RunSession(Link& link, RunObserver& observer, RunResult& result)
      : link_(link), observer_(observer), result_(result) {}

  void OnFailure(const Failure& failure) override;

  // The boot-mode entry: identification message, boot reply (whatever it says), enquiry. False when it failed.
  bool EnterBootMode(std::span<std::uint8_t> bootReply);
  // One device command through the command call.
  std::int16_t Call(std::span<const std::uint8_t> command, std::span<std::uint8_t> answer, std::int16_t capacity);

  void EnterPhase(Phase phase, Image image = Image::None);
  // Ends the run with the failure told last.
  void Fail();

  [[nodiscard]] Link& LinkInUse() { return link_; }
  [[nodiscard]] RunObserver& Observer() { return observer_; }
  [[nodiscard]] RunResult& Result() { return result_; }

 private:
  Link& link_;
  RunObserver& observer_;
  RunResult& result_;
  Failure lastFailure_;
};

}  // namespace fwu
