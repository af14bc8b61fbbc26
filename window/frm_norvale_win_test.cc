// Tests of the Windows main window: its controls, its defaults and what a
// press of the button shows, on real temporary folders. What a run writes is
// the run's own tests' business; here it need only be started and reported.
#include "window/frm_norvale_win.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "services/shell_tools.h"
#include "services/test_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr char kShortcut[] = "[InternetShortcut]\r\nURL=http://a/\r\n";

// A message box the window asked for: owner, title, text and type.
using Shown = std::tuple<HWND, std::wstring, std::wstring, UINT>;

std::wstring TextOf(HWND hwnd) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(hwnd, text, 1024);
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  return name;
}

// Says whether `control` shows its caption whole, or for a field a line of
// text, measured in the font it draws with rather than by the window's sums.
// Labels wrap at word boundaries; buttons and fields keep to one line.
bool ShowsWhole(HWND control) {
  RECT room;
  ::GetClientRect(control, &room);
  const std::wstring kind = ClassOf(control);
  // A button draws its raised edge inside its client area.
  if (kind == L"Button") {
    ::InflateRect(&room, -::GetSystemMetrics(SM_CXEDGE),
                  -::GetSystemMetrics(SM_CYEDGE));
  }
  const std::wstring text = TextOf(control).empty() ? L"Xg" : TextOf(control);
  const HDC dc = ::GetDC(control);
  const HGDIOBJ old_font = ::SelectObject(
      dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT need = {0, 0, room.right - room.left, 0};
  ::DrawTextW(dc, text.c_str(), -1, &need,
              DT_CALCRECT | DT_NOPREFIX |
                  (kind == L"Static" ? DT_WORDBREAK : DT_SINGLELINE));
  ::SelectObject(dc, old_font);
  ::ReleaseDC(control, dc);
  return need.right <= room.right - room.left &&
         need.bottom <= room.bottom - room.top;
}

class FrmNorvaleWinTest : public ::testing::Test {
 protected:
  void SetUp() override { form.Show(SW_SHOWNORMAL); }

  // Presses the button as a user would and returns what it showed.
  std::vector<Shown> Press(const fs::path& source, const fs::path& dest) {
    ::SetWindowTextW(form.txtSource, source.c_str());
    ::SetWindowTextW(form.txtDest, dest.c_str());
    shown.clear();
    ::SendMessageW(form.cmdGo, BM_CLICK, 0, 0);
    return shown;
  }

  std::vector<Shown> shown;
  frmNorvale form{::GetModuleHandleW(nullptr),
                  [this](HWND owner, const std::wstring& text,
                         const std::wstring& title, UINT type) {
                    shown.emplace_back(owner, title, text, type);
                    return IDOK;
                  }};
};

// The six controls, each caption whole and nothing overlapping, where the
// window starts and again after it moves to a monitor with more dots per
// inch.
TEST_F(FrmNorvaleWinTest, ShowsEveryCaptionWholeAtEachResolution) {
  EXPECT_EQ(TextOf(form.hwnd()), L"Norvale");
  const LONG style = ::GetWindowLongW(form.hwnd(), GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "fixed size";
  const auto icon =
      reinterpret_cast<HICON>(::GetClassLongPtrW(form.hwnd(), GCLP_HICON));
  EXPECT_NE(icon, nullptr);
  EXPECT_NE(icon, ::LoadIconW(nullptr, IDI_APPLICATION)) << "Norvale's own";
  const std::tuple<HWND, const wchar_t*, const wchar_t*> controls[] = {
      {form.Label1, L"Static",
       L"This tool will remove all unneccessary information from shortcut "
       L"(.url) files and copy them to a new folder."},
      {form.Label2, L"Static", L"Source:"},
      {form.txtSource, L"Edit", L""},
      {form.Label3, L"Static", L"Destination:"},
      {form.txtDest, L"Edit", L""},
      {form.cmdGo, L"Button", L"Do it now"},
  };
  for (const auto& [hwnd, class_name, text] : controls) {
    EXPECT_EQ(ClassOf(hwnd), class_name);
    EXPECT_EQ(TextOf(hwnd), text);
  }

  const UINT first_dpi = form.dpi();
  for (const UINT dpi : {first_dpi, first_dpi * 3 / 2}) {
    SCOPED_TRACE(dpi);
    RECT client;
    ::GetWindowRect(form.hwnd(), &client);
    if (dpi != first_dpi) {
      ::SendMessageW(form.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&client));
    }
    EXPECT_EQ(form.dpi(), dpi);  // Laid out afresh for it.
    ::GetClientRect(form.hwnd(), &client);
    std::vector<RECT> placed;
    for (const auto& [hwnd, class_name, text] : controls) {
      EXPECT_TRUE(ShowsWhole(hwnd)) << text;
      RECT place, both;
      ::GetWindowRect(hwnd, &place);
      ::MapWindowPoints(nullptr, form.hwnd(), reinterpret_cast<POINT*>(&place),
                        2);
      EXPECT_TRUE(::UnionRect(&both, &client, &place) &&
                  ::EqualRect(&both, &client))
          << text;
      for (const RECT& other : placed) {
        EXPECT_FALSE(::IntersectRect(&both, &place, &other)) << text;
      }
      placed.push_back(place);
    }
  }
}

TEST_F(FrmNorvaleWinTest, TabMovesThroughTheFieldsAndTheButtonOnly) {
  EXPECT_EQ(::GetFocus(), form.txtSource);
  const HWND order[] = {form.txtSource, form.txtDest, form.cmdGo,
                        form.txtSource};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(::GetNextDlgTabItem(form.hwnd(), order[i], FALSE), order[i + 1]);
  }
  // Neither the default button, nor one Enter or Escape would press.
  EXPECT_EQ(::GetWindowLongW(form.cmdGo, GWL_STYLE) & BS_TYPEMASK,
            BS_PUSHBUTTON);
  for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
    MSG press = {form.txtSource, WM_KEYDOWN, key, 0, 0, {0, 0}};
    ::IsDialogMessageW(form.hwnd(), &press);
  }
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(::IsWindowVisible(form.hwnd()));
}

