// Processes on Linux: the process list from /proc, and program starts by a double fork so that
// the started program is never left as an uncollected child of ours (an uncollected child
// would linger in /proc and still be counted as running).
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/utf.h"
#include "platform/error.h"
#include "platform/loader_search.h"
#include "platform/program_path.h"
#include "platform/text.h"

extern char** environ;

namespace platform {
namespace {

constexpr char16_t kCreateFailed[] = u"プロセスの生成に失敗しました";
constexpr char kReadyVariable[] = "QUORVEL_STARTER_READY_FD";
// The descriptor number a started program finds its ready pipe under.
constexpr int kReadyDescriptor = 3;

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

std::string BaseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The state letter of /proc/PID/stat, or 0. The command name in parentheses may itself hold
// ")", so the state follows the last one.
char ProcessState(const std::string& stat) {
  const size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return 0;
  return stat[close + 2];
}

std::optional<std::string> ExecutableFileName(const std::string& proc_dir) {
  char target[4096];
  const ssize_t n = readlink((proc_dir + "/exe").c_str(), target, sizeof target - 1);
  if (n > 0) {
    std::string_view path(target, static_cast<size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) {
      path.remove_suffix(kDeleted.size());
    }
    std::string name = BaseName(path);
    if (!name.empty()) return name;
  }
  if (auto cmdline = ReadWholeFile(proc_dir + "/cmdline"); cmdline && !cmdline->empty()) {
    const std::string argv0 = cmdline->substr(0, cmdline->find('\0'));
    std::string name = BaseName(argv0);
    if (!name.empty()) return name;
  }
  if (auto comm = ReadWholeFile(proc_dir + "/comm"); comm && !comm->empty()) {
    if (comm->back() == '\n') comm->pop_back();
    return *comm;
  }
  return std::nullopt;
}

bool IsExecutableFile(const std::filesystem::path& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return access(path.c_str(), X_OK) == 0;
}

bool HasExtension(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  const size_t dot = name.rfind('.');
  return dot != std::string::npos && dot > 0;
}

// The path itself when it names an executable file, else the path with ".exe" added when its
// name has no extension and that names one.
std::optional<std::filesystem::path> MatchExecutable(const std::filesystem::path& path) {
  if (path.empty()) return std::nullopt;
  if (IsExecutableFile(path)) return path;
  if (!HasExtension(path)) {
    std::filesystem::path with_exe = path;
    with_exe += ".exe";
    if (IsExecutableFile(with_exe)) return with_exe;
  }
  return std::nullopt;
}

void WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    size -= static_cast<size_t>(n);
  }
}

