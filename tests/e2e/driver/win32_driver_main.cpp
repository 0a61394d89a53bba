// Drives the updater's dialog from outside its process, the way an operator does: picks the port, presses the
// buttons, reads what the window and its message boxes say, presses OK. The scenario comes from a script
// file (see script.h); every step is written to standard output as it happens, and the first step whose
// expectation is not met within the time limit ends the run with exit code 1.
//
// Steps (fields separated by '|'):
//   wait-dialog                      find the updater's dialog
//   title|TEXT   text|ID|TEXT        wait until the title or a control shows exactly TEXT
//   show|ID                          print a control's text
//   items-end|ITEM|...               the port selector's list ends with these items
//   pattern|closed, open or busy     wait until the buttons are enabled as in that pattern
//   select-port|ITEM  type-port|TEXT pick a list item, or type into the selector's edit field
//   click|ID                         press an enabled button
//   box|TEXT|CAPTION|error or none   wait for the dialog's message box, check it, press OK
//   box-keep|TEXT|CAPTION|ICON       the same, leaving the box open;  ok  presses OK on it
//   no-box                           no message box is open now
//   progress|PERCENT                 wait until the percentage label reaches PERCENT
//   close|sc or wm|refused or closed ask the window to close (system menu or WM_CLOSE) and check the outcome
//   gone                             wait until the dialog is destroyed
//   timeout|SECONDS  echo|TEXT  rect the time limit of the following steps; a note; the window's rectangle

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "script.h"
#include "win32_window_probe.h"

namespace fwu::e2e {

namespace {

// The control ids of the updater's dialog template.
constexpr int kIdComOpen = 1001;
constexpr int kIdComClose = 1002;
constexpr int kIdPortSelector = 1003;
constexpr int kIdProgressBar = 1004;
constexpr int kIdPercentText = 1005;
constexpr int kIdUpdate = 1006;
constexpr int kIdVersionText = 1008;
constexpr int kIdVersionRead = 1009;
constexpr int kIdSpareText = 1010;
constexpr int kWatchedIds[] = {kIdComOpen, kIdComClose,    kIdPortSelector, kIdProgressBar, kIdPercentText,
                               kIdUpdate,  kIdVersionText, kIdVersionRead,  kIdSpareText};
// The controls that the dialog switches between its three patterns, in the order it switches them.
constexpr int kPatternIds[] = {kIdPortSelector, kIdComOpen, kIdComClose, kIdUpdate, kIdVersionRead};

constexpr DWORD kPollMs = 50;
constexpr double kDefaultTimeoutSeconds = 30.0;
// A message to the dialog's thread is answered between two exchanges with the controller; one exchange with
// all its retries lasts about 5 s, a version read with its handshake a little more.
constexpr unsigned kAnswerTimeoutMs = 20000;
constexpr unsigned kQuickAnswerMs = 2000;
constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Pattern {
  const char* name;
  bool enabled[5];
};

constexpr Pattern kPatterns[] = {
    {"closed", {true, true, false, false, false}},
    {"open", {false, false, true, true, true}},
    {"busy", {false, false, false, false, false}},
};

class Runner {
 public:
  Runner() : start_(GetTickCount64()) {}
  int Run(const std::vector<Step>& steps);

 private:
  using Handler = bool (Runner::*)(const Step&);
  struct Verb {
    Handler handler;
    std::size_t minArgs;
    std::size_t maxArgs;
  };

  static const std::map<std::string, Verb>& Verbs();

  bool WaitDialog(const Step& step);
  bool Title(const Step& step);
  bool Text(const Step& step);
  bool Show(const Step& step);
  bool ItemsEnd(const Step& step);
  bool PatternStep(const Step& step);
  bool SelectPort(const Step& step);
  bool TypePort(const Step& step);
  bool Click(const Step& step);
  bool Box(const Step& step);
  bool BoxKeep(const Step& step);
  bool Ok(const Step& step);
  bool NoBox(const Step& step);
  bool Progress(const Step& step);
  bool Close(const Step& step);
  bool Gone(const Step& step);
  bool Timeout(const Step& step);
  bool Echo(const Step& step);
  bool Rect(const Step& step);

