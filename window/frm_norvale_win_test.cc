// Tests of the Windows main window: its controls, its defaults and what a
// press of the button shows, on real temporary folders. What a run writes is
// the run's own tests' business; here it need only be started and reported.
#include "window/frm_norvale_win.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "services/shell_tools.h"
#include "services/win/system_calls.h"
#include "testing/test_folder.h"
#include "testing/test_online_only_win.h"
#include "window/run_progress_win.h"

namespace {

namespace fs = std::filesystem;

constexpr char kShortcut[] = "[InternetShortcut]\r\nURL=http://a/\r\n";

// A message box the window asked for: owner, title, text and type.
using Shown = std::tuple<HWND, std::wstring, std::wstring, UINT>;

// The first open of a name ending in hold.url waits until the test lets it
// go, as on a disk that stops answering; at most 5 s, so that a run on the
// window's own thread gets through and fails the test rather than hangs it.
std::shared_future<void> g_released;
std::atomic<bool> g_held;
HANDLE HoldingCreateFile(const wchar_t* path, DWORD access, DWORD share,
                         DWORD disposition, DWORD flags) {
  const std::wstring_view name(path);
  if (name.size() >= 8 && name.substr(name.size() - 8) == L"hold.url" &&
      !g_held.exchange(true)) {
    g_released.wait_for(std::chrono::seconds(5));
  }
  return norvale::SystemCalls().create_file(path, access, share, disposition,
                                            flags);
}

// Queues Tab, "ZZZ", a click in `field` and "Y" as the keyboard and mouse
// give them, for whatever next reads the thread's messages.
void TypeAhead(HWND field) {
  std::vector<INPUT> input;
  const auto key = [&input](WORD code) {
    for (const DWORD up : {DWORD{0}, DWORD{KEYEVENTF_KEYUP}}) {
      INPUT one = {};
      one.type = INPUT_KEYBOARD;
      one.ki.wVk = code;
      one.ki.dwFlags = up;
      input.push_back(one);
    }
  };
  for (const WORD code : {WORD{VK_TAB}, WORD{'Z'}, WORD{'Z'}, WORD{'Z'}})
    key(code);
  RECT place;
  ::GetWindowRect(field, &place);
  for (const DWORD flags :
       {DWORD{MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE},
        DWORD{MOUSEEVENTF_LEFTDOWN}, DWORD{MOUSEEVENTF_LEFTUP}}) {
    INPUT one = {};
    one.type = INPUT_MOUSE;
    // In 65536ths of the screen.
    one.mi.dx = (place.left + place.right) / 2 * 65536 /
                ::GetSystemMetrics(SM_CXSCREEN);
    one.mi.dy = (place.top + place.bottom) / 2 * 65536 /
                ::GetSystemMetrics(SM_CYSCREEN);
    one.mi.dwFlags = flags;
    input.push_back(one);
  }
  key('Y');
  ::SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
}

// What a timer on the test's thread does each time it fires.
std::function<void()> g_tick;
void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) { g_tick(); }

std::wstring TextOf(HWND hwnd) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(hwnd, text, 1024);
  return text;
}

// Says whether `control` shows its caption whole, or for a field a line of
// text, measured in the font it draws with rather than by the window's sums.
// Labels wrap at word boundaries; buttons and fields keep to one line.
bool ShowsWhole(HWND control, norvale::layout::Kind kind) {
  RECT room;
  ::GetClientRect(control, &room);
  // A button draws its raised edge inside its client area.
  if (kind == norvale::layout::Kind::kButton) {
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
                  (kind == norvale::layout::Kind::kLabel ? DT_WORDBREAK
                                                         : DT_SINGLELINE));
  ::SelectObject(dc, old_font);
  ::ReleaseDC(control, dc);
  return need.right <= room.right - room.left &&
         need.bottom <= room.bottom - room.top;
}

}  // namespace

// The window's friend: its tests reach the controls through it.
class FrmNorvaleWinTest : public ::testing::Test {
 protected:
  void SetUp() override { form_.Show(SW_SHOWNORMAL); }

  // Presses the button as a user would and returns what it showed.
  std::vector<Shown> Press(const fs::path& source, const fs::path& dest) {
    ::SetWindowTextW(txtSource(), source.c_str());
    ::SetWindowTextW(txtDest(), dest.c_str());
    shown_.clear();
    ::SendMessageW(cmdGo(), BM_CLICK, 0, 0);
    return shown_;
  }

  // The window's own, as it names them.
  HWND Label2() const { return form_.Label2; }
  HWND Label3() const { return form_.Label3; }
  HWND txtSource() const { return form_.txtSource; }
  HWND txtDest() const { return form_.txtDest; }
  HWND cmdGo() const { return form_.cmdGo; }
  HWND ControlFor(const norvale::layout::Control& control) const {
    return form_.ControlFor(control);
  }
  fs::path FieldPath(HWND field) const { return form_.FieldPath(field); }
  void SetProgressAfter(std::chrono::milliseconds after) {
    form_.progress_after_ = after;
  }

