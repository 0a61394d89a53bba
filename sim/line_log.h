#pragma once

#include <string>

#include "sim/boot_loader.h"

namespace fwu::sim {

// One line of the server's Frame log, without the line break. Fields are separated by single spaces:
//   <us> <in|out> <kind> <control> len=<payload bytes> wire=<line bytes> <outcome> [cmd=CC:QQ] [addr=0xAAAAAAAA]
//   [status=SSSS]
// kind is frame, id, boot-reply or skipped; control is STX, EOT, ENQ, ACK, NAK, a hex byte, or "-" for bytes
// outside Frames; outcome is ok, bad-crc, no-control, overrun or truncated. Commands carry cmd (and addr for
// block writes); answers carry cmd and status.
std::string FormatLineRecord(const LineRecord& record);

}  // namespace fwu::sim