  template <typename Condition>
  bool WaitUntil(Condition condition, bool boxesExpected = false);
  bool WaitForBox(MessageBoxView& box);
  bool CheckBox(const Step& step, const MessageBoxView& box);
  bool PressAndWaitGone(const MessageBoxView& box);
  bool NeedDialog();
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }
  std::string ControlText(int id) const;
  std::string EnabledStates() const;
  void WatchProgress();
  void Say(const std::string& line) const;
  bool Fail(const std::string& why);
  void DumpState();

  ULONGLONG start_;
  HWND dialog_ = nullptr;
  double timeoutSeconds_ = kDefaultTimeoutSeconds;
  std::string lastPercent_;
  int lastPercentDecade_ = -1;
};

const std::map<std::string, Runner::Verb>& Runner::Verbs() {
  static const std::map<std::string, Verb> verbs = {
      {"wait-dialog", {&Runner::WaitDialog, 0, 0}},
      {"title", {&Runner::Title, 1, 1}},
      {"text", {&Runner::Text, 2, 2}},
      {"show", {&Runner::Show, 1, 1}},
      {"items-end", {&Runner::ItemsEnd, 1, 64}},
      {"pattern", {&Runner::PatternStep, 1, 1}},
      {"select-port", {&Runner::SelectPort, 1, 1}},
      {"type-port", {&Runner::TypePort, 1, 1}},
      {"click", {&Runner::Click, 1, 1}},
      {"box", {&Runner::Box, 3, 3}},
      {"box-keep", {&Runner::BoxKeep, 3, 3}},
      {"ok", {&Runner::Ok, 0, 0}},
      {"no-box", {&Runner::NoBox, 0, 0}},
      {"progress", {&Runner::Progress, 1, 1}},
      {"close", {&Runner::Close, 2, 2}},
      {"gone", {&Runner::Gone, 0, 0}},
      {"timeout", {&Runner::Timeout, 1, 1}},
      {"echo", {&Runner::Echo, 1, 1}},
      {"rect", {&Runner::Rect, 0, 0}},
  };
  return verbs;
}

int Runner::Run(const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    const auto verb = Verbs().find(step.verb);
    if (verb == Verbs().end() || step.args.size() < verb->second.minArgs || step.args.size() > verb->second.maxArgs) {
      Say("script line " + std::to_string(step.line) + ": unknown step or wrong number of fields: " + step.verb);
      return kExitUsage;
    }
  }
  for (const Step& step : steps) {
    if (!(this->*Verbs().at(step.verb).handler)(step)) {
      Say("FAILED at script line " + std::to_string(step.line) + " (" + step.verb + ")");
      DumpState();
      return kExitFailed;
    }
  }
  Say("PASSED (" + std::to_string(steps.size()) + " steps)");
  return kExitPassed;
}

void Runner::Say(const std::string& line) const {
  const double seconds = static_cast<double>(GetTickCount64() - start_) / 1000.0;
  static_cast<void>(std::printf("[%7.2fs] %s\n", seconds, line.c_str()));
  static_cast<void>(std::fflush(stdout));
}

bool Runner::Fail(const std::string& why) {
  Say("  FAIL: " + why);
  return false;
}

// Polls the condition until it holds or the time limit passes. Unless a box is what the step waits for, a
// message box that appears meanwhile ends the wait at once: the dialog is then blocked in the box's modal
// loop and nothing else will change.
template <typename Condition>
bool Runner::WaitUntil(Condition condition, bool boxesExpected) {
  const auto limit = static_cast<ULONGLONG>(timeoutSeconds_ * 1000.0);
  const ULONGLONG begin = GetTickCount64();
  for (;;) {
    WatchProgress();
    if (condition()) {
      return true;
    }
    if (!boxesExpected && dialog_ != nullptr && !OwnedMessageBoxes(dialog_, kQuickAnswerMs).empty()) {
      Say("  a message box appeared meanwhile");
      return false;
    }
    if (GetTickCount64() - begin > limit) {
      return false;
    }
    Sleep(kPollMs);
  }
}

// Reports the percentage as the operator watches it: every tenth and the end.
void Runner::WatchProgress() {
  if (dialog_ == nullptr || !Exists(dialog_)) {
    return;
  }
  const std::string percent = ControlText(kIdPercentText);
  if (percent == lastPercent_) {
    return;
  }
  const int decade = std::atoi(percent.c_str()) / 10;
  if (decade != lastPercentDecade_) {
    Say("  progress " + Quote(percent));
    lastPercentDecade_ = decade;
  }
  lastPercent_ = percent;
}