// Reads exactly `size` bytes; false on end of file or error.
bool ReadAll(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Starts `program` with `arguments`, detached from us: an intermediate child forks the
// program and ends at once, so the program is adopted by the system. `ready_fd`, when not
// negative, is handed to the program as descriptor 3 and named in its environment. Returns
// the program's process id, or nothing when it could not be started.
std::optional<int64_t> SpawnDetached(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments, int ready_fd) {
  // Everything the children need is prepared here: between fork and exec only
  // async-signal-safe calls are made.
  const std::string program_text = program.string();
  std::vector<std::string> argument_texts;
  argument_texts.push_back(program_text);
  argument_texts.insert(argument_texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : argument_texts) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> environment_texts;
  const std::string ready_prefix = std::string(kReadyVariable) + "=";
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (std::strncmp(*e, ready_prefix.c_str(), ready_prefix.size()) == 0) continue;
    environment_texts.emplace_back(*e);
  }
  if (ready_fd >= 0) environment_texts.push_back(ready_prefix + std::to_string(kReadyDescriptor));
  std::vector<char*> envp;
  for (auto& e : environment_texts) envp.push_back(e.data());
  envp.push_back(nullptr);

  int pid_pipe[2], error_pipe[2];
  if (pipe2(pid_pipe, O_CLOEXEC) != 0) return std::nullopt;
  Descriptor pid_read(pid_pipe[0]), pid_write(pid_pipe[1]);
  if (pipe2(error_pipe, O_CLOEXEC) != 0) return std::nullopt;
  Descriptor error_read(error_pipe[0]), error_write(error_pipe[1]);

  const pid_t intermediate = fork();
  if (intermediate < 0) return std::nullopt;
  if (intermediate == 0) {
    const pid_t program_pid = fork();
    if (program_pid == 0) {
      setsid();
      sigset_t all;
      sigemptyset(&all);
      sigprocmask(SIG_SETMASK, &all, nullptr);
      struct sigaction default_action;
      std::memset(&default_action, 0, sizeof default_action);
      default_action.sa_handler = SIG_DFL;
      sigaction(SIGPIPE, &default_action, nullptr);
      int first_closed = 3;
      if (ready_fd >= 0) {
        dup2(ready_fd, kReadyDescriptor);  // dup2 leaves the copy open across exec
        first_closed = kReadyDescriptor + 1;
      }
      // Nothing else of ours is inherited.
      if (syscall(SYS_close_range, first_closed, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0) {
        for (int fd = first_closed; fd < 4096; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
      }
      execve(argv[0], argv.data(), envp.data());
      const int error = errno;
      WriteAll(error_pipe[1], &error, sizeof error);
      _exit(127);
    }
    const int64_t reported = program_pid < 0 ? -1 : program_pid;
    WriteAll(pid_pipe[1], &reported, sizeof reported);
    _exit(0);
  }
  pid_write.Reset();
  error_write.Reset();
  int status = 0;
  while (waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
  }
  int64_t program_pid = -1;
  if (!ReadAll(pid_read.get(), &program_pid, sizeof program_pid) || program_pid <= 0) {
    return std::nullopt;
  }
  // The error pipe closes without data when exec succeeds.
  int exec_error = 0;
  if (ReadAll(error_read.get(), &exec_error, sizeof exec_error)) return std::nullopt;
  return program_pid;
}

// The folders of a PATH value in order; an empty entry means the current directory.
std::vector<std::filesystem::path> SplitSearchPath(std::string_view search_path,
                                                   const std::filesystem::path& current) {
  std::vector<std::filesystem::path> folders;
  size_t start = 0;
  while (start <= search_path.size()) {
    size_t colon = search_path.find(':', start);
    if (colon == std::string_view::npos) colon = search_path.size();
    const std::string_view folder = search_path.substr(start, colon - start);
    folders.push_back(folder.empty() ? current : std::filesystem::path(folder));
    start = colon + 1;
  }
  return folders;
}

}  // namespace

std::optional<std::filesystem::path> loader::MatchProgram(const std::filesystem::path& path) {
  return MatchExecutable(path);
}

std::optional<std::vector<ProcessEntry>> SnapshotProcesses() {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return std::nullopt;
  std::vector<ProcessEntry> entries;
  while (const dirent* entry = readdir(proc)) {
    const char* name = entry->d_name;
    if (*name == '\0' || std::strspn(name, "0123456789") != std::strlen(name)) continue;
    const std::string dir = std::string("/proc/") + name;
    const auto stat = ReadWholeFile(dir + "/stat");
    if (!stat) continue;  // ended meanwhile
    const char state = ProcessState(*stat);
    if (state == 'Z' || state == 'X') continue;
    auto file_name = ExecutableFileName(dir);
    if (!file_name) continue;
    entries.push_back(ProcessEntry{std::strtoll(name, nullptr, 10), base::FromUtf8(*file_name)});
  }
  closedir(proc);
  return entries;
}

std::optional<SplitCommandLine> SplitBareCommandLine(std::u16string_view command_line) {
  for (size_t end = 0; end <= command_line.size(); ++end) {
    if (end < command_line.size() && command_line[end] != u' ') continue;
    if (auto program = MatchExecutable(ToPath(command_line.substr(0, end)))) {
      SplitCommandLine split{*program, std::nullopt};
      if (end < command_line.size()) split.argument = std::u16string(command_line.substr(end + 1));
      return split;
    }
  }
  return std::nullopt;
}

int64_t CreateProcessFromCommandLine(std::u16string_view command_line) {
  const auto split = SplitBareCommandLine(command_line);
  if (!split) throw Error(kCreateFailed);
  std::vector<std::string> arguments;
  // An empty rest gives no argument, as a program reading its command line would see none.
  if (split->argument && !split->argument->empty())
    arguments.push_back(base::ToUtf8(*split->argument));
  const auto pid = SpawnDetached(split->program, arguments, -1);
  if (!pid) throw Error(kCreateFailed);
  return *pid;
}

uint32_t WinExecLike(std::u16string_view command_line, ShowState /*show*/, int wait_ms) {
  const size_t blank = command_line.find(u' ');
  const std::u16string_view word = command_line.substr(0, blank);
  std::error_code ignored;
  const std::filesystem::path current = std::filesystem::current_path(ignored);
  const char* path_variable = std::getenv("PATH");
  const auto program =
      FindLoaderProgram(word, ToPath(ProgramDirectory()), current,
                        SplitSearchPath(path_variable != nullptr ? path_variable : "", current));
  if (!program) return kLoaderFileNotFound;
  std::vector<std::string> arguments;
  if (blank != std::u16string_view::npos && blank + 1 < command_line.size()) {
    arguments.push_back(base::ToUtf8(command_line.substr(blank + 1)));
  }

  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return kLoaderFailed;
  Descriptor ready_read(ready[0]);
  // Keep the write end away from the number the program receives it under.
  Descriptor ready_write(fcntl(ready[1], F_DUPFD_CLOEXEC, kReadyDescriptor + 7));
  close(ready[1]);
  if (ready_write.get() < 0) return kLoaderFailed;
  const auto pid = SpawnDetached(*program, arguments, ready_write.get());
  ready_write.Reset();
  if (!pid) return kLoaderFailed;
  // A byte means ready; end of file means the program ended (or closed the descriptor).
  pollfd wait{ready_read.get(), POLLIN, 0};
  while (poll(&wait, 1, wait_ms) < 0 && errno == EINTR) {
  }
  return kLoaderStarted;
}

void NotifyStarterReady() {
  const char* value = std::getenv(kReadyVariable);
  if (value == nullptr) return;
  char* end = nullptr;
  const long fd = std::strtol(value, &end, 10);
  unsetenv(kReadyVariable);
  if (end == value || *end != '\0' || fd < 0 || fd > 65535) return;
  struct stat st;
  if (fstat(static_cast<int>(fd), &st) != 0 || !S_ISFIFO(st.st_mode)) return;
  const char byte = 'R';
  WriteAll(static_cast<int>(fd), &byte, 1);
  close(static_cast<int>(fd));
}

}  // namespace platform
