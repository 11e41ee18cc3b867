// What the GIS tests need around real processes: private folders, a private DDE socket
// folder, a private X server (with a window manager when asked), child processes that are
// always collected, and the stand-in programs' logs. test_env_common.cpp holds what is the
// same on every system, test_env.cpp the POSIX part and test_env_win32.cpp the Windows part
// (where DDE endpoints and windows belong to the session, so the private folder and display
// change nothing).
#ifndef QUORVEL_TESTS_GIS_SUPPORT_TEST_ENV_H_
#define QUORVEL_TESTS_GIS_SUPPORT_TEST_ENV_H_

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gistest {

// A fresh folder removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Points XDG_RUNTIME_DIR at a folder of its own, so that DDE endpoints of this test never meet
// those of tests running at the same time. Restores the old value at the end.
class PrivateRuntimeDir {
 public:
  explicit PrivateRuntimeDir(const std::filesystem::path& parent);
  ~PrivateRuntimeDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::optional<std::string> old_;
};

// Sets (or, given nothing, unsets) one environment variable while it lives; restores the old
// value at the end.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A child process of the test: started with fork/exec, ended (SIGTERM, then SIGKILL) and
// collected by the destructor.
class Child {
 public:
  // `extra_env` entries ("NAME=value") override the inherited environment.
  Child(const std::filesystem::path& program, const std::vector<std::string>& args,
        const std::vector<std::string>& extra_env = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  pid_t pid() const { return pid_; }
  // Waits for the child to end by itself; its exit status, or nothing on time-out.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);
  void Stop();

 private:
  pid_t pid_ = -1;
  void* process_ = nullptr;  // Windows: the process handle, kept until the child is collected
};

// A private X server (Xvfb on a free display number), optionally with openbox. Sets DISPLAY
// while it lives. ok() is false when Xvfb is not installed or did not start.
class PrivateDisplay {
 public:
  explicit PrivateDisplay(bool window_manager);
  ~PrivateDisplay();
  bool ok() const { return ok_; }
  const std::string& name() const { return name_; }

 private:
  pid_t xvfb_pid_ = -1;
  std::unique_ptr<Child> manager_;
  std::optional<std::string> old_display_;
  std::string name_;
  bool ok_ = false;
};

// Waits about 20 ms. On Windows the thread's messages are handled meanwhile: a DDE client
// instance of the test has a window, and other programs' DDE connection requests are sent to
// every top-level window and wait for each to answer.
void PauseBriefly();

// Polls `condition` every 20 ms until it holds or `timeout` passes, pausing as above.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Whether a process with this id exists and has not ended (zombies count as ended).
bool ProcessAlive(pid_t pid);

// The test's own process id.
int64_t ThisProcessId();

// Ends a process that is not a child of the test (SIGTERM on POSIX, TerminateProcess on
// Windows) and waits up to 10 s for it to be gone. Whether it is gone.
bool EndProcess(int64_t pid);

// Minimises a top-level window the way a user does (on X11 through the window manager).
void MinimizeWindow(uint64_t window);

// The frame around a top-level window as measured from its outer and client rectangles
// (left, right, top, bottom), on Windows; nothing on X11, where the frame belongs to the
// window manager and is told rather than measured.
std::optional<std::array<int, 4>> MeasuredFrame(uint64_t window);

// One line of a stand-in's log, split at tabs, with \t \n \r \\ undone.
using LogRecord = std::vector<std::string>;
std::vector<LogRecord> ReadLog(const std::filesystem::path& file);
// The records whose first field is `kind`.
std::vector<LogRecord> RecordsOf(const std::vector<LogRecord>& log, const std::string& kind);

// A fresh start of the GIS stand-in runs two copies: the one started with the project and the
// one the DDE channel's start attempt runs. Whichever takes the endpoint second hands its
// project to the first and ends, so the project arrives as one command or as two, in either
// order. True once the start has settled: one copy left, every other copy ended, and at least
// one command arrived, each of them opening `project`.
bool FreshStartSettled(const std::vector<LogRecord>& log, const std::string& project);

// The built stand-ins.
std::filesystem::path QuorvelStubPath();
std::filesystem::path UpdaterStubPath();

// Copies a file keeping its permissions; the copy is a new file (not a link), so that the
// process image carries the copy's name.
void CopyExecutable(const std::filesystem::path& from, const std::filesystem::path& to);

std::string ToHex(std::string_view bytes);

}  // namespace gistest

#endif  // QUORVEL_TESTS_GIS_SUPPORT_TEST_ENV_H_