bool Runner::NeedDialog() {
  if (dialog_ == nullptr || !Exists(dialog_)) {
    return Fail("no updater dialog (wait-dialog first)");
  }
  return true;
}

std::string Runner::ControlText(int id) const {
  HWND control = Control(id);
  if (control == nullptr) {
    return "<no control " + std::to_string(id) + ">";
  }
  if (id == kIdPortSelector) {
    // The selector's edit field keeps its own text; only the control can tell it.
    std::string text;
    return SentText(control, kQuickAnswerMs, text) ? text : std::string("<no answer>");
  }
  return StoredText(control);
}

std::string Runner::EnabledStates() const {
  std::string states;
  for (const int id : kPatternIds) {
    states += std::to_string(id) + (Enabled(Control(id)) ? " on  " : " off ");
  }
  return states;
}

void Runner::DumpState() {
  if (dialog_ == nullptr || !Exists(dialog_)) {
    Say("  state: no updater dialog");
    return;
  }
  Say("  state: title " + Quote(StoredText(dialog_)));
  for (const int id : kWatchedIds) {
    Say("  state: " + std::to_string(id) + (Enabled(Control(id)) ? " on  " : " off ") +
        Quote(id == kIdPortSelector ? ControlText(id) : StoredText(Control(id))));
  }
  for (const MessageBoxView& box : OwnedMessageBoxes(dialog_, kQuickAnswerMs)) {
    Say("  state: box text " + Quote(box.text) + " caption " + Quote(box.caption) +
        (box.hasIcon ? " icon" : " no icon"));
  }
}

bool Runner::WaitDialog(const Step&) {
  HWND found = nullptr;
  if (!WaitUntil([&found] { return (found = FindUpdaterDialog()) != nullptr && Visible(found); })) {
    return Fail("no updater dialog appeared");
  }
  dialog_ = found;
  lastPercent_ = ControlText(kIdPercentText);
  lastPercentDecade_ = -1;
  Say("dialog found: " + Quote(StoredText(dialog_)));
  return true;
}

bool Runner::Title(const Step& step) {
  if (!NeedDialog()) {
    return false;
  }
  const std::string& expected = step.args[0];
  if (!WaitUntil([&] { return StoredText(dialog_) == expected; })) {
    return Fail("title is " + Quote(StoredText(dialog_)) + ", expected " + Quote(expected));
  }
  Say("title " + Quote(expected) + " ok");
  return true;
}

bool Runner::Text(const Step& step) {
  if (!NeedDialog()) {
    return false;
  }
  const int id = std::atoi(step.args[0].c_str());
  const std::string& expected = step.args[1];
  if (!WaitUntil([&] { return ControlText(id) == expected; })) {
    return Fail("control " + step.args[0] + " shows " + Quote(ControlText(id)) + ", expected " + Quote(expected));
  }
  Say("control " + step.args[0] + " shows " + Quote(expected) + " ok");
  return true;
}

bool Runner::Show(const Step& step) {
  if (!NeedDialog()) {
    return false;
  }
  Say("control " + step.args[0] + " shows " + Quote(ControlText(std::atoi(step.args[0].c_str()))));
  return true;
}

bool Runner::ItemsEnd(const Step& step) {
  if (!NeedDialog()) {
    return false;
  }
  std::vector<std::string> items;
  if (!ComboItems(Control(kIdPortSelector), kAnswerTimeoutMs, items)) {
    return Fail("the port selector did not give its items");
  }
  std::string listed;
  for (const std::string& item : items) {
    listed += (listed.empty() ? "" : ", ") + Quote(item);
  }
  Say("port selector holds " + std::to_string(items.size()) + " items: " + listed);
  const std::vector<std::string>& tail = step.args;
  if (items.size() < tail.size() ||
      !std::equal(tail.begin(), tail.end(), items.end() - static_cast<std::ptrdiff_t>(tail.size()))) {
    return Fail("the items do not end with the " + std::to_string(tail.size()) + " expected");
  }
  Say("port selector ends with " + Quote(tail.front()) + " .. " + Quote(tail.back()) + " ok");
  return true;
}

