// Processes on Windows: the Toolhelp snapshot, CreateProcessW with a bare command line, and
// WinExec.
#include "platform/process.h"

#include <windows.h>
// Toolhelp needs the types of windows.h.
#include <tlhelp32.h>

#include <algorithm>
#include <set>
#include <string>

#include "base/utf.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/loader_search.h"
#include "platform/program_path.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr char16_t kCreateFailed[] = u"プロセスの生成に失敗しました";

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string FromWide(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

// Closes a handle when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

bool IsRegularFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Whether the last component of `name` has an extension: a dot after its first character.
bool HasExtension(std::wstring_view name) {
  const size_t last_separator = name.find_last_of(L"\\/");
  const std::wstring_view file =
      last_separator == std::wstring_view::npos ? name : name.substr(last_separator + 1);
  const size_t dot = file.rfind(L'.');
  return dot != std::wstring_view::npos && dot > 0;
}

// Case-insensitive comparison of ASCII letters, as file names of processes compare.
bool SameFileName(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
  };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

// The process ids whose image file is named `exe_file`.
std::set<int64_t> ProcessesNamed(std::u16string_view exe_file) {
  std::set<int64_t> ids;
  if (const auto snapshot = SnapshotProcesses()) {
    for (const auto& entry : *snapshot) {
      if (SameFileName(entry.exe_file, exe_file)) ids.insert(entry.process_id);
    }
  }
  return ids;
}

// The folders of the PATH variable in order; empty entries are left for the caller to skip.
std::vector<std::filesystem::path> SearchPathFolders() {
  std::vector<std::filesystem::path> folders;
  const DWORD size = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (size == 0) return folders;
  std::wstring value(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(L"PATH", value.data(), size);
  value.resize(length < size ? length : 0);
  size_t start = 0;
  while (start <= value.size()) {
    size_t semicolon = value.find(L';', start);
    if (semicolon == std::wstring::npos) semicolon = value.size();
    folders.emplace_back(value.substr(start, semicolon - start));
    start = semicolon + 1;
  }
  return folders;
}

// The path itself when it names a regular file and has an extension, else that path with
// ".exe" added when it has none: the rule CreateProcessW and WinExec apply to a program name.
std::optional<std::filesystem::path> MatchProgramFile(const std::filesystem::path& path) {
  const std::wstring& native = path.native();
  if (native.empty()) return std::nullopt;
  if (HasExtension(native)) {
    if (IsRegularFile(native)) return path;
    return std::nullopt;
  }
  std::filesystem::path with_exe = path;
  with_exe += L".exe";
  if (IsRegularFile(with_exe.native())) return with_exe;
  return std::nullopt;
}

// A candidate of a bare command line, resolved by the rule CreateProcessW documents: ".exe" is
// added to a name without an extension (and the name is then not tried as it is); a name with
// a folder is that file, a bare name is searched for as the system searches for programs (the
// program's folder, the current folder, the system folders, PATH). A folder does not count.
// The extension is added here rather than left to SearchPathW, because Wine's SearchPathW also
// accepts the name without it.
std::optional<std::filesystem::path> ResolveCandidate(std::wstring_view candidate) {
  if (candidate.empty()) return std::nullopt;
  std::wstring name(candidate);
  if (!HasExtension(name)) name += L".exe";
  if (name.find_first_of(L"\\/") != std::wstring::npos) {
    if (!IsRegularFile(name)) return std::nullopt;
    return std::filesystem::path(name);
  }
  std::wstring found(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::SearchPathW(nullptr, name.c_str(), nullptr,
                                       static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (length == 0) return std::nullopt;
    if (length < found.size()) {
      found.resize(length);
      break;
    }
    found.resize(length);
  }
  if (!IsRegularFile(found)) return std::nullopt;
  return std::filesystem::path(found);
}

// Waits up to `wait_ms` for the program to first wait for messages, in short steps that let
// the messages other threads send to this one through: a starting program that asks every
// top-level window something (a DDE connection request does) would otherwise wait for this
// thread, and this thread for it. Returns at once for a program without a message queue or
// one that ended.
void WaitUntilInputIdle(HANDLE process, int wait_ms) {
  const ULONGLONG until = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(wait_ms, 0));
  for (;;) {
    const DWORD result = ::WaitForInputIdle(process, 20);
    if (result != WAIT_TIMEOUT || ::GetTickCount64() >= until) return;
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

std::optional<std::filesystem::path> loader::MatchProgram(const std::filesystem::path& path) {
  return MatchProgramFile(path);
}

std::optional<std::vector<ProcessEntry>> SnapshotProcesses() {
  const Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return std::nullopt;
  std::vector<ProcessEntry> entries;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  if (!::Process32FirstW(snapshot.get(), &entry)) {
    // An empty list is still a list; any other failure is none.
    if (::GetLastError() == ERROR_NO_MORE_FILES) return entries;
    return std::nullopt;
  }
  do {
    entries.push_back(
        ProcessEntry{static_cast<int64_t>(entry.th32ProcessID), FromWide(entry.szExeFile)});
    entry.dwSize = sizeof entry;
  } while (::Process32NextW(snapshot.get(), &entry));
  return entries;
}

// The same walk over the prefixes that CreateProcessW makes for an unquoted program path, so
// that the program named here is the one CreateProcessFromCommandLine starts.
std::optional<SplitCommandLine> SplitBareCommandLine(std::u16string_view command_line) {
  const std::wstring line = Wide(command_line);
  for (size_t end = 0; end <= line.size(); ++end) {
    if (end < line.size() && line[end] != L' ') continue;
    if (auto program = ResolveCandidate(std::wstring_view(line).substr(0, end))) {
      SplitCommandLine split{*program, std::nullopt};
      if (end < line.size()) split.argument = std::u16string(command_line.substr(end + 1));
      return split;
    }
  }
  return std::nullopt;
}

int64_t CreateProcessFromCommandLine(std::u16string_view command_line) {
  // CreateProcessW splits the line itself, by the rule SplitBareCommandLine follows; a line
  // that names no program is refused before asking it.
  if (!SplitBareCommandLine(command_line)) throw Error(kCreateFailed);
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::wstring line = Wide(command_line);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    throw Error(kCreateFailed);
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return static_cast<int64_t>(info.dwProcessId);
}

uint32_t WinExecLike(std::u16string_view command_line, ShowState show, int wait_ms) {
  // The started program is recognised afterwards as a new process of the image file that the
  // loader's search finds: WinExec hands back no process handle.
  const std::u16string_view word = command_line.substr(0, command_line.find(u' '));
  std::error_code ignored;
  const auto program =
      FindLoaderProgram(word, ToPath(ProgramDirectory()), std::filesystem::current_path(ignored),
                        SearchPathFolders());
  const std::u16string exe_file = program ? FromPath(program->filename()) : std::u16string();
  const std::set<int64_t> before = ProcessesNamed(exe_file);

  std::string ansi_line = ToCodePage932(command_line);
  // WinExec itself already waits (up to its own limit) until the program first waits for
  // messages; the wait below bounds the total by `wait_ms` for a program that is still busy.
  const UINT result = ::WinExec(ansi_line.c_str(), static_cast<UINT>(show));
  if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) {
    return kLoaderFileNotFound;
  }
  if (result < 32) return kLoaderFailed;
  if (program) {
    for (const int64_t id : ProcessesNamed(exe_file)) {
      if (before.count(id) != 0) continue;
      const Handle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                         static_cast<DWORD>(id)));
      if (!process.valid()) continue;
      WaitUntilInputIdle(process.get(), wait_ms);
      break;
    }
  }
  return kLoaderStarted;
}

// Windows signals readiness itself: a program is "input idle" once it first waits for
// messages, and WinExecLike waits for that (WaitForInputIdle). There is nothing to report.
void NotifyStarterReady() {}

}  // namespace platform
