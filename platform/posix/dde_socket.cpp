// The socket folder, endpoint names, peer check and wire form of DDE on POSIX.
#include "platform/posix/dde_socket.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include "base/fold.h"
#include "base/utf.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/system_error.h"
#include "platform/text.h"

namespace platform::dde {

namespace {

// The value of an environment variable naming a folder, or nothing when it is unset, empty or
// not absolute (such values are to be ignored).
std::optional<std::filesystem::path> FolderFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value != '/') return std::nullopt;
  return std::filesystem::path(value);
}

// The user's home: $HOME, else the password database's entry; empty when neither names one.
std::filesystem::path HomeFolder() {
  if (auto home = FolderFromEnvironment("HOME")) return *home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr || found->pw_dir[0] != '/') {
    return {};
  }
  return std::filesystem::path(found->pw_dir);
}

// Makes the missing folders of an absolute path, each with mode 0700, as a fresh home's cache
// folder is made. Existing folders are left as they are.
void MakeMissingFolders(const std::filesystem::path& path) {
  std::filesystem::path partial;
  for (const auto& part : path) {
    partial /= part;
    struct stat st {};
    if (stat(partial.c_str(), &st) == 0) continue;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      throw SystemError(u"DDE の通信用フォルダの置き場所を作成できません: " + FromPath(partial),
                        errno);
    }
  }
}

// Whether only the user (and root) can add names to a folder, so that nobody else can take the
// socket folder's name before the user does. A link to such a folder counts as the folder.
// Group write is allowed only for the user's own primary group.
bool OnlyUserCanAddNames(const std::filesystem::path& dir) {
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != getuid() && st.st_uid != 0) return false;
  if ((st.st_mode & S_IWOTH) != 0) return false;
  return (st.st_mode & S_IWGRP) == 0 || st.st_gid == getgid();
}

}  // namespace

std::filesystem::path EndpointDirectory() {
  if (auto runtime = FolderFromEnvironment("XDG_RUNTIME_DIR")) return *runtime / "dde";
  // Without a runtime folder the sockets live in the user's cache folder, never in a shared
  // temporary folder where another user could take the name first.
  if (auto cache = FolderFromEnvironment("XDG_CACHE_HOME")) return *cache / "dde";
  const std::filesystem::path home = HomeFolder();
  if (home.empty()) return {};
  return home / ".cache" / "dde";
}

std::filesystem::path EndpointPath(std::u16string_view service, std::u16string_view topic) {
  // Names go to the code page first, as DDE string handles do, then to file-name bytes.
  const std::u16string s = FromCodePage932(ToCodePage932(service));
  const std::u16string t = FromCodePage932(ToCodePage932(topic));
  return EndpointDirectory() / base::AsciiLower(base::ToUtf8(s) + "." + base::ToUtf8(t));
}

void EnsureEndpointDirectory() {
  const std::filesystem::path dir = EndpointDirectory();
  if (dir.empty()) throw Error(u"DDE の通信用フォルダの置き場所がありません。");
  const std::filesystem::path parent = dir.parent_path();
  MakeMissingFolders(parent);
  if (!OnlyUserCanAddNames(parent)) {
    throw Error(u"DDE の通信用フォルダの置き場所が安全ではありません: " + FromPath(parent));
  }
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    throw SystemError(u"DDE の通信用フォルダを作成できません: " + FromPath(dir), errno);
  }
  if (!DirectoryIsPrivate(dir)) {
    throw Error(u"DDE の通信用フォルダが安全ではありません: " + FromPath(dir));
  }
}

bool DirectoryIsPrivate(const std::filesystem::path& dir) {
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

bool PeerIsSameUser(int fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
  return credentials.uid == getuid();
}

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t GetU32(const char* bytes) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

std::string ExecuteFrame(std::string_view data, uint32_t format) {
  std::string frame;
  frame.reserve(kFrameHeader + data.size());
  frame.push_back(kExecuteTag);
  PutU32(frame, format);
  PutU32(frame, static_cast<uint32_t>(data.size()));
  frame.append(data);
  return frame;
}

}  // namespace platform::dde