bool Runner::PatternStep(const Step& step) {
  if (!NeedDialog()) {
    return false;
  }
  const Pattern* pattern = nullptr;
  for (const Pattern& known : kPatterns) {
    if (step.args[0] == known.name) {
      pattern = &known;
    }
  }
  if (pattern == nullptr) {
    return Fail("unknown pattern " + step.args[0]);
  }
  auto matches = [&] {
    for (std::size_t i = 0; i < std::size(kPatternIds); ++i) {
      if (Enabled(Control(kPatternIds[i])) != pattern->enabled[i]) {
        return false;
      }
    }
    return true;
  };
  if (!WaitUntil(matches)) {
    return Fail("buttons " + EnabledStates() + "are not the " + step.args[0] + " pattern");
  }
  Say("buttons in the " + step.args[0] + " pattern: " + EnabledStates());
  return true;
}

bool Runner::SelectPort(const Step& step) {
  if (!NeedDialog()) {
    return false;
  }
  if (!ComboSelectExact(Control(kIdPortSelector), step.args[0], kAnswerTimeoutMs)) {
    return Fail("the port selector has no item " + Quote(step.args[0]));
  }
  Say("selected port " + Quote(step.args[0]) + "; the selector shows " + Quote(ControlText(kIdPortSelector)));
  return ControlText(kIdPortSelector) == step.args[0] || Fail("the selector does not show the selection");
}

bool Runner::TypePort(const Step& step) {
  if (!NeedDialog()) {
    return false;
  }
  if (!SendText(Control(kIdPortSelector), step.args[0], kAnswerTimeoutMs)) {
    return Fail("the port selector did not take the text");
  }
  Say("typed port " + Quote(step.args[0]) + "; the selector shows " + Quote(ControlText(kIdPortSelector)));
  return ControlText(kIdPortSelector) == step.args[0] || Fail("the selector does not show the typed text");
}

bool Runner::Click(const Step& step) {
  if (!NeedDialog()) {
    return false;
  }
  HWND button = Control(std::atoi(step.args[0].c_str()));
  if (button == nullptr) {
    return Fail("no control " + step.args[0]);
  }
  if (!Enabled(button)) {
    return Fail("button " + step.args[0] + " " + Quote(StoredText(button)) + " is disabled");
  }
  Say("click " + step.args[0] + " " + Quote(StoredText(button)));
  return PostClick(button) || Fail("the click could not be posted");
}

bool Runner::WaitForBox(MessageBoxView& box) {
  std::vector<MessageBoxView> boxes;
  if (!WaitUntil(
          [&] {
            boxes = OwnedMessageBoxes(dialog_, kQuickAnswerMs);
            return !boxes.empty();
          },
          true)) {
    return Fail("no message box appeared");
  }
  if (boxes.size() > 1) {
    return Fail(std::to_string(boxes.size()) + " message boxes at once");
  }
  box = boxes.front();
  return true;
}

bool Runner::CheckBox(const Step& step, const MessageBoxView& box) {
  const std::string& text = step.args[0];
  const std::string& caption = step.args[1];
  const std::string& icon = step.args[2];
  if (icon != "error" && icon != "none") {
    return Fail("icon must be error or none, not " + icon);
  }
  Say("message box: text " + Quote(box.text) + ", caption " + Quote(box.caption) +
      (box.hasIcon ? ", with icon" : ", no icon"));
  if (box.text != text) {
    return Fail("expected the text " + Quote(text));
  }
  if (box.caption != caption) {
    return Fail("expected the caption " + Quote(caption));
  }
  if (box.hasIcon != (icon == "error")) {
    return Fail(icon == "error" ? "expected the error icon" : "expected no icon");
  }
  return true;
}

bool Runner::PressAndWaitGone(const MessageBoxView& box) {
  if (!PressOk(box.window)) {
    return Fail("OK could not be pressed");
  }
  if (!WaitUntil([&] { return !Exists(box.window); }, true)) {
    return Fail("the message box stayed after OK");
  }
  Say("  OK pressed, box closed");
  return true;
}

bool Runner::Box(const Step& step) {
  MessageBoxView box;
  return NeedDialog() && WaitForBox(box) && CheckBox(step, box) && PressAndWaitGone(box);
}

bool Runner::BoxKeep(const Step& step) {
  MessageBoxView box;
  return NeedDialog() && WaitForBox(box) && CheckBox(step, box);
}

