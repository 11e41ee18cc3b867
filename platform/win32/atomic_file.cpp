// Whole-file reads and atomic replacement on Windows: write a temporary file beside the target,
// flush it, then rename it over the target with MoveFileExW.
//
// The rename is one step of the file system. ReplaceFileW is not used: it moves the target
// aside and the new file in as separate steps, and a failure between them can leave the target
// under another name. MOVEFILE_WRITE_THROUGH returns only once the rename is on the disk, which
// is what flushing the folder does on POSIX.
//
// Who may read a new file: Windows has no permission bits. A file gets the access list its
// folder passes on, which in the user's profile (where the program keeps its files) is the
// user, the administrators and the system only; NewFileAccess::kOwnerOnly adds nothing to that.
// An existing target's attributes (hidden, system, archive) are carried over to the new file.
#include "platform/atomic_file.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/system_error.h"
#include "platform/temporary_name.h"
#include "platform/text.h"
#include "platform/win32/win32_error.h"

namespace platform {
namespace {

using win32::LastError;

std::error_code ErrorOf(std::errc condition) { return std::make_error_code(condition); }

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }
  // Closes now and reports the result.
  bool Close() {
    const BOOL closed = ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != 0;
  }

 private:
  HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Attributes the new file takes over from the file it replaces.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::error_code WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), size_t{1} << 24));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return LastError();
    bytes.remove_prefix(written);
  }
  return {};
}

// The file a symbolic link at `file` points at, else `file`.
std::filesystem::path ResolvedTarget(const std::filesystem::path& file, std::error_code& error) {
  if (std::filesystem::is_symlink(file, error))
    return std::filesystem::weakly_canonical(file, error);
  error.clear();
  return file;
}

// Flushes a finished temporary file. Its writer may still hold it open (the database engine
// keeps the files it created open), so the handle shares everything: flushing through any
// handle sends the file's buffered writes to the disk.
std::error_code FlushFile(const std::filesystem::path& path) {
  Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return LastError();
  if (!::FlushFileBuffers(file.get())) return LastError();
  if (!file.Close()) return LastError();
  return {};
}

// True while a process with this id runs (one the caller may not open included).
bool ProcessRuns(uint64_t id) {
  if (id > 0xFFFFFFFFull) return false;
  const auto pid = static_cast<DWORD>(id);
  if (pid == ::GetCurrentProcessId()) return true;
  Handle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process.valid()) return ::GetLastError() == ERROR_ACCESS_DENIED;
  // A handle can outlive its process: it runs only while it is not signalled.
  return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// Windows' file names compare without case.
bool SameName(temporary::NativeView a, temporary::NativeView b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The file a replacement goes to, with what is known about it beforehand.
struct Target {
  std::filesystem::path path;  // links followed
  bool exists = false;
  DWORD attributes = 0;
};

// Finds the file that replacing `file` replaces and checks that it may be replaced.
std::error_code InspectTarget(const std::filesystem::path& file, Target& target) {
  std::error_code error;
  target.path = ResolvedTarget(file, error);
  if (error) return error;
  target.attributes = ::GetFileAttributesW(target.path.c_str());
  if (target.attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return {};
    return win32::ErrorCodeOf(code);
  }
  target.exists = true;
  if (target.attributes & FILE_ATTRIBUTE_DIRECTORY) return ErrorOf(std::errc::is_a_directory);
  if (target.attributes & FILE_ATTRIBUTE_DEVICE) return ErrorOf(std::errc::invalid_argument);
  if (target.attributes & FILE_ATTRIBUTE_READONLY) return ErrorOf(std::errc::permission_denied);
  // A file we may not write (its access list, or another program holding it without sharing)
  // stays as it is, even where the folder would let us replace it.
  Handle probe(::CreateFileW(target.path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!probe.valid()) return LastError();
  if (::GetFileType(probe.get()) != FILE_TYPE_DISK) return ErrorOf(std::errc::invalid_argument);
  return {};
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::filesystem::path& file, size_t max_size) {
  const auto fail = [&](std::error_code error) {
    return SystemError(u"ファイル「" + FromPath(file) + u"」を読み込めません", error);
  };
  const DWORD attributes = ::GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    // A missing folder on the way is a missing file too, as on POSIX.
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return std::nullopt;
    throw fail(win32::ErrorCodeOf(code));
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) throw fail(ErrorOf(std::errc::is_a_directory));
  // Others may go on writing, renaming or deleting the file while it is read.
  Handle handle(::CreateFileW(file.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.valid()) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return std::nullopt;  // removed meanwhile
    throw fail(win32::ErrorCodeOf(code));
  }
  if (::GetFileType(handle.get()) != FILE_TYPE_DISK)
    throw fail(ErrorOf(std::errc::invalid_argument));
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle.get(), &size)) throw fail(LastError());
  if (static_cast<uint64_t>(size.QuadPart) > max_size)
    throw fail(ErrorOf(std::errc::file_too_large));
  // Read straight into the result; the file may still grow or shrink while it is read.
  std::string bytes(static_cast<size_t>(size.QuadPart) + 1, '\0');
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (bytes.size() > max_size) throw fail(ErrorOf(std::errc::file_too_large));
      bytes.resize(std::min(bytes.size() * 2, max_size + 1));
    }
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - used, size_t{1} << 24));
    DWORD got = 0;
    if (!::ReadFile(handle.get(), bytes.data() + used, want, &got, nullptr)) {
      throw fail(LastError());
    }
    if (got == 0) break;
    used += got;
  }
  if (used > max_size) throw fail(ErrorOf(std::errc::file_too_large));
  bytes.resize(used);
  return bytes;
}

