// Tests of the Windows main window: its controls, its defaults and what a
// press of the button shows, on real temporary folders.
#include "window/frm_norvale_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/shell_tools.h"
#include "services/test_folder.h"

namespace {

namespace fs = std::filesystem;
namespace layout = norvale::layout;
using norvale::NativePath;
using norvale::ReadBytes;
using norvale::TestFolder;

// A message box the window asked for.
struct Shown {
  HWND owner;
  std::wstring text;
  std::wstring title;
  UINT type;
};

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

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

// Returns where `control` is, in pixels of its parent's client area.
layout::Rect PlaceOf(HWND control) {
  RECT rect;
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, ::GetParent(control),
                    reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

std::string Shortcut(const std::string& url) {
  return "[{000214A0-0000-0000-C000-000000000046}]\r\nProp3=19,11\r\n"
         "[InternetShortcut]\r\nURL=" +
         url + "\r\nIconIndex=1\r\n";
}

std::string Compact(const std::string& url) {
  return "[InternetShortcut]\r\nURL=" + url + "\r\n";
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
                    shown.push_back({owner, text, title, type});
                    return IDOK;
                  }};
};

TEST_F(FrmNorvaleWinTest, ShowsTheTableWithEveryCaptionWhole) {
  EXPECT_EQ(TextOf(form.hwnd()), L"Norvale");
  const LONG style = ::GetWindowLongW(form.hwnd(), GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "fixed size";
  EXPECT_GE(form.layout_scale(), 1.0);

  const wchar_t* const kClasses[] = {L"Static", L"Edit", L"Button"};
  std::vector<layout::Rect> placed;
  for (const layout::Control& control : layout::Controls()) {
    const HWND hwnd = form.ControlFor(control);
    ASSERT_NE(hwnd, nullptr) << control.name;
    EXPECT_EQ(TextOf(hwnd), WideFromUtf8(control.text)) << control.name;
    EXPECT_EQ(ClassOf(hwnd), kClasses[static_cast<int>(control.kind)])
        << control.name;
    const layout::Rect place = PlaceOf(hwnd);
    const layout::Rect expected = form.PixelRect(control);
    EXPECT_EQ(place.left, expected.left) << control.name;
    EXPECT_EQ(place.top, expected.top) << control.name;
    EXPECT_EQ(place.width, expected.width) << control.name;
    EXPECT_EQ(place.height, expected.height) << control.name;
    EXPECT_TRUE(form.CaptionFits(control, place)) << control.name;
    for (const layout::Rect& other : placed) {
      const bool overlap =
          place.left < other.right() && other.left < place.right() &&
          place.top < other.bottom() && other.top < place.bottom();
      EXPECT_FALSE(overlap) << control.name;
    }
    placed.push_back(place);
  }

  // The client area is the table's, at the same scale and resolution.
  RECT client;
  ::GetClientRect(form.hwnd(), &client);
  const layout::Rect table = layout::ClientRect(form.layout_scale());
  EXPECT_EQ(client.right, ::MulDiv(table.width, form.dpi(), 96));
  EXPECT_EQ(client.bottom, ::MulDiv(table.height, form.dpi(), 96));
  for (const layout::Rect& place : placed) {
    EXPECT_LE(place.right(), client.right);
    EXPECT_LE(place.bottom(), client.bottom);
  }
}

TEST_F(FrmNorvaleWinTest, TabMovesThroughTheFieldsAndTheButtonOnly) {
  EXPECT_EQ(::GetFocus(), form.txtSource);
  const HWND order[] = {form.txtSource, form.txtDest, form.cmdGo,
                        form.txtSource};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(::GetNextDlgTabItem(form.hwnd(), order[i], FALSE), order[i + 1]);
    EXPECT_EQ(::GetNextDlgTabItem(form.hwnd(), order[i + 1], TRUE), order[i]);
  }
  // As the message loop hands it over: Tab goes to the next field.
  MSG tab = {form.txtSource, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
  EXPECT_TRUE(::IsDialogMessageW(form.hwnd(), &tab));
  EXPECT_EQ(::GetFocus(), form.txtDest);

  for (HWND label : {form.Label1, form.Label2, form.Label3}) {
    EXPECT_EQ(::GetWindowLongW(label, GWL_STYLE) & WS_TABSTOP, 0);
    EXPECT_NE(::GetWindowLongW(label, GWL_STYLE) & SS_NOPREFIX, 0);
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

TEST_F(FrmNorvaleWinTest, PressingTheButtonCompressesAndReportsTheCount) {
  TestFolder source;
  source.Write("a.url", Shortcut("http://a/"));
  source.Write("News/b.url", Shortcut("http://b/"));
  // A name outside every ANSI code page, typed into the field as is.
  const fs::path unicode = NativePath("\xCE\xB1/\xE4\xB8\xAD.url");
  source.Write(unicode, Shortcut("http://c/"));
  TestFolder dest;
  const fs::path out = dest.path() / "Out";

  const std::vector<Shown> seen = Press(source.path(), out);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].owner, form.hwnd());
  EXPECT_EQ(seen[0].title, L"Finished");
  EXPECT_EQ(seen[0].text, L"Compressed 3 favorites.");
  EXPECT_EQ(seen[0].type, static_cast<UINT>(MB_ICONINFORMATION | MB_OK));
  EXPECT_EQ(ReadBytes(out / "a.url"), Compact("http://a/"));
  EXPECT_EQ(ReadBytes(out / "News" / "b.url"), Compact("http://b/"));
  EXPECT_EQ(ReadBytes(out / unicode), Compact("http://c/"));
}

TEST_F(FrmNorvaleWinTest, AFailedRunIsReportedAndTheWindowTakesInputAgain) {
  TestFolder root;
  root.Write("Src/a.url", Shortcut("http://a/"));
  root.Write("Src/b/c.url", Shortcut("http://c/"));
  const fs::path in_the_way =
      root.Write(fs::path("Out") / "b", "a file, not a folder");
  const struct {
    fs::path source;
    fs::path named;
    std::wstring written;
  } cases[] = {
      {root.path() / "missing", root.path() / "missing",
       L"No shortcut was written."},
      {root.path() / "Src", in_the_way,
       L"1 of 2 shortcuts were written before this."},
  };
  for (const auto& c : cases) {
    const std::vector<Shown> seen = Press(c.source, root.path() / "Out");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, L"Norvale");
    EXPECT_EQ(seen[0].type, static_cast<UINT>(MB_ICONERROR | MB_OK));
    EXPECT_TRUE(Contains(seen[0].text, c.named.native())) << seen[0].text;
    EXPECT_TRUE(Contains(seen[0].text, c.written)) << seen[0].text;
    EXPECT_TRUE(::IsWindowVisible(form.hwnd()));
    EXPECT_TRUE(::IsWindowEnabled(form.hwnd()));
  }
  fs::remove(in_the_way);
  const std::vector<Shown> seen =
      Press(root.path() / "Src", root.path() / "Out");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, L"Compressed 2 favorites.");
}

