#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "dialog_fixture.h"

namespace fwu::test {
namespace {

// The template as the operator's window is built from it, written down here apart from the resource script.
struct TemplateControl {
  int id;
  const char* className;    // as registered
  std::uint16_t classAtom;  // the predefined class's ordinal in a template, 0 for a class by name
  const char* caption;
  DWORD style;  // besides WS_CHILD | WS_VISIBLE
  short x, y, cx, cy;
};

constexpr DWORD kChildVisible = WS_CHILD | WS_VISIBLE;
const std::vector<TemplateControl> kControls = {
    {1001, "Button", 0x80, "COM OPEN", WS_TABSTOP | BS_PUSHBUTTON, 7, 30, 50, 14},
    {1002, "Button", 0x80, "COM CLOSE", WS_TABSTOP | BS_PUSHBUTTON, 89, 30, 50, 14},
    {1003, "ComboBox", 0x85, "", WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWN, 7, 7, 132, 30},
    {1004, "msctls_progress32", 0, "", WS_BORDER, 163, 58, 118, 14},
    {1005, "Static", 0x82, "0%", WS_GROUP | SS_CENTER, 199, 74, 44, 8},
    {1006, "Button", 0x80, "UPDATE", WS_TABSTOP | BS_PUSHBUTTON, 163, 7, 118, 33},
    {1008, "Static", 0x82, "FIRMWARE          :\r\nNEW FIRMWARE  :", WS_GROUP | SS_LEFT, 82, 81, 199, 26},
    {1009, "Button", 0x80, "VERSION READ", WS_TABSTOP | BS_PUSHBUTTON, 7, 78, 70, 14},
    {1010, "Static", 0x82, "", WS_GROUP | SS_LEFT, 7, 99, 176, 8},
};
constexpr DWORD kDialogStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_FIXEDSYS;
constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// Reads an extended dialog template field by field, as the dialog manager does.
class TemplateReader {
 public:
  explicit TemplateReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint8_t Byte() { return Read<std::uint8_t>(); }
  std::uint16_t Word() { return Read<std::uint16_t>(); }
  std::uint32_t Dword() { return Read<std::uint32_t>(); }
  short Short() { return Read<std::int16_t>(); }
  // A name or ordinal: 0xFFFF then the ordinal, or a NUL-terminated UTF-16 string (ASCII here).
  std::string NameOrOrdinal(std::uint16_t& ordinal) {
    ordinal = 0;
    if (Peek() == 0xFFFF) {
      Word();
      ordinal = Word();
      return {};
    }
    return Text();
  }
  std::string Text() {
    std::string text;
    for (std::uint16_t c = Word(); c != 0; c = Word()) {
      text.push_back(static_cast<char>(c));
    }
    return text;
  }
  void AlignDword() { at_ = (at_ + 3U) & ~std::size_t{3}; }
  void Skip(std::size_t count) { at_ += count; }
  [[nodiscard]] bool Overran() const { return overran_; }

 private:
  std::uint16_t Peek() {
    const std::size_t at = at_;
    const std::uint16_t value = Word();
    at_ = at;
    return value;
  }
  template <typename T>
  T Read() {
    T value{};
    if (at_ + sizeof(T) > bytes_.size()) {
      overran_ = true;
      return value;
    }
    std::memcpy(&value, bytes_.data() + at_, sizeof(T));
    at_ += sizeof(T);
    return value;
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
  bool overran_ = false;
};

bool SameName(const std::string& a, const std::string& b) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_EQUAL;
}

// Styles a control takes over from its window once created: the selector's list gets the scroll bar, and the
// progress bar draws its own edge. The template test above checks them as stored.
constexpr DWORD kMovedByTheControl = WS_VSCROLL | WS_BORDER;

std::span<const std::uint8_t> Resource(const char* type, const char* name, WORD language) {
  const HMODULE module = GetModuleHandleA(nullptr);
  const HRSRC found = FindResourceExA(module, type, name, language);
  if (found == nullptr) {
    return {};
  }
  const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
  return {data, SizeofResource(module, found)};
}

TEST(DialogTemplateTest, TemplateIsStoredUnderJapaneseAsAnExtendedTemplate) {
  const auto bytes = Resource(MAKEINTRESOURCEA(5), "IDD_DIALOG1", kJapanese);  // RT_DIALOG
  ASSERT_FALSE(bytes.empty()) << "IDD_DIALOG1 under language 1041";
  TemplateReader reader(bytes);
  EXPECT_EQ(reader.Word(), 1) << "version";
  EXPECT_EQ(reader.Word(), 0xFFFF) << "extended template signature";
  EXPECT_EQ(reader.Dword(), 0U) << "help id";
  EXPECT_EQ(reader.Dword(), 0U) << "extended style";
  EXPECT_EQ(reader.Dword(), kDialogStyle) << "style";
  ASSERT_EQ(reader.Word(), kControls.size());
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 304);
  EXPECT_EQ(reader.Short(), 115);
  std::uint16_t ordinal = 0;
  EXPECT_EQ(reader.NameOrOrdinal(ordinal), "") << "no menu";
  EXPECT_EQ(ordinal, 0);
  EXPECT_EQ(reader.NameOrOrdinal(ordinal), "") << "the standard dialog class";
  EXPECT_EQ(ordinal, 0);
  EXPECT_EQ(reader.Text(), "UPDATE");
  EXPECT_EQ(reader.Word(), 8) << "point size";
  EXPECT_EQ(reader.Word(), 400) << "weight";
  EXPECT_EQ(reader.Byte(), 0) << "not italic";
  EXPECT_EQ(reader.Byte(), DEFAULT_CHARSET);
  EXPECT_EQ(reader.Text(), "MS Shell Dlg");

