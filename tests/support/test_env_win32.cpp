// The test environment on Windows: temporary folders, environment variables, child processes
// through CreateProcessW. DDE endpoints and windows belong to the session (under Wine: to the
// wine server of the prefix), so PrivateRuntimeDir and PrivateDisplay only keep the shape of
// the POSIX helpers.
#include <windows.h>

#include <cstdlib>
#include <random>
#include <stdexcept>

#include "tests/support/test_env.h"

namespace gistest {
namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
  return utf8;
}

std::optional<std::wstring> GetEnv(const std::wstring& name) {
  const DWORD size = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value.data(), size);
  value.resize(length);
  return value;
}

void RestoreEnv(const std::wstring& name, const std::optional<std::wstring>& value) {
  ::SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
}

// One argument of a command line, quoted so that the C runtime reads it back unchanged.
std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

}  // namespace

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate =
        std::filesystem::temp_directory_path() / ("quorvel-gis-" + std::to_string(random()));
    if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

PrivateRuntimeDir::PrivateRuntimeDir(const std::filesystem::path& parent) : path_(parent / "run") {
  std::filesystem::create_directories(path_);
}

PrivateRuntimeDir::~PrivateRuntimeDir() = default;

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  const std::wstring wide_name = Wide(name_);
  if (const auto old = GetEnv(wide_name)) old_ = Utf8(*old);
  RestoreEnv(wide_name, value ? std::optional<std::wstring>(Wide(*value)) : std::nullopt);
}

ScopedEnv::~ScopedEnv() {
  RestoreEnv(Wide(name_), old_ ? std::optional<std::wstring>(Wide(*old_)) : std::nullopt);
}

Child::Child(const std::filesystem::path& program, const std::vector<std::string>& args,
             const std::vector<std::string>& extra_env) {
  std::wstring line = Quote(program.native());
  for (const auto& arg : args) line += L" " + Quote(Wide(arg));
  // The inherited environment with the extra entries in place of those of the same name.
  std::wstring environment;
  if (!extra_env.empty()) {
    std::vector<std::wstring> entries;
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
      for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) entries.emplace_back(p);
      ::FreeEnvironmentStringsW(block);
    }
    for (const auto& extra : extra_env) {
      const std::wstring entry = Wide(extra);
      const std::wstring prefix = entry.substr(0, entry.find(L'=') + 1);
      std::erase_if(entries, [&](const std::wstring& e) {
        return _wcsnicmp(e.c_str(), prefix.c_str(), prefix.size()) == 0;
      });
      entries.push_back(entry);
    }
    for (const auto& e : entries) environment += e + L'\0';
    environment.push_back(L'\0');
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(
          program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
          environment.empty() ? nullptr : environment.data(), nullptr, &startup, &info)) {
    throw std::runtime_error("CreateProcessW failed for " + program.string());
  }
  ::CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = static_cast<pid_t>(info.dwProcessId);
}

Child::~Child() { Stop(); }

std::optional<int> Child::WaitExit(std::chrono::milliseconds timeout) {
  if (process_ == nullptr) return std::nullopt;
  if (::WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process_, &code);
  ::CloseHandle(process_);
  process_ = nullptr;
  return static_cast<int>(code);
}

void Child::Stop() {
  if (process_ == nullptr) return;
  ::TerminateProcess(process_, 1);
  ::WaitForSingleObject(process_, 10000);
  ::CloseHandle(process_);
  process_ = nullptr;
}

PrivateDisplay::PrivateDisplay(bool /*window_manager*/) : ok_(true) {}

PrivateDisplay::~PrivateDisplay() = default;

bool ProcessAlive(pid_t pid) {
  const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return false;
  const bool alive = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return alive;
}

int64_t ThisProcessId() { return static_cast<int64_t>(::GetCurrentProcessId()); }

bool EndProcess(int64_t pid) {
  const HANDLE process =
      ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return !ProcessAlive(static_cast<pid_t>(pid));
  ::TerminateProcess(process, 1);
  const bool gone = ::WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return gone;
}

void MinimizeWindow(uint64_t window) {
  ::ShowWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), SW_MINIMIZE);
}

std::optional<std::array<int, 4>> MeasuredFrame(uint64_t window) {
  const HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
  RECT outer{};
  RECT client{};
  POINT origin{0, 0};
  if (!::GetWindowRect(hwnd, &outer) || !::GetClientRect(hwnd, &client) ||
      !::ClientToScreen(hwnd, &origin)) {
    return std::nullopt;
  }
  const int left = origin.x - outer.left;
  const int top = origin.y - outer.top;
  return std::array<int, 4>{left, outer.right - (origin.x + client.right), top,
                            outer.bottom - (origin.y + client.bottom)};
}

void PauseBriefly() {
  const ULONGLONG until = ::GetTickCount64() + 20;
  for (ULONGLONG now = ::GetTickCount64(); now < until; now = ::GetTickCount64()) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

}  // namespace gistest
