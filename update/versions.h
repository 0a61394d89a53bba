#pragma once

#include <string>

#include "serial/link.h"
#include "ui/dialog_window.h"
#include "update/images.h"

namespace fwu {

// Brings the boot loader into programming mode, asks for its version and shows it beside the carried one in the
// version display, then refreshes the title.
void ReadVersions(Link& link, DialogWindow& window, std::span<const std::uint8_t> mainImage = MainImage());

// Sends the version query: controllerVersion gets the answer's text, carriedVersion the image's. Both stay empty
// when the query fails.
void QueryVersions(Link& link, DialogWindow& window, std::string& controllerVersion, std::string& carriedVersion,
                   std::span<const std::uint8_t> mainImage = MainImage());

// Sets the title "UPDATE  " + model name + "  " + carried version.
void ShowTitle(DialogWindow& window, std::span<const std::uint8_t> mainImage = MainImage());

}  // namespace fwu
