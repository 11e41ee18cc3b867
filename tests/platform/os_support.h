// What the platform tests need of the operating system itself: a scratch folder, process ids
// and starting a program. Tests may call the system directly; this keeps the two systems' forms
// side by side.
#ifndef QUORVEL_TESTS_PLATFORM_OS_SUPPORT_H_
#define QUORVEL_TESTS_PLATFORM_OS_SUPPORT_H_

#ifdef _WIN32
#include <windows.h>
// windows.h names its own WriteProfileString as a macro; platform::WriteProfileString is meant.
#undef WriteProfileString
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform_test {

constexpr bool kWindows =
#ifdef _WIN32
    true;
#else
    false;
#endif

// True when the program runs under Wine rather than Windows: where Wine is known to differ from
// Windows, a test expects Wine's own result there.
inline bool UnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// A new empty folder in the temporary folder, named after `prefix`.
inline std::filesystem::path MakeScratchFolder(const std::string& prefix) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(random()));
    if (std::filesystem::create_directory(path)) return path;
  }
  throw std::runtime_error("no scratch folder");
}

inline int64_t CurrentProcessId() {
#ifdef _WIN32
  return static_cast<int64_t>(::GetCurrentProcessId());
#else
  return static_cast<int64_t>(::getpid());
#endif
}

// Runs `program` with `arguments` and the environment of this process plus `extra_environment`
// ("NAME=value"), waits for it and returns its process id; sets `exit_code` (-1 when it did not
// end by itself).
inline int64_t RunProgram(const std::filesystem::path& program,
                          const std::vector<std::string>& arguments,
                          const std::string& extra_environment, int& exit_code) {
  exit_code = -1;
#ifdef _WIN32
  std::wstring command = L"\"" + program.native() + L"\"";
  for (const std::string& argument : arguments) {
    command += L" " + std::filesystem::path(argument).native();
  }
  const size_t equals = extra_environment.find('=');
  const std::wstring name = std::filesystem::path(extra_environment.substr(0, equals)).native();
  if (equals != std::string::npos) {
    const std::wstring value =
        std::filesystem::u8path(extra_environment.substr(equals + 1)).native();
    ::SetEnvironmentVariableW(name.c_str(), value.c_str());
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &process);
  if (equals != std::string::npos) ::SetEnvironmentVariableW(name.c_str(), nullptr);
  if (!started) return 0;
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (::GetExitCodeProcess(process.hProcess, &code)) exit_code = static_cast<int>(code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int64_t>(process.dwProcessId);
#else
  std::vector<char*> environment;
  for (char** e = environ; *e != nullptr; ++e) environment.push_back(*e);
  std::string extra = extra_environment;
  if (!extra.empty()) environment.push_back(extra.data());
  environment.push_back(nullptr);
  std::vector<std::string> strings = {program.string()};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environment.data()) !=
      0) {
    return 0;
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status)) exit_code = WEXITSTATUS(status);
  return child;
#endif
}

// The id of a process that has ended (its id is free until the system gives it again).
inline int64_t EndedProcessId() {
  int exit_code = 0;
#ifdef _WIN32
  wchar_t system[MAX_PATH] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  return RunProgram(std::filesystem::path(system) / L"cmd.exe", {"/c", "exit"}, "", exit_code);
#else
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  (void)exit_code;
  return child;
#endif
}

}  // namespace platform_test

#endif  // QUORVEL_TESTS_PLATFORM_OS_SUPPORT_H_
