#include "dialog_fixture.h"

#include <array>

#include "app/control_ids.h"
#include "support/image_builder.h"

namespace fwu::test {

namespace {

constexpr std::uint32_t kModelNameAt = 0x2000;  // image offsets the test's text pointers point to
constexpr std::uint32_t kVersionAt = 0x2100;

bool Enabled(HWND dialog, int controlId) {
  return IsWindowEnabled(GetDlgItem(dialog, controlId)) != FALSE;
}

}  // namespace

std::string Describe(const Pattern& p) {
  const auto onOff = [](bool on) { return on ? "on" : "off"; };
  return std::string("selector ") + onOff(p.selector) + ", open " + onOff(p.comOpen) + ", close " + onOff(p.comClose) +
         ", update " + onOff(p.update) + ", version read " + onOff(p.versionRead);
}

TestImages MakeImages(const std::string& modelName, const std::string& version) {
  ImageBuilder main(kMainImageSize);
  main.U32le(kModelNamePointer, kMainImageBase + kModelNameAt).U32le(kVersionPointer, kMainImageBase + kVersionAt);
  if (!modelName.empty()) {
    main.Text(kModelNameAt, modelName);
  }
  if (!version.empty()) {
    main.Text(kVersionAt, version);
  }
  return {main.Bytes(), ImageBuilder(kSecondImageSize).Bytes()};
}

DialogHarness::DialogHarness(FirmwareImages images) : dialog_(std::make_unique<MainDialog>(state, images)) {
  if (dialog_->Create(GetModuleHandleA(nullptr))) {
    window_ = dialog_->Handle();
  }
}

DialogHarness::~DialogHarness() {
  if (Alive()) {
    state.busy = false;
    DestroyWindow(window_);
  }
  // The quit message the dialog posted would end the next message box's loop at once.
  TakeQuit();
}

void DialogHarness::Press(int controlId) const {
  SendMessageA(window_, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window_, controlId)));
}

void DialogHarness::SetSelectorText(const std::string& text) const {
  SetDlgItemTextA(window_, kIdPortSelector, text.c_str());
}

Pattern DialogHarness::Buttons() const {
  return {Enabled(window_, kIdPortSelector), Enabled(window_, kIdComOpen), Enabled(window_, kIdComClose),
          Enabled(window_, kIdUpdate), Enabled(window_, kIdVersionRead)};
}

bool DialogHarness::CloseItemGreyed() const {
  const UINT menuState = GetMenuState(GetSystemMenu(window_, FALSE), SC_CLOSE, MF_BYCOMMAND);
  return (menuState & MF_GRAYED) != 0;
}

std::string DialogHarness::Title() const {
  std::array<char, 512> text{};
  GetWindowTextA(window_, text.data(), static_cast<int>(text.size()));
  return text.data();
}

std::string DialogHarness::ControlText(int controlId) const {
  std::array<char, 512> text{};
  GetDlgItemTextA(window_, controlId, text.data(), static_cast<int>(text.size()));
  return text.data();
}

std::vector<std::string> DialogHarness::SelectorEntries() const {
  const HWND selector = GetDlgItem(window_, kIdPortSelector);
  const auto count = SendMessageA(selector, CB_GETCOUNT, 0, 0);
  std::vector<std::string> entries;
  for (LRESULT i = 0; i < count; ++i) {
    std::array<char, 512> text{};
    SendMessageA(selector, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
    entries.emplace_back(text.data());
  }
  return entries;
}

int DialogHarness::SelectorSelection() const {
  return static_cast<int>(SendDlgItemMessageA(window_, kIdPortSelector, CB_GETCURSEL, 0, 0));
}

bool DialogHarness::RequestClose() const {
  SendMessageA(window_, WM_CLOSE, 0, 0);
  return !Alive();
}

std::optional<WPARAM> DialogHarness::TakeQuit() const {
  MSG message{};
  if (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) == FALSE) {
    return std::nullopt;
  }
  return message.wParam;
}

}  // namespace fwu::test
