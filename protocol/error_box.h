#pragma once

#include <string>

#include "ui/dialog_window.h"

namespace fwu {

// Shown when an exchange with the controller is asked for while no port is open.
inline constexpr char kPortNotOpenText[] = "Open Err10";

// A failure box: the same string as text and caption, the error icon and one OK button.
inline void ShowErrorBox(DialogWindow& owner, const std::string& text) {
  owner.ShowMessage(text, text, BoxStyle::Error);
}

}  // namespace fwu