TemporaryBeside::TemporaryBeside(const std::filesystem::path& target, std::u16string_view kind,
                                 NewFileAccess access)
    : target_(target), kind_(kind), access_(access) {
  const auto fail = [&](std::error_code error) {
    return SystemError(kind_ + u"「" + FromPath(target_) + u"」を作成できませんでした", error);
  };
  Target inspected;
  if (const std::error_code error = InspectTarget(target_, inspected)) throw fail(error);

  const auto create_new = [](const std::filesystem::path& path) -> std::error_code {
    Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() ? std::error_code() : LastError();
  };
  if (const std::error_code error = temporary::CreateNew(
          temporary::FolderOf(inspected.path), inspected.path.filename().native(),
          ::GetCurrentProcessId(), create_new, path_)) {
    throw fail(error);
  }
}

TemporaryBeside::~TemporaryBeside() {
  if (!committed_ && !path_.empty()) ::DeleteFileW(path_.c_str());
}

void TemporaryBeside::Commit() {
  const auto fail = [&](std::error_code error) {
    return SystemError(kind_ + u"「" + FromPath(target_) + u"」を書き込めませんでした", error);
  };
  Target target;
  if (const std::error_code error = InspectTarget(target_, target)) throw fail(error);
  if (const std::error_code error = FlushFile(path_)) throw fail(error);
  if (target.exists && (target.attributes & kKeptAttributes) != 0) {
    ::SetFileAttributesW(path_.c_str(), target.attributes & kKeptAttributes);
  }
  if (!::MoveFileExW(path_.c_str(), target.path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw fail(LastError());
  }
  committed_ = true;
}

void TemporaryBeside::CommitAsNew() {
  const auto fail = [&](std::error_code error) {
    return SystemError(kind_ + u"「" + FromPath(target_) + u"」を作成できませんでした", error);
  };
  if (const std::error_code error = FlushFile(path_)) throw fail(error);
  // Without MOVEFILE_REPLACE_EXISTING the rename refuses a name that is taken, by a file or a
  // folder, in the same step.
  if (!::MoveFileExW(path_.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH)) {
    throw fail(LastError());
  }
  committed_ = true;
}

int RemoveStaleTemporaries(const std::filesystem::path& target) {
  std::error_code error;
  const std::filesystem::path resolved = ResolvedTarget(target, error);
  if (error || resolved.filename().empty()) return 0;
  const std::wstring base_name = resolved.filename().native();
  int removed = 0;
  for (std::filesystem::directory_iterator it(temporary::FolderOf(resolved), error), end;
       !error && it != end; it.increment(error)) {
    const std::filesystem::path& path = it->path();
    const uint64_t owner = temporary::Owner(path.filename().native(), base_name, SameName);
    if (owner == 0 || ProcessRuns(owner)) continue;
    // Only files: a folder, a link or anything else of that name is not ours.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
      continue;
    }
    if (::DeleteFileW(path.c_str())) ++removed;
  }
  return removed;
}

void ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
  TemporaryBeside temporary(file);
  const auto fail = [&](std::error_code error) {
    return SystemError(u"ファイル「" + FromPath(file) + u"」を書き込めませんでした", error);
  };
  Handle handle(::CreateFileW(temporary.path().c_str(), GENERIC_WRITE, 0, nullptr,
                              TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.valid()) throw fail(LastError());
  if (const std::error_code error = WriteAll(handle.get(), bytes)) throw fail(error);
  if (!handle.Close()) throw fail(LastError());
  temporary.Commit();
}

}  // namespace platform
