#include "cli/outcome.h"

#include "trace/wire_decoder.h"

namespace fwu::cli {

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
  }
  return "internal_error";
}

RunVerdict VerdictOf(const RunResult& result) {
  RunVerdict verdict;
  verdict.outcome = result.outcome;
  switch (result.outcome) {
    case Outcome::Finished:
      verdict.message = kFinishedText;
      return verdict;
    case Outcome::Interrupted:
      // The stop is asked after the program-kind query and after each block: before the first block, nothing
      // was written.
      verdict.message =
          result.where.phase == Phase::ProgramKindQuery ? kInterruptedBeforeWritingText : kInterruptedText;
      break;
    case Outcome::ProgramUnknown:
      verdict.message = kProgramUnknownText;
      break;
    case Outcome::LinkFailure:
      verdict.resultCode = result.resultCode;
      break;
    case Outcome::DeviceError:
      verdict.deviceStatus = result.deviceStatus;
      break;
    case Outcome::OpenFailed:
    case Outcome::NoBootLoader:
      break;
  }
  if (verdict.message.empty() && result.failure) {
    verdict.message = FailureText(*result.failure);
    if (ProgramKindUnknown(result)) {
      // The query's own failure, then "Program unknown": the failure decides, both texts are kept.
      verdict.message += std::string(" / ") + kProgramUnknownText;
    }
  }
  const Where& where = result.where;
  verdict.where = trace::DescribeWhere(where.last, {where.command, where.qualifier, where.blockAddress});
  verdict.blockAddress = where.blockAddress;
  return verdict;
}

}  // namespace fwu::cli