bool Runner::Ok(const Step&) {
  MessageBoxView box;
  return NeedDialog() && WaitForBox(box) && PressAndWaitGone(box);
}

bool Runner::NoBox(const Step&) {
  if (!NeedDialog()) {
    return false;
  }
  const std::vector<MessageBoxView> boxes = OwnedMessageBoxes(dialog_, kQuickAnswerMs);
  if (!boxes.empty()) {
    return Fail("unexpected message box " + Quote(boxes.front().text));
  }
  Say("no message box ok");
  return true;
}

bool Runner::Progress(const Step& step) {
  if (!NeedDialog()) {
    return false;
  }
  const int wanted = std::atoi(step.args[0].c_str());
  // The label holds the template's "0%" until the transfer starts, then "%3d %%".
  auto reached = [&] {
    const std::string text = ControlText(kIdPercentText);
    return text.size() == 5 && text.substr(3) == " %" && std::atoi(text.c_str()) >= wanted;
  };
  if (!WaitUntil(reached)) {
    return Fail("the percentage stays at " + Quote(ControlText(kIdPercentText)));
  }
  Say("progress reached " + Quote(ControlText(kIdPercentText)));
  return true;
}

bool Runner::Close(const Step& step) {
  if (!NeedDialog()) {
    return false;
  }
  const std::string& method = step.args[0];
  const std::string& expected = step.args[1];
  if ((method != "wm" && method != "sc") || (expected != "refused" && expected != "closed")) {
    return Fail("close takes wm|sc and refused|closed");
  }
  Say(std::string("close request ") + (method == "sc" ? "(system menu Close)" : "(WM_CLOSE)"));
  const CloseOutcome outcome = RequestClose(dialog_, method == "sc", kAnswerTimeoutMs);
  if (outcome == CloseOutcome::NoAnswer) {
    return Fail("the dialog did not answer the close request");
  }
  const std::string seen = outcome == CloseOutcome::Closed ? "closed" : "refused";
  Say("  the window " + std::string(outcome == CloseOutcome::Closed ? "closed" : "refused to close"));
  return seen == expected || Fail("expected the window to be " + expected);
}

bool Runner::Gone(const Step&) {
  if (!WaitUntil([this] { return dialog_ == nullptr || !Exists(dialog_); })) {
    return Fail("the dialog is still there");
  }
  Say("the dialog is gone");
  return true;
}

bool Runner::Timeout(const Step& step) {
  timeoutSeconds_ = std::atof(step.args[0].c_str());
  return timeoutSeconds_ > 0 || Fail("the time limit must be positive");
}

bool Runner::Echo(const Step& step) {
  Say(step.args[0]);
  return true;
}

bool Runner::Rect(const Step&) {
  if (!NeedDialog()) {
    return false;
  }
  // One rectangle around the dialog and whatever box it shows, for a screenshot of the window.
  RECT all{};
  GetWindowRect(dialog_, &all);
  for (const MessageBoxView& box : OwnedMessageBoxes(dialog_, kQuickAnswerMs)) {
    RECT one{};
    GetWindowRect(box.window, &one);
    UnionRect(&all, &all, &one);
  }
  Say("rect " + std::to_string(all.left) + " " + std::to_string(all.top) + " " + std::to_string(all.right) + " " +
      std::to_string(all.bottom));
  return true;
}

bool ReadScriptFile(const char* path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  text = content.str();
  return true;
}

}  // namespace

}  // namespace fwu::e2e

int main(int argc, char** argv) {
  // The transcript goes to a file on the Linux side; keep its line ends as written.
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 2) {
    static_cast<void>(std::printf("usage: fwu_e2e_driver SCRIPT\n"));
    return 2;
  }
  std::string text;
  std::vector<fwu::e2e::Step> steps;
  std::string error;
  if (!fwu::e2e::ReadScriptFile(argv[1], text)) {
    static_cast<void>(std::printf("cannot read the script %s\n", argv[1]));
    return 2;
  }
  if (!fwu::e2e::ParseScript(text, steps, error)) {
    static_cast<void>(std::printf("script %s: %s\n", argv[1], error.c_str()));
    return 2;
  }
  fwu::e2e::Runner runner;
  return runner.Run(steps);
}