TEST_F(FrmNorvaleWinTest, FormLoadFillsTheFieldsFromTheShellFolders) {
  form.Form_Load();
  norvale::ShellTools& shell = norvale::ShellTools::Instance();
  EXPECT_EQ(form.FieldPath(form.txtSource), shell.SpecialFolderPath(6, 0, 0));
  EXPECT_EQ(
      form.FieldPath(form.txtDest).native(),
      shell.SpecialFolderPath(16, 0, 0).native() + L"\\Compressed Favorites");
}

// Each failure is reported, naming what failed and how far the run got, and
// leaves the window taking input; once the fault is gone, a press compresses.
TEST_F(FrmNorvaleWinTest, APressReportsFailuresAndThenTheCount) {
  norvale::TestFolder root;
  // A source named outside every ANSI code page, typed into the field as is.
  const fs::path name = norvale::NativePath("Src \xCE\xB1\xE4\xB8\xAD");
  root.Write(name / "a.url", kShortcut);
  root.Write(name / "b" / "c.url", kShortcut);
  const fs::path in_the_way =
      root.Write(fs::path("Out") / "b", "a file, not a folder");
  const std::tuple<fs::path, fs::path, std::wstring> failures[] = {
      {root.path() / "missing", root.path() / "missing",
       L"No shortcut was written."},
      {root.path() / name, in_the_way,
       L"1 of 2 shortcuts were written before this."},
  };
  for (const auto& [source, named, written] : failures) {
    const std::vector<Shown> seen = Press(source, root.path() / "Out");
    ASSERT_EQ(seen.size(), 1u);
    const std::wstring text = std::get<2>(seen[0]);
    EXPECT_TRUE(text.find(named.native()) != text.npos &&
                text.find(L"\n" + written) != text.npos)
        << text;
    EXPECT_EQ(seen[0],
              Shown(form.hwnd(), L"Norvale", text, MB_ICONERROR | MB_OK));
    EXPECT_TRUE(::IsWindowVisible(form.hwnd()));
  }

  fs::remove(in_the_way);
  EXPECT_EQ(
      Press(root.path() / name, root.path() / "Out"),
      std::vector{Shown(form.hwnd(), L"Finished", L"Compressed 2 favorites.",
                        MB_ICONINFORMATION | MB_OK)});
  EXPECT_TRUE(fs::exists(root.path() / "Out" / "b" / "c.url"));
}

TEST(ResourcesTest, CarryTheVersionAndTheManifest) {
  wchar_t program[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::vector<char> info(::GetFileVersionInfoSizeW(program, nullptr));
  ASSERT_TRUE(::GetFileVersionInfoW(program, 0, static_cast<DWORD>(info.size()),
                                    info.data()));
  const std::pair<const wchar_t*, const wchar_t*> versions[] = {
      {L"FileVersion", L"1.00"},
      {L"ProductVersion", L"1.00"},
      {L"ProductName", L"Norvale"}};
  for (const auto& [name, want] : versions) {
    const std::wstring key =
        L"\\StringFileInfo\\040904B0\\" + std::wstring(name);
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), key.c_str(), &value, &length))
        << name;
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), want);
  }

  const HRSRC found =
      ::FindResourceW(nullptr, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  const char* data =
      static_cast<const char*>(::LockResource(::LoadResource(nullptr, found)));
  const std::string manifest(data, ::SizeofResource(nullptr, found));
  for (const char* setting :
       {"Microsoft.Windows.Common-Controls", "PerMonitorV2", "<longPathAware",
        ">true</longPathAware>"}) {
    EXPECT_NE(manifest.find(setting), std::string::npos) << setting;
  }
}

}  // namespace
