#pragma once

#include <string>

#include "serial/link.h"
#include "update/images.h"
#include "update/run_result.h"

namespace fwu {

class RunSession;

// Brings the boot loader into programming mode and asks for its version. Tells the observer the versions once
// the boot-mode entry succeeded. Finished when the controller answered the query; otherwise the failure that
// ended the read.
RunResult ReadVersions(Link& link, RunObserver& observer, std::span<const std::uint8_t> mainImage = MainImage());

// The version read inside a run: the versions, or nothing when the boot-mode entry failed.
std::optional<Versions> ReadVersionsIn(RunSession& session, std::span<const std::uint8_t> mainImage);

// Sends the version query: controllerVersion gets the answer's text, carriedVersion the image's. Both stay empty
// when the query fails; true when it answered.
bool QueryVersions(Link& link, LinkObserver& observer, std::string& controllerVersion, std::string& carriedVersion,
                   std::span<const std::uint8_t> mainImage = MainImage());

// The version display: "FIRMWARE          :" + controller version, a line break, "NEW FIRMWARE  :" + carried.
std::string VersionDisplayText(const std::string& controllerVersion, const std::string& carriedVersion);

// The window's title: "UPDATE  " + model name + "  " + carried version.
std::string TitleText(std::span<const std::uint8_t> mainImage = MainImage());

}  // namespace fwu
