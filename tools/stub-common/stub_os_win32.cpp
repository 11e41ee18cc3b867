// The stand-ins on Windows: process id and command line, appending to the log, and the
// windows through the Win32 API (a window class of their own and a message pump).
#include <windows.h>

#include <string>

#include "base/utf.h"
#include "platform/process.h"
#include "tools/stub-common/stub_common.h"

namespace stub {
namespace {

constexpr wchar_t kWindowClass[] = L"QuorvelStandInWindow";

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = base::FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

// MAKEINTRESOURCEW without its old-style cast.
LPCWSTR IntResource(uintptr_t id) { return reinterpret_cast<LPCWSTR>(id); }

// The standard arrow pointer's resource number (IDC_ARROW).
constexpr uintptr_t kArrowCursor = 32512;

std::string Utf8(std::wstring_view text) {
  return base::ToUtf8(std::u16string(text.begin(), text.end()));
}

}  // namespace

int64_t ProcessId() { return static_cast<int64_t>(::GetCurrentProcessId()); }

std::vector<std::string> Arguments(int /*argc*/, char** /*argv*/) {
  // The C runtime's argv splits at every blank and reads the ANSI code page; the stand-ins
  // take the rest of the wide command line whole instead, as the programs they stand for do.
  const std::wstring_view line = ::GetCommandLineW();
  std::wstring_view argument;
  if (!line.empty() && line.front() == L'"') {
    const size_t close = line.find(L'"', 1);
    if (close == std::wstring_view::npos) return {};
    argument = line.substr(close + 1);
    while (!argument.empty() && argument.front() == L' ') argument.remove_prefix(1);
  } else if (const auto split =
                 platform::SplitBareCommandLine(std::u16string(line.begin(), line.end()))) {
    // An unquoted program path may hold blanks: where it ends is found by the rule that
    // started this program.
    if (!split->argument) return {};
    argument = line.substr(line.size() - split->argument->size());
  } else {
    const size_t blank = line.find(L' ');
    if (blank == std::wstring_view::npos) return {};
    argument = line.substr(blank + 1);
  }
  if (argument.empty()) return {};
  return {Utf8(argument)};
}

void AppendToFile(const std::filesystem::path& file, std::string_view text) {
  // FILE_APPEND_DATA alone makes every write land at the end of the file, whoever else
  // writes to it.
  const HANDLE handle = ::CreateFileW(file.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(handle);
}

void InstallStopSignals() {}

bool StopRequested() { return false; }

StartLock::StartLock() : handle_(::CreateMutexW(nullptr, FALSE, L"Local\\QuorvelStandInDdeStart")) {
  // A copy that died holding it leaves it abandoned, which still hands it over.
  if (handle_ != nullptr) ::WaitForSingleObject(handle_, 10000);
}

StartLock::~StartLock() {
  if (handle_ == nullptr) return;
  ::ReleaseMutex(handle_);
  ::CloseHandle(handle_);
}

struct Windows::State {
  HWND owner = nullptr;
  HWND main = nullptr;
  std::vector<std::wstring> lines;
  bool close_requested = false;

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* state = reinterpret_cast<State*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
      case WM_NCCREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
      }
      case WM_PAINT: {
        PAINTSTRUCT paint;
        const HDC dc = ::BeginPaint(window, &paint);
        if (state != nullptr && window == state->main) {
          int y = 4;
          for (const auto& line : state->lines) {
            ::TextOutW(dc, 10, y, line.c_str(), static_cast<int>(line.size()));
            y += 18;
          }
        }
        ::EndPaint(window, &paint);
        return 0;
      }
      case WM_CLOSE:
        // The window stays until the program ends; the request is the program's to act on.
        if (state != nullptr) state->close_requested = true;
        return 0;
      default:
        break;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
  }

  HWND Create(const std::string& title, const Geometry& where, HWND owner_window) {
    return ::CreateWindowExW(0, kWindowClass, Wide(title).c_str(), WS_OVERLAPPEDWINDOW, where.x,
                             where.y, where.width, where.height, owner_window, nullptr,
                             ::GetModuleHandleW(nullptr), this);
  }
};

Windows::Windows() : state_(std::make_unique<State>()) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &State::Procedure;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.hCursor = ::LoadCursorW(nullptr, IntResource(kArrowCursor));
  window_class.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  window_class.lpszClassName = kWindowClass;
  ::RegisterClassW(&window_class);
}

Windows::~Windows() {
  if (state_->main != nullptr) ::DestroyWindow(state_->main);
  if (state_->owner != nullptr) ::DestroyWindow(state_->owner);
}

Windows::operator bool() const { return true; }

void Windows::Show(const std::string& owner_title, const Geometry& owner, const std::string& title,
                   const Geometry& main) {
  State& s = *state_;
  s.owner = s.Create(owner_title, owner, nullptr);
  s.main = s.Create(title, main, s.owner);
  // The first ShowWindow of a program takes the show state its starter asked for.
  if (s.owner != nullptr) ::ShowWindow(s.owner, SW_SHOWDEFAULT);
  if (s.main != nullptr) ::ShowWindow(s.main, SW_SHOWNOACTIVATE);
}

void Windows::SetLines(const std::vector<std::string>& lines) {
  State& s = *state_;
  s.lines.clear();
  for (const auto& line : lines) s.lines.push_back(Wide(line));
  if (s.main != nullptr) ::InvalidateRect(s.main, nullptr, TRUE);
}

void Windows::Pump(int timeout_ms) {
  ::MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              static_cast<DWORD>(timeout_ms < 0 ? 0 : timeout_ms), QS_ALLINPUT);
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      state_->close_requested = true;
      continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

bool Windows::close_requested() const { return state_->close_requested; }

}  // namespace stub