TEST_F(FrmNorvaleWinTest, LaysItselfOutAgainOnAMonitorWithOtherResolution) {
  const UINT dpi = form.dpi() * 3 / 2;
  RECT suggested;
  ::GetWindowRect(form.hwnd(), &suggested);
  ::SendMessageW(form.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(form.dpi(), dpi);
  RECT client;
  ::GetClientRect(form.hwnd(), &client);
  const layout::Rect table = layout::ClientRect(form.layout_scale());
  EXPECT_EQ(client.right, ::MulDiv(table.width, dpi, 96));
  for (const layout::Control& control : layout::Controls()) {
    const layout::Rect place = PlaceOf(form.ControlFor(control));
    EXPECT_EQ(place.left, form.PixelRect(control).left) << control.name;
    EXPECT_EQ(place.width, form.PixelRect(control).width) << control.name;
    EXPECT_TRUE(form.CaptionFits(control, place)) << control.name;
  }
}

// Returns the text of `name` in the version resource of this program.
std::wstring VersionValue(const std::wstring& name) {
  wchar_t program[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::vector<char> info(::GetFileVersionInfoSizeW(program, nullptr));
  if (info.empty() ||
      !::GetFileVersionInfoW(program, 0, static_cast<DWORD>(info.size()),
                             info.data())) {
    return L"<no version>";
  }
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring key = L"\\StringFileInfo\\040904B0\\" + name;
  if (!::VerQueryValueW(info.data(), key.c_str(),
                        reinterpret_cast<void**>(&value), &length)) {
    return L"<missing>";
  }
  return std::wstring(value);
}

TEST(ResourcesTest, CarryTheVersionAndTheManifest) {
  EXPECT_EQ(VersionValue(L"FileVersion"), L"1.00");
  EXPECT_EQ(VersionValue(L"ProductVersion"), L"1.00");
  EXPECT_EQ(VersionValue(L"ProductName"), L"Norvale");

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
