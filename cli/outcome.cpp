#include "cli/outcome.h"

#include <array>
#include <cstdlib>
#include <string_view>

#include "protocol/command_call.h"

namespace fwu::cli {

namespace {

constexpr char kFinishedText[] = "Finished";
constexpr char kProgramUnknownText[] = "Program unknown";

struct FixedText {
  std::string_view text;
  Outcome outcome;
};
constexpr std::array<FixedText, 9> kFixedTexts{{
    {"Open Err1", Outcome::OpenFailed},
    {"Open Err2", Outcome::OpenFailed},
    {"Open Err3", Outcome::OpenFailed},
    {"Open Err5", Outcome::OpenFailed},
    {"Open Err10", Outcome::OpenFailed},
    {"ACK receive timeout", Outcome::NoBootLoader},
    {"Receive except ACK", Outcome::NoBootLoader},
    {kProgramUnknownText, Outcome::ProgramUnknown},
    {kFinishedText, Outcome::Finished},
}};

// A failed exchange reads "%8d : <message>", a device status "%04X : Errors"; each is recognised only when the
// core would compose exactly this text from the number in front.
RunVerdict JudgeText(const std::string& text) {
  RunVerdict verdict;
  verdict.message = text;
  for (const auto& fixed : kFixedTexts) {
    if (text == fixed.text) {
      verdict.outcome = fixed.outcome;
      return verdict;
    }
  }
  const long code = std::strtol(text.c_str(), nullptr, 10);
  if (code < 0 && code >= INT16_MIN && CommandFailureText(static_cast<std::int16_t>(code)) == text) {
    verdict.outcome = Outcome::LinkFailure;
    verdict.resultCode = static_cast<int>(code);
    return verdict;
  }
  constexpr int kHex = 16;
  const unsigned long status = std::strtoul(text.c_str(), nullptr, kHex);
  if (status <= UINT16_MAX && DeviceStatusText(static_cast<std::uint16_t>(status)) == text) {
    verdict.outcome = Outcome::DeviceError;
    verdict.deviceStatus = static_cast<int>(status);
  }
  return verdict;
}

}  // namespace

int ExitStatus(Outcome outcome) {
  switch (outcome) {
    case Outcome::Finished:
      return kExitFinished;
    case Outcome::OpenFailed:
      return 3;
    case Outcome::NoBootLoader:
      return 4;
    case Outcome::ProgramUnknown:
      return 5;
    case Outcome::DeviceError:
      return 6;
    case Outcome::LinkFailure:
      return 7;
    case Outcome::Interrupted:
      return kExitInterrupted;
    case Outcome::Internal:
      break;
  }
  return kExitInternal;
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Finished:
      return "finished";
    case Outcome::OpenFailed:
      return "open_failed";
    case Outcome::NoBootLoader:
      return "no_boot_loader";
    case Outcome::ProgramUnknown:
      return "program_unknown";
    case Outcome::DeviceError:
      return "device_error";
    case Outcome::LinkFailure:
      return "link_failure";
    case Outcome::Interrupted:
      return "interrupted";
    case Outcome::Internal:
      break;
  }
  return "internal_error";
}

RunVerdict Judge(const std::vector<Box>& boxes, const std::optional<StopPoint>& stop) {
  if (stop) {
    // A stop ends the run without a box; any box before it came from a step the run went on after.
    RunVerdict verdict;
    verdict.outcome = Outcome::Interrupted;
    verdict.message = stop->beforeWriting ? kInterruptedBeforeWritingText : kInterruptedText;
    verdict.where = stop->where;
    return verdict;
  }
  if (boxes.empty()) {
    RunVerdict verdict;
    verdict.message = "the update ended without an outcome";
    return verdict;
  }
  const Box& last = boxes.back();
  RunVerdict verdict = JudgeText(last.text);
  verdict.where = last.where;
  if (verdict.outcome == Outcome::Finished) {
    verdict.where.clear();
    return verdict;
  }
  // The query's own failure, shown with nothing sent in between, is what "Program unknown" follows.
  if (verdict.outcome == Outcome::ProgramUnknown && boxes.size() >= 2 && boxes[boxes.size() - 2].where == last.where) {
    RunVerdict cause = JudgeText(boxes[boxes.size() - 2].text);
    if (cause.outcome == Outcome::LinkFailure || cause.outcome == Outcome::DeviceError) {
      cause.message += " / " + last.text;
      cause.where = last.where;
      return cause;
    }
  }
  return verdict;
}

}  // namespace fwu::cli
