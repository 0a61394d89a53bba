#pragma once

namespace fwu {

// Control ids of the dialog template IDD_DIALOG1. There is no control 1007.
inline constexpr int kIdComOpen = 1001;
inline constexpr int kIdComClose = 1002;
inline constexpr int kIdPortSelector = 1003;
inline constexpr int kIdProgressBar = 1004;
inline constexpr int kIdPercentText = 1005;
inline constexpr int kIdUpdate = 1006;
inline constexpr int kIdVersionText = 1008;
inline constexpr int kIdVersionRead = 1009;
inline constexpr int kIdSpareText = 1010;

}  // namespace fwu
