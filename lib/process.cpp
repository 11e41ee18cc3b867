#include "lib/process.h"

#include "base/fold.h"
#include "platform/process.h"
#include "platform/window.h"

namespace tclib {

int32_t CountNamesMatching(std::u16string_view name, const std::vector<std::u16string>& names) {
  const std::u16string wanted = base::AsciiUpper(name);
  int32_t count = 0;
  for (const auto& candidate : names) {
    if (base::AsciiUpper(candidate) == wanted) ++count;
  }
  return count;
}

int32_t CountProcessesByName(std::u16string_view name) {
  try {
    const auto snapshot = platform::SnapshotProcesses();
    if (!snapshot) return 0;
    std::vector<std::u16string> names;
    names.reserve(snapshot->size());
    for (const auto& entry : *snapshot) names.push_back(entry.exe_file);
    return CountNamesMatching(name, names);
  } catch (...) {
    return 0;  // no process list: the program counts as not running
  }
}

std::u16string LaunchCommandLine(std::u16string_view executable_path,
                                 std::u16string_view argument) {
  std::u16string line(executable_path);
  line += u' ';
  line += argument;
  return line;
}

void LaunchOrActivate(std::u16string_view executable_path, std::u16string_view argument,
                      std::u16string_view window_title) {
  if (const platform::WindowHandle found = platform::FindTopLevelWindow(window_title)) {
    // The owner is acted on, never the found window itself; without an owner nothing
    // visible happens, and still nothing is started.
    const platform::WindowHandle owner = platform::GetOwnerWindow(found);
    if (owner != 0) {
      if (platform::IsWindowMinimized(owner)) platform::RestoreWindow(owner);
      platform::BringWindowToForeground(owner);
    }
    return;
  }
  platform::CreateProcessFromCommandLine(LaunchCommandLine(executable_path, argument));
}

}  // namespace tclib
