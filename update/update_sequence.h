#pragma once

#include "serial/link.h"
#include "ui/dialog_window.h"
#include "ui/progress.h"
#include "update/images.h"

namespace fwu {

// Writes the carried images into the controller: boot-mode entry, versions, program-kind query, then the block
// writes of one or two phases. Ends with "Finished" or at the first failure, which has been shown.
void RunUpdate(Link& link, DialogWindow& window, Progress& progress, const FirmwareImages& images = CarriedImages());

}  // namespace fwu
