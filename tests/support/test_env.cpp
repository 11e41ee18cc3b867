#include "tests/support/test_env.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace gistest {
namespace {

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void RestoreEnv(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

bool IsExecutable(const std::filesystem::path& p) { return access(p.c_str(), X_OK) == 0; }

std::optional<std::filesystem::path> FindInPath(const std::string& name) {
  const auto path = GetEnv("PATH").value_or("/usr/bin:/bin");
  size_t start = 0;
  while (start <= path.size()) {
    size_t colon = path.find(':', start);
    if (colon == std::string::npos) colon = path.size();
    const std::filesystem::path candidate =
        std::filesystem::path(path.substr(start, colon - start)) / name;
    if (IsExecutable(candidate)) return candidate;
    start = colon + 1;
  }
  return std::nullopt;
}

bool HasWindowManager(Display* display) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  const bool found =
      XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                         &format, &count, &remaining, &data) == Success &&
      type == XA_WINDOW && count == 1;
  if (data != nullptr) XFree(data);
  return found;
}

bool HasWmState(Display* display, Window window) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  const Atom state = XInternAtom(display, "WM_STATE", False);
  const bool found = XGetWindowProperty(display, window, state, 0, 2, False, state, &type, &format,
                                        &count, &remaining, &data) == Success &&
                     type == state && count >= 1;
  if (data != nullptr) XFree(data);
  return found;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-gis-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

PrivateRuntimeDir::PrivateRuntimeDir(const std::filesystem::path& parent)
    : path_(parent / "run"), old_(GetEnv("XDG_RUNTIME_DIR")) {
  std::filesystem::create_directories(path_);
  chmod(path_.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
}

PrivateRuntimeDir::~PrivateRuntimeDir() { RestoreEnv("XDG_RUNTIME_DIR", old_); }

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), old_(GetEnv(name_.c_str())) {
  RestoreEnv(name_.c_str(), value);
}

ScopedEnv::~ScopedEnv() { RestoreEnv(name_.c_str(), old_); }

Child::Child(const std::filesystem::path& program, const std::vector<std::string>& args,
             const std::vector<std::string>& extra_env) {
  std::vector<std::string> argv_text{program.string()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    bool overridden = false;
    for (const auto& extra : extra_env) {
      if (entry.substr(0, entry.find('=') + 1) == extra.substr(0, extra.find('=') + 1)) {
        overridden = true;
      }
    }
    if (!overridden) env_text.push_back(entry);
  }
  env_text.insert(env_text.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // A test that dies takes its helpers with it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
}

Child::~Child() { Stop(); }

std::optional<int> Child::WaitExit(std::chrono::milliseconds timeout) {
  if (pid_ < 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return status;
    }
    if (r < 0) {
      pid_ = -1;
      return -1;
    }
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void Child::Stop() {
  if (pid_ < 0) return;
  kill(pid_, SIGTERM);
  if (!WaitExit(std::chrono::seconds(5))) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
}

PrivateDisplay::PrivateDisplay(bool window_manager) : old_display_(GetEnv("DISPLAY")) {
  const auto xvfb = FindInPath("Xvfb");
  if (!xvfb) return;
  int fds[2];
  if (pipe(fds) != 0) return;
  // Xvfb writes the display number it chose to descriptor 3.
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(fds[1], 3);
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 1);
    dup2(devnull, 2);
    execl(xvfb->c_str(), "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten",
          "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return;
  }
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number.push_back(c);
  }
  close(fds[0]);
  xvfb_pid_ = pid;
  if (number.empty()) return;
  name_ = ":" + number;
  setenv("DISPLAY", name_.c_str(), 1);
  if (window_manager) {
    const auto openbox = FindInPath("openbox");
    if (!openbox) return;
    manager_ = std::make_unique<Child>(*openbox, std::vector<std::string>{"--sm-disable"});
    Display* display = XOpenDisplay(name_.c_str());
    if (display == nullptr) return;
    // Ready when it manages a window: a mapped probe window receives WM_STATE.
    bool managed = WaitFor([&] { return HasWindowManager(display); });
    if (managed) {
      const Window probe =
          XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
      // A map request that reaches openbox while it is still starting is dropped, so the
      // request is repeated until the window is managed.
      managed = WaitFor([&] {
        XMapWindow(display, probe);
        XSync(display, False);
        return HasWmState(display, probe);
      });
      XDestroyWindow(display, probe);
      XSync(display, False);
    }
    XCloseDisplay(display);
    if (!managed) return;
  }
  ok_ = true;
}

PrivateDisplay::~PrivateDisplay() {
  manager_.reset();
  if (xvfb_pid_ > 0) {
    kill(xvfb_pid_, SIGTERM);
    int status = 0;
    waitpid(xvfb_pid_, &status, 0);
  }
  RestoreEnv("DISPLAY", old_display_);
}

bool ProcessAlive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  const size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return false;
  const char state = text[close + 2];
  return state != 'Z' && state != 'X';
}

int64_t ThisProcessId() { return getpid(); }

bool EndProcess(int64_t pid) {
  kill(static_cast<pid_t>(pid), SIGTERM);
  return WaitFor([&] { return !ProcessAlive(static_cast<pid_t>(pid)); });
}

void MinimizeWindow(uint64_t window) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return;
  XIconifyWindow(display, static_cast<Window>(window), DefaultScreen(display));
  XSync(display, False);
  XCloseDisplay(display);
}

std::optional<std::array<int, 4>> MeasuredFrame(uint64_t /*window*/) { return std::nullopt; }

void PauseBriefly() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

}  // namespace gistest
