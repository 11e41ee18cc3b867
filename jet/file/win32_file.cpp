// The engine's file face on Windows: file handles read and written at an offset given with
// each call (OVERLAPPED), so that no shared file position is needed. A database opened for
// reading lets others read, write, rename and delete it meanwhile; a file this process creates
// lets others read it and move it away, but not write it.
#include <windows.h>

#include <limits>
#include <string>

#include "base/system_error_text.h"
#include "jet/file/file.h"
#include "jet/jet.h"

namespace jet::file {
namespace {

std::u16string PathText(const std::filesystem::path& path) { return path.u16string(); }

std::u16string Reason(DWORD error) { return base::Win32ErrorReason(error); }

// ERROR_ALREADY_EXISTS and ERROR_FILE_EXISTS: the creation found something at the path.
bool IsExists(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// Why a path that is there is still no database, in the words the POSIX face uses.
std::u16string NotRegularFileMessage(const std::filesystem::path& path, std::u16string_view kind) {
  const std::u16string head = u"データベース ファイルを開けません: " + PathText(path);
  if (kind.empty()) return head + u" は通常のファイルではありません。";
  return head + u" は通常のファイルではなく、" + std::u16string(kind) + u"。";
}

// The kind word for a handle of the given file type (GetFileType).
std::u16string_view KindOfType(DWORD type) {
  switch (type) {
    case FILE_TYPE_PIPE:
      return u"名前付きパイプです";
    case FILE_TYPE_CHAR:
      return u"デバイスです";
    default:
      return u"";
  }
}

uint64_t Join(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

FileId IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileId{info.dwVolumeSerialNumber, Join(info.nFileIndexHigh, info.nFileIndexLow)};
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// The largest piece one ReadFile or WriteFile call moves.
constexpr size_t kMaxPiece = 1u << 30;

DWORD PieceSize(size_t remaining) {
  return static_cast<DWORD>(remaining < kMaxPiece ? remaining : kMaxPiece);
}

class Win32File : public WritableFile {
 public:
  Win32File(HANDLE handle, std::filesystem::path path, FileId id)
      : handle_(handle), path_(std::move(path)), id_(id) {}
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  size_t ReadAt(uint64_t offset, std::span<uint8_t> out) override {
    size_t done = 0;
    while (done < out.size()) {
      OVERLAPPED at = At(offset + done);
      DWORD n = 0;
      if (!::ReadFile(handle_, out.data() + done, PieceSize(out.size() - done), &n, &at)) {
        const DWORD error = ::GetLastError();
        // Reading at or past the end: fewer bytes, no failure.
        if (error == ERROR_HANDLE_EOF) break;
        throw Error(u"データベース ファイルを読めません: " + PathText(path_) + u" (" +
                    Reason(error) + u")");
      }
      if (n == 0) break;
      done += n;
    }
    return done;
  }

  uint64_t Size() const override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle_, &size) || size.QuadPart < 0) return 0;
    return static_cast<uint64_t>(size.QuadPart);
  }

  uint64_t ChangeStamp() const override {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle_, &info)) return 0;
    // The last-write time counts 100-nanosecond steps; mixed with the length as on POSIX.
    const uint64_t ticks =
        Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    const uint64_t size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    return ticks ^ (size * 0x9E3779B97F4A7C15u);
  }

  void WriteAt(uint64_t offset, std::span<const uint8_t> data) override {
    size_t done = 0;
    while (done < data.size()) {
      OVERLAPPED at = At(offset + done);
      DWORD n = 0;
      if (!::WriteFile(handle_, data.data() + done, PieceSize(data.size() - done), &n, &at)) {
        throw Error(u"データベースファイルに書き込めません: " + Reason(::GetLastError()));
      }
      if (n == 0)
        throw Error(u"データベースファイルに書き込めません: " + Reason(ERROR_WRITE_FAULT));
      done += n;
    }
  }

  void Truncate(uint64_t size) override {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(size);
    if (size > static_cast<uint64_t>(std::numeric_limits<LONGLONG>::max()) ||
        !::SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle_)) {
      throw Error(u"データベースファイルを切り詰められません: " + PathText(path_) + u" (" +
                  Reason(::GetLastError()) + u")");
    }
  }

  void Sync() override {
    if (!::FlushFileBuffers(handle_)) {
      throw Error(u"データベースファイルをディスクに書き込めません: " + PathText(path_) + u" (" +
                  Reason(::GetLastError()) + u")");
    }
  }

  FileId id() const override { return id_; }

  void RemoveCreated() noexcept override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    // The name is opened for deletion itself (a link as the link, as lstat does), and what it
    // reaches is marked for deletion through that same handle only when it is the file this
    // object created: nothing put at the name in between can be deleted instead.
    const HANDLE named = ::CreateFileW(
        path_.c_str(), DELETE | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(named, &info) && IdOf(info) == id_) {
      FILE_DISPOSITION_INFO dispose{};
      dispose.DeleteFile = TRUE;
      ::SetFileInformationByHandle(named, FileDispositionInfo, &dispose, sizeof dispose);
    }
    ::CloseHandle(named);
  }

 private:
  HANDLE handle_;
  std::filesystem::path path_;
  FileId id_;
};

}  // namespace