  std::vector<Shown> shown_;
  // The fields the shell was asked to complete, with what.
  std::vector<std::pair<HWND, DWORD>> completed_;
  frmNorvale form_{::GetModuleHandleW(nullptr),
                   [this](HWND owner, const std::wstring& text,
                          const std::wstring& title, UINT type) {
                     shown_.emplace_back(owner, title, text, type);
                     return IDOK;
                   },
                   [this](HWND field, DWORD flags) {
                     completed_.emplace_back(field, flags);
                     return S_OK;
                   }};
};

namespace {

// Each caption whole and nothing overlapping, laid out for the dots per
// inch of the window's monitor.
TEST_F(FrmNorvaleWinTest, ShowsEveryCaptionWhole) {
  EXPECT_EQ(TextOf(form_.hwnd()), L"Norvale");
  const LONG style = ::GetWindowLongW(form_.hwnd(), GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "fixed size";
  const auto icon =
      reinterpret_cast<HICON>(::GetClassLongPtrW(form_.hwnd(), GCLP_HICON));
  EXPECT_NE(icon, nullptr);
  EXPECT_NE(icon, ::LoadIconW(nullptr, IDI_APPLICATION)) << "Norvale's own";
  RECT client;
  ::GetClientRect(form_.hwnd(), &client);
  std::vector<RECT> placed;
  for (const norvale::layout::Control& control : norvale::layout::Controls()) {
    const HWND hwnd = ControlFor(control);
    EXPECT_TRUE(ShowsWhole(hwnd, control.kind)) << control.name;
    RECT place, both;
    ::GetWindowRect(hwnd, &place);
    ::MapWindowPoints(nullptr, form_.hwnd(), reinterpret_cast<POINT*>(&place),
                      2);
    EXPECT_TRUE(::UnionRect(&both, &client, &place) &&
                ::EqualRect(&both, &client))
        << control.name;
    for (const RECT& other : placed)
      EXPECT_FALSE(::IntersectRect(&both, &place, &other)) << control.name;
    placed.push_back(place);
  }
}

TEST_F(FrmNorvaleWinTest, TabMovesThroughTheFieldsAndTheButtonOnly) {
  EXPECT_EQ(::GetFocus(), txtSource());
  const HWND order[] = {txtSource(), txtDest(), cmdGo(), txtSource()};
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(::GetNextDlgTabItem(form_.hwnd(), order[i], FALSE), order[i + 1]);
  // Neither the default button, nor one Enter or Escape would press.
  EXPECT_EQ(::GetWindowLongW(cmdGo(), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
  for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
    MSG press = {txtSource(), WM_KEYDOWN, key, 0, 0, {0, 0}};
    ::IsDialogMessageW(form_.hwnd(), &press);
  }
  EXPECT_TRUE(shown_.empty());
  EXPECT_TRUE(::IsWindowVisible(form_.hwnd()));
}

// The defaults are the shell's folders or the command line's. A failure is
// reported, naming the path, and leaves the window taking input; a file
// online only that the run could not check is told of with a warning.
TEST_F(FrmNorvaleWinTest, PressesRunOnTheFieldsAndReport) {
  // Started as "Norvale A B", the folders given take the defaults' place.
  norvale::CommandLine command;
  command.source = L"C:\\A";
  command.destination = L"C:\\B";
  form_.Form_Load(command);
  EXPECT_EQ(FieldPath(txtSource()), command.source);
  EXPECT_EQ(FieldPath(txtDest()), command.destination);
  form_.Form_Load();
  norvale::ShellTools& shell = norvale::ShellTools::Instance();
  EXPECT_EQ(FieldPath(txtSource()), shell.SpecialFolderPath(6, 0, 0));
  EXPECT_EQ(
      FieldPath(txtDest()).native(),
      shell.SpecialFolderPath(16, 0, 0).native() + L"\\Compressed Favorites");
  norvale::TestFolder root;
  // A source named outside every ANSI code page, typed into the field as is.
  const fs::path name = norvale::NativePath("Src \xCE\xB1\xE4\xB8\xAD");
  root.Write(name / "b" / "c.url", kShortcut);
  const fs::path missing = root.path() / "missing";
  const std::vector<Shown> failed = Press(missing, root.path() / "Out");
  ASSERT_EQ(failed.size(), 1u);
  const std::wstring text = std::get<2>(failed[0]);
  EXPECT_NE(text.find(missing.native()), text.npos) << text;
  EXPECT_EQ(failed[0],
            Shown(form_.hwnd(), L"Norvale", text, MB_ICONERROR | MB_OK));
  EXPECT_TRUE(::IsWindowEnabled(form_.hwnd()));
  EXPECT_EQ(::GetFocus(), cmdGo());
  EXPECT_EQ(
      Press(root.path() / name, root.path() / "Out"),
      std::vector{Shown(form_.hwnd(), L"Finished",
                        L"Compressed 1 favorites.\n\n1 copy written, 0 up to "
                        L"date already.",
                        MB_OK | MB_ICONINFORMATION)});
  EXPECT_TRUE(fs::exists(root.path() / "Out" / "b" / "c.url"));
  norvale::online_only::Scoped cloud;
  root.Write("Out/x.url", kShortcut);
  norvale::online_only::Mark(L"Out\\x.url", norvale::online_only::kOneDrive);
  EXPECT_EQ(std::get<3>(Press(root.path() / name, root.path() / "Out").at(0)),
            static_cast<UINT>(MB_OK | MB_ICONWARNING));
}

// A screen reader names each field after the label before it; the shell is
// asked to offer folders in both (Wine's completion does nothing); a dropped
// folder is put in the field, a dropped file puts its folder.
TEST_F(FrmNorvaleWinTest, FieldsSayWhatTheyAreAndHelpTyping) {
  EXPECT_EQ(::GetWindow(txtSource(), GW_HWNDPREV), Label2());
  EXPECT_EQ(::GetWindow(txtDest(), GW_HWNDPREV), Label3());
  EXPECT_EQ(completed_, (std::vector<std::pair<HWND, DWORD>>{
                            {txtSource(), SHACF_FILESYS_DIRS},
                            {txtDest(), SHACF_FILESYS_DIRS}}));
  norvale::TestFolder root;
  const fs::path folder =
      root.Write(norvale::NativePath("Dropped \xCE\xB1/a.url"), kShortcut)
          .parent_path();
  for (const fs::path& dropped : {folder, folder / "a.url"}) {
    // As the file manager hands it over: a list of wide paths after a
    // DROPFILES header, ending in an empty one.
    const std::wstring& path = dropped.native();
    const HGLOBAL drop = ::GlobalAlloc(
        GHND, sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t));
    auto* files = static_cast<DROPFILES*>(::GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    path.copy(reinterpret_cast<wchar_t*>(files + 1), path.size());
    ::GlobalUnlock(drop);
    ::SendMessageW(txtDest(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    EXPECT_EQ(FieldPath(txtDest()), folder);
  }
}

// Each way the user asks a run to stop, as the system gives it: a message
// and its wparam, to the Cancel button, which has the focus, or to the
// progress window.
struct Stop {
  const char* how;
  UINT message;
  WPARAM wparam;
  bool to_button;
};
constexpr Stop kStops[] = {
    {"Cancel pressed", BM_CLICK, 0, true},
    {"Escape", WM_KEYDOWN, VK_ESCAPE, true},
    {"close box", WM_CLOSE, 0, false},
};

// The run works on a thread of its own: while it waits on a disk that does
// not answer, the window draws the progress, holding its owner, and takes
// each way of stopping at once. The main window does not close, and what is
// typed right after the press, before the progress shows, changes no field.
TEST_F(FrmNorvaleWinTest, RunsOnAThreadOfItsOwn) {
  norvale::TestFolder root;
  for (const char* name : {"a.url", "hold.url", "z.url"})
    root.Write(std::string("Src/") + name, kShortcut);
  norvale::Calls().create_file = &HoldingCreateFile;
  SetProgressAfter(std::chrono::milliseconds(0));
  const HWND main = form_.hwnd();
  const Stop* stop = nullptr;
  std::promise<void> release;
  std::vector<std::wstring> seen;
  HWND progress = nullptr;
  DWORD asked_at = 0;
  // The caption, and whether `enabled` takes input and `visible` shows.
  const auto look = [&](HWND enabled, HWND visible) {
    const HWND label = ::FindWindowExW(progress, nullptr, L"Static", nullptr);
    seen.insert(seen.end(),
                {TextOf(label), std::to_wstring(::IsWindowEnabled(enabled)),
                 std::to_wstring(::IsWindowVisible(visible))});
  };
  g_tick = [&] {
    if (asked_at == 0) {
      // Once the run waits on the disk and the window has drawn where it
      // is, which it does every 50 ms whatever the run does.
      progress = ::FindWindowW(L"NorvaleProgress", nullptr);
      if (progress == nullptr || !g_held ||
          TextOf(::FindWindowExW(progress, nullptr, L"Static", nullptr))
                  .find(L"1 of 3") == std::wstring::npos) {
        return;
      }
      ::SendMessageW(main, WM_CLOSE, 0, 0);
      look(main, main);
      ::PostMessageW(
          stop->to_button ? ::GetDlgItem(progress, IDCANCEL) : progress,
          stop->message, stop->wparam, 0);
      asked_at = ::GetTickCount();
    } else if (::GetTickCount() - asked_at >= 120 && seen.size() == 3) {
      // Drawn again meanwhile; Cancel is offered no more.
      look(::GetDlgItem(progress, IDCANCEL), progress);
      release.set_value();
    }
  };
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, &Tick);
  for (const Stop& each : kStops) {
    SCOPED_TRACE(each.how);
    stop = &each;
    release = std::promise<void>();
    g_released = release.get_future().share();
    g_held = false;
    seen.clear();
    asked_at = 0;
    // As if typed right after the press: the run's loop reads it.
    TypeAhead(txtDest());
    EXPECT_EQ(Press(root.path() / "Src", root.path() / "Out"),
              std::vector{Shown(main, L"Norvale",
                                L"Cancelled. 2 of 3 shortcuts were written.",
                                MB_OK | MB_ICONINFORMATION)});
    EXPECT_EQ(seen, (std::vector<std::wstring>{
                        L"Compressing favorites...\n1 of 3", L"0", L"1",
                        L"Stopping once the disk answers...", L"0", L"1"}));
    EXPECT_FALSE(::IsWindow(progress));
    EXPECT_TRUE(::IsWindowEnabled(main));
    EXPECT_EQ(FieldPath(txtSource()), root.path() / "Src");
    EXPECT_EQ(FieldPath(txtDest()), root.path() / "Out");
    EXPECT_EQ(::GetFocus(), cmdGo()) << "where the press left it";
    fs::remove_all(root.path() / "Out");
  }
  ::KillTimer(nullptr, timer);
  norvale::Calls().create_file = norvale::SystemCalls().create_file;
}

// Each way of stopping asks the run to stop, unless the copies are being
// flushed, and none takes the window away. It draws with a font of its own,
// as the main window deletes its font on a monitor of other dots per inch;
// moved to one itself, it takes the system's rectangle and a font for it.
TEST(RunProgressWinTest, AsksTheRunToStopAndStaysUntilItEnds) {
  for (const Stop& stop : kStops) {
    for (const bool flushing : {false, true}) {
      SCOPED_TRACE(std::string(stop.how) + (flushing ? " while flushing" : ""));
      frmNorvale form(::GetModuleHandleW(nullptr));
      form.Show(SW_SHOWNORMAL);
      int asked = 0;
      {
        RunProgressWin progress(form.hwnd(), [&asked] { ++asked; });
        progress.Show(flushing ? norvale::FlushingView()
                               : norvale::CompressingView(2, 3));
        ASSERT_NE(progress.window(), nullptr);
        EXPECT_TRUE(::IsWindowVisible(progress.window()));
        EXPECT_FALSE(::IsWindowEnabled(form.hwnd()));
        EXPECT_EQ(::IsWindowEnabled(progress.cancel_button()), !flushing);
        RECT place = {0, 0, 600, 400};
        ::SendMessageW(form.hwnd(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                       reinterpret_cast<LPARAM>(&place));
        EXPECT_EQ(::GetObjectType(reinterpret_cast<HGDIOBJ>(::SendMessageW(
                      progress.cancel_button(), WM_GETFONT, 0, 0))),
                  static_cast<DWORD>(OBJ_FONT));
        const HWND label =
            ::FindWindowExW(progress.window(), nullptr, L"Static", nullptr);
        const auto font_height = [label] {
          LOGFONTW font = {};
          ::GetObjectW(reinterpret_cast<HGDIOBJ>(
                           ::SendMessageW(label, WM_GETFONT, 0, 0)),
                       sizeof(font), &font);
          return std::abs(font.lfHeight);
        };
        const LONG small = font_height();
        RECT was, now;
        ::GetWindowRect(progress.window(), &was);
        place = {20, 30, 20 + (was.right - was.left) * 3 / 2,
                 30 + (was.bottom - was.top) * 3 / 2};
        ::SendMessageW(progress.window(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                       reinterpret_cast<LPARAM>(&place));
        ::GetWindowRect(progress.window(), &now);
        EXPECT_TRUE(::EqualRect(&now, &place));
        EXPECT_GE(font_height(), small * 3 / 2);
        EXPECT_TRUE(ShowsWhole(label, norvale::layout::Kind::kLabel));
        const HWND to =
            stop.to_button ? progress.cancel_button() : progress.window();
        MSG given = {to, stop.message, stop.wparam, 0, 0, {0, 0}};
        if (!::IsDialogMessageW(progress.window(), &given))
          ::DispatchMessageW(&given);
        EXPECT_EQ(asked, flushing ? 0 : 1);
        EXPECT_TRUE(::IsWindowVisible(progress.window()));
      }
      EXPECT_TRUE(::IsWindowEnabled(form.hwnd()));
    }
  }
}

}  // namespace