  for (const TemplateControl& control : kControls) {
    SCOPED_TRACE(control.id);
    reader.AlignDword();
    EXPECT_EQ(reader.Dword(), 0U) << "help id";
    EXPECT_EQ(reader.Dword(), 0U) << "extended style";
    EXPECT_EQ(reader.Dword(), kChildVisible | control.style) << "style";
    EXPECT_EQ(reader.Short(), control.x);
    EXPECT_EQ(reader.Short(), control.y);
    EXPECT_EQ(reader.Short(), control.cx);
    EXPECT_EQ(reader.Short(), control.cy);
    EXPECT_EQ(reader.Dword(), static_cast<std::uint32_t>(control.id));
    // A predefined class may be stored by its ordinal or by its name.
    const std::string className = reader.NameOrOrdinal(ordinal);
    if (ordinal != 0) {
      EXPECT_EQ(ordinal, control.classAtom) << "predefined class " << control.className;
    } else {
      EXPECT_TRUE(SameName(className, control.className)) << className;
    }
    EXPECT_EQ(reader.NameOrOrdinal(ordinal), control.caption);
    reader.Skip(reader.Word());  // creation data
  }
  EXPECT_FALSE(reader.Overran());
}

TEST(DialogTemplateTest, ManifestAsksForCommonControls6AsInvoker) {
  const auto bytes = Resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), kJapanese);  // RT_MANIFEST
  const auto neutral = Resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  const auto manifestBytes = bytes.empty() ? neutral : bytes;
  ASSERT_FALSE(manifestBytes.empty());
  const std::string manifest(manifestBytes.begin(), manifestBytes.end());
  for (const char* part : {R"(level="asInvoker")", R"(uiAccess="false")", R"(name="Microsoft.Windows.Common-Controls")",
                           R"(version="6.0.0.0")", R"(processorArchitecture="*")", R"(language="*")"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

class CreatedDialogTest : public ::testing::Test {
 protected:
  TestImages images = MakeImages("TEST MODEL", "V1.23");
  DialogHarness dialog{images.Images()};
};

TEST_F(CreatedDialogTest, ControlsAreCreatedInTemplateOrderWithTheirClassesTextsAndStyles) {
  ASSERT_TRUE(dialog.Created());
  HWND child = GetWindow(dialog.Window(), GW_CHILD);
  for (const TemplateControl& control : kControls) {
    SCOPED_TRACE(control.id);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetDlgCtrlID(child), control.id) << "tab order is template order";
    std::array<char, 64> className{};
    GetClassNameA(child, className.data(), static_cast<int>(className.size()));
    EXPECT_TRUE(SameName(className.data(), control.className)) << className.data();
    const auto style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
    const DWORD wanted = (WS_CHILD | WS_VISIBLE | control.style) & ~kMovedByTheControl;
    EXPECT_EQ(style & wanted, wanted) << std::hex << style;
    if (std::string(control.className) == "Button") {
      EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON)) << "no default push button";
    }
    if (std::string(control.className) == "ComboBox") {
      EXPECT_EQ(style & 3U, static_cast<DWORD>(CBS_DROPDOWN)) << "editable";
      EXPECT_EQ(style & CBS_SORT, 0U) << "entries keep their order";
    }
    if (std::string(control.className) == "Static") {
      EXPECT_EQ(style & SS_TYPEMASK, control.style & SS_TYPEMASK);
    }
    if (control.id != 1003) {  // the selector's text is its selection
      EXPECT_EQ(dialog.ControlText(control.id), control.caption);
    }
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "nine controls, no more";
  EXPECT_EQ(GetDlgItem(dialog.Window(), 1007), nullptr);
}

TEST_F(CreatedDialogTest, DialogIsAFixedCaptionedPopupAndNotYetShown) {
  ASSERT_TRUE(dialog.Created());
  const auto style = static_cast<DWORD>(GetWindowLongA(dialog.Window(), GWL_STYLE));
  const DWORD wantedStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  EXPECT_EQ(style & wantedStyle, wantedStyle) << std::hex << style;
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_VISIBLE), 0U) << std::hex << style;

  RECT expected{0, 0, 304, 115};
  MapDialogRect(dialog.Window(), &expected);
  RECT client{};
  GetClientRect(dialog.Window(), &client);
  EXPECT_EQ(client.right, expected.right);
  EXPECT_EQ(client.bottom, expected.bottom);

  // Controls sit where the template puts them, in the dialog's own units.
  for (const TemplateControl& control : kControls) {
    if (control.id == 1003) {
      continue;  // a drop-down selector's window is its closed height, not the template's list height
    }
    SCOPED_TRACE(control.id);
    // Position and size convert separately, as the dialog manager converts them.
    RECT wanted{control.x, control.y, control.cx, control.cy};
    MapDialogRect(dialog.Window(), &wanted);
    RECT actual{};
    GetWindowRect(GetDlgItem(dialog.Window(), control.id), &actual);
    MapWindowPoints(nullptr, dialog.Window(), reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, wanted.left);
    EXPECT_EQ(actual.top, wanted.top);
    EXPECT_EQ(actual.right - actual.left, wanted.right) << "width";
    EXPECT_EQ(actual.bottom - actual.top, wanted.bottom) << "height";
  }
}

TEST_F(CreatedDialogTest, ProgressBarStartsEmpty) {
  ASSERT_TRUE(dialog.Created());
  const HWND bar = GetDlgItem(dialog.Window(), 1004);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100) << "the bar's own default until an update starts";
}

}  // namespace
}  // namespace fwu::test
