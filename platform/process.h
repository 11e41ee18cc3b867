// Processes: the system's process list, starting a program from a bare command line, and
// starting a program by name the way a program-loader command does.
#ifndef QUORVEL_PLATFORM_PROCESS_H_
#define QUORVEL_PLATFORM_PROCESS_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One process of the system as the snapshot sees it.
struct ProcessEntry {
  int64_t process_id = 0;
  // The file name of the process image without any directory.
  std::u16string exe_file;
};

// A point-in-time list of every live process of the system (processes that have ended but
// were not yet collected by their parent are left out), or nothing when no list can be had.
std::optional<std::vector<ProcessEntry>> SnapshotProcesses();

// How a bare command line names its program: the shortest prefix ending at a blank (U+0020),
// or else the whole line, that names an executable regular file is the program; a prefix
// whose file name has no extension also matches that name with ".exe" added (on Windows it
// matches only with ".exe" added, as CreateProcessW resolves it, and a bare name is searched
// for where CreateProcessW searches). The rest of the line after that one blank is the single
// argument.
struct SplitCommandLine {
  std::filesystem::path program;
  std::optional<std::u16string> argument;  // nothing when the whole line names the program
};
std::optional<SplitCommandLine> SplitBareCommandLine(std::u16string_view command_line);

// Starts the program of a bare command line (split as above) with the caller's environment
// and current directory and no inherited file descriptors besides the standard three. The
// new process is not a child the caller has to collect. Returns its process id. Raises
// platform::Error "プロセスの生成に失敗しました" when no program is named or it cannot be
// started.
int64_t CreateProcessFromCommandLine(std::u16string_view command_line);

// Show states a program-loader command is given; window placement is the started program's
// business on this platform, so the value is carried for the caller's record only.
enum class ShowState { kShowNormal = 1, kShowMinNoActive = 7 };

// Finds the program a loader command line starts: its first word (up to the first blank),
// as given and with ".exe" added, in `program_directory`, then `current_directory`, then
// each folder of `search_folders` in order (empty entries are skipped). A word with a "/" (or,
// on Windows, a "\\") is taken as a path instead. On Windows a word without an extension only
// matches with ".exe" added, and file names compare without regard to case.
std::optional<std::filesystem::path> FindLoaderProgram(
    std::u16string_view word, const std::filesystem::path& program_directory,
    const std::filesystem::path& current_directory,
    const std::vector<std::filesystem::path>& search_folders);

// Result codes of WinExecLike: 32 and above mean the program was started.
inline constexpr uint32_t kLoaderStarted = 33;
inline constexpr uint32_t kLoaderFileNotFound = 2;
inline constexpr uint32_t kLoaderFailed = 0;

// Starts the first word of `command_line` (found by FindLoaderProgram in the program
// directory, the current directory and PATH) with the rest of the line after one blank as its
// one argument. Returns when the started program reports that its DDE endpoint is ready
// (NotifyStarterReady), when it ends, or after `wait_ms` milliseconds. On Windows this is
// WinExec, and ready means the program first waits for messages (WaitForInputIdle).
uint32_t WinExecLike(std::u16string_view command_line, ShowState show, int wait_ms = 5000);

// Called by a started program once it can take requests: tells a waiting WinExecLike to
// return. Does nothing when the program was not started that way. Safe to call repeatedly.
void NotifyStarterReady();

}  // namespace platform

#endif  // QUORVEL_PLATFORM_PROCESS_H_
