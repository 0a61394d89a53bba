#pragma once

#include "serial/link.h"
#include "update/images.h"
#include "update/run_result.h"

namespace fwu {

// Writes the carried images into the controller: boot-mode entry, versions, program-kind query, then the block
// writes of one or two phases. Ends Finished, at the first failure (told to the observer when it happened), or
// Interrupted when the observer asks to stop.
RunResult RunUpdate(Link& link, RunObserver& observer, const FirmwareImages& images = CarriedImages());

}  // namespace fwu