std::unique_ptr<ReadableFile> OpenShared(const std::filesystem::path& path) {
  const auto refuse = [&](DWORD error) {
    return Error(u"データベース ファイルを開けません: " + PathText(path) + u" (" + Reason(error) +
                 u")");
  };
  // Opening never waits: a named pipe with no free instance fails at once, and no read is
  // made before the kind of what was opened is known. A folder cannot be opened this way at
  // all (it needs backup semantics), so its refusal is told apart afterwards.
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      throw Error(NotRegularFileMessage(path, u"フォルダーです"));
    }
    throw refuse(error);
  }
  const DWORD type = ::GetFileType(handle);
  if (type != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    throw Error(NotRegularFileMessage(path, KindOfType(type)));
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) {
    // A disk volume or another device object that is no file.
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION) {
      throw Error(NotRegularFileMessage(path, u"デバイスです"));
    }
    throw refuse(error);
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::CloseHandle(handle);
    throw Error(NotRegularFileMessage(path, u"フォルダーです"));
  }
  return std::make_unique<Win32File>(handle, path, IdOf(info));
}

std::unique_ptr<WritableFile> CreateExclusive(const std::filesystem::path& path) {
  // CREATE_NEW refuses anything already at the path (file, folder, link), so nothing that
  // exists is ever touched. The engine keeps a file it created open for as long as the process
  // runs, so the handle shares everything, as a file descriptor does on POSIX: the file can be
  // flushed and renamed into place by the code that asked for it (an import builds under a
  // temporary name), and moved or deleted by others.
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    // A folder at the path refuses the creation with "access denied" rather than "exists".
    if (error == ERROR_ACCESS_DENIED &&
        ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      error = ERROR_ALREADY_EXISTS;
    }
    const std::u16string why =
        IsExists(error) ? u"同じ名前のファイルまたはフォルダが既にあります" : Reason(error);
    throw Error(u"データベースを作成できません: " + PathText(path) + u" (" + why + u")");
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) {
    // The handle is the file this call created, so its name is removed with it.
    FILE_DISPOSITION_INFO dispose{};
    dispose.DeleteFile = TRUE;
    ::SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose);
    ::CloseHandle(handle);
    throw Error(u"データベースファイルの情報を取得できません");
  }
  return std::make_unique<Win32File>(handle, path, IdOf(info));
}

std::optional<RegularFileStatus> StatusOfRegularFile(const std::filesystem::path& path) {
  // Attributes only: no access to the contents is asked, so any sharing allows it. Backup
  // semantics let a folder open too, so that it is recognised and refused.
  const HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool regular = ::GetFileType(handle) == FILE_TYPE_DISK &&
                       ::GetFileInformationByHandle(handle, &info) &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  ::CloseHandle(handle);
  if (!regular) return std::nullopt;
  return RegularFileStatus{IdOf(info), Join(info.nFileSizeHigh, info.nFileSizeLow)};
}

int64_t LocalUtcOffsetSeconds(int64_t unix_seconds) {
  // FILETIME counts 100-nanosecond steps from 1601-01-01 UTC, 11644473600 s before 1970.
  constexpr int64_t kEpochDifference = 11644473600;
  constexpr int64_t kTicksPerSecond = 10000000;
  if (unix_seconds < -kEpochDifference ||
      unix_seconds > std::numeric_limits<int64_t>::max() / kTicksPerSecond - kEpochDifference) {
    return 0;
  }
  const auto ticks = static_cast<uint64_t>((unix_seconds + kEpochDifference) * kTicksPerSecond);
  FILETIME utc_file{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  FILETIME local_file{};
  // The time zone's rules for the year of that moment (daylight saving time included), not
  // only this year's.
  TIME_ZONE_INFORMATION zone{};
  if (!::FileTimeToSystemTime(&utc_file, &utc) ||
      !::GetTimeZoneInformationForYear(utc.wYear, nullptr, &zone) ||
      !::SystemTimeToTzSpecificLocalTime(&zone, &utc, &local) ||
      !::SystemTimeToFileTime(&local, &local_file)) {
    return 0;
  }
  const uint64_t local_ticks = Join(local_file.dwHighDateTime, local_file.dwLowDateTime);
  // Both counts are below 2^63 (the range check above), so the difference is exact.
  return (static_cast<int64_t>(local_ticks) - static_cast<int64_t>(ticks)) / kTicksPerSecond;
}

}  // namespace jet::file
